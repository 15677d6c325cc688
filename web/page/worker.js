// The worker owns the compiler and the machine. The page sends plain requests
// {id, type, ...} and gets plain answers {id, ...}; a long run can only be ended by
// terminating the worker.
import { load } from './tov.mjs';
import { Recording } from './record.js';

const ready = load();
let tov = null;
let rec = null;           // the recording of the stepped machine
const decoder = new TextDecoder('latin1');

const handlers = {
  compile({ source }) {
    return tov.compile(source);
  },

  // Runs the program as `tov -x` does, at most `limit` commands. A run-time error is
  // found again on a machine, which tells the command that failed.
  run({ source, limit }) {
    const compiled = tov.compile(source);
    const r = tov.run(['-x', 'p.tov'], '', { 'p.tov': source }, { limit });
    const result = texts(r, compiled);
    if (compiled.ok && r.status !== 0 && !r.limited) {
      const m = tov.machine(source, limit);
      m.step(limit);
      result.error = m.error;
      result.failPc = m.failPc;
    }
    return result;
  },

  // The stepped machine: a recording of one run that the page moves through.
  record({ source, limit }) {
    const m = tov.machine(source, limit);
    rec = m ? new Recording(m) : null;
    return rec ? rec.state(0) : null;
  },
  goto({ step }) { return rec ? rec.state(step) : null; },
  // The first step after `from` at which the pc is one of `adrs`, or the last step.
  until({ from, adrs }) { return rec ? rec.state(rec.find(from, new Set(adrs))) : null; },
  history() { return rec ? rec.history() : null; },
};

// The console's streams of a run as bytes, which go to the page without a copy, and
// where their parts end: the program's output follows the listing on stdout, the
// execution trace follows the generator's on stderr.
function texts(r, compiled) {
  const listingLength = compiled.ok ? compiled.listing.length : 0;
  return {
    status: r.status, stdout: r.stdout, stderr: r.stderr, limited: r.limited, steps: r.steps,
    listingLength, traceLength: compiled.ok ? compiled.trace.length : 0,
    output: decoder.decode(r.stdout.subarray(listingLength)), error: null, failPc: null,
  };
}

self.onmessage = async (e) => {
  const msg = e.data;
  try {
    tov ??= await ready;
    const result = handlers[msg.type](msg);
    const streams = result?.stdout instanceof Uint8Array ? [result.stdout.buffer, result.stderr.buffer] : [];
    self.postMessage({ id: msg.id, result }, streams);
  } catch (err) {
    self.postMessage({ id: msg.id, failure: String(err && err.message || err) });
  }
};
