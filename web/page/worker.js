// The worker owns the compiler and the machine. The page sends plain requests
// {id, type, ...} and gets plain answers {id, ...}; a long run posts progress and can
// only be ended by terminating the worker.
import { Recording } from './record.js';

const ready = import(new URL('tov.mjs', self.location.href).href).then((m) => m.load());
let tov = null;
let rec = null;           // the recording of the stepped machine
const decoder = new TextDecoder();

const handlers = {
  compile({ source }) {
    return tov.compile(source);
  },

  // Runs the program as `tov -x` does, but at most `limit` commands: the machine runs
  // first; only a program that ends within the limit is run again for the console's texts.
  run({ id, source, limit }) {
    const compiled = tov.compile(source);
    if (!compiled.ok) return texts(tov.run(['p.tov'], '', { 'p.tov': source }), compiled, null);
    const end = storeLength(compiled.commands);
    const m = tov.machine(source, limit);
    let shown = performance.now();
    while (m.steps < limit && !m.done) {
      m.step(Math.min(200000, limit - m.steps));
      if (performance.now() - shown > 100) {
        shown = performance.now();
        self.postMessage({ id, progress: m.steps });
      }
    }
    if (m.error === null && m.pc < end) {
      return {
        limited: true, steps: m.steps, output: m.output, status: null,
        stdout: compiled.listing + m.output, stderr: compiled.trace, listing: compiled.listing,
        trace: compiled.trace, execTrace: '', error: null, failPc: null,
      };
    }
    return texts(tov.run(['-x', 'p.tov'], '', { 'p.tov': source }), compiled, m);
  },

  // The stepped machine: a recording of one run that the page moves through.
  record({ source, limit }) {
    const compiled = tov.compile(source);
    if (!compiled.ok) { rec = null; return null; }
    rec = new Recording(tov.machine(source, limit), compiled, limit);
    return rec.state(0);
  },
  goto({ step }) { return rec ? rec.state(step) : null; },
  // The first step after `from` at which the pc is one of `adrs`, or the last step.
  until({ from, adrs }) { return rec ? rec.state(rec.find(from, new Set(adrs))) : null; },
  history() { return rec ? rec.history() : null; },
};

function storeLength(commands) {
  const last = commands[commands.length - 1];
  return last ? last.adr + last.bytes.length : 0;
}

// The console's texts of a run, and the parts a reader asks for: the program's output
// follows the listing on stdout, the execution trace follows the generator's on stderr.
function texts(r, compiled, m) {
  const stdout = decoder.decode(r.stdout), stderr = decoder.decode(r.stderr);
  const ok = compiled.ok;
  return {
    status: r.status, stdout, stderr, limited: false, steps: m ? m.steps : 0,
    listing: compiled.listing, trace: compiled.trace,
    output: ok ? stdout.slice(compiled.listing.length) : '',
    execTrace: ok ? stderr.slice(compiled.trace.length) : '',
    error: m ? m.error : null, failPc: m && m.error !== null ? m.failPc : null,
  };
}

self.onmessage = async (e) => {
  const msg = e.data;
  try {
    tov ??= await ready;
    self.postMessage({ id: msg.id, result: handlers[msg.type](msg) });
  } catch (err) {
    self.postMessage({ id: msg.id, failure: String(err && err.message || err) });
  }
};
