// The worker owns the compiler and the machine. The page sends plain requests
// {id, type, ...} and gets plain answers {id, ...}; a long run can only be ended by
// terminating the worker.
import { load } from './tov.mjs';
import { Recording } from './record.js';

// A Run executes in one call of the machine's loop, and the browser runs new WebAssembly
// code unoptimised at first, optimising a function for its later calls only: a few short
// runs at load, off the page's thread, make the first Run as fast as the next ones.
const warm = 'VAR i: INTEGER; BEGIN WHILE TRUE DO i := i + 1 END END.';
const ready = load().then((t) => {
  for (let k = 0; k < 4; ++k) t.run(['-x', 'p.tov'], '', { 'p.tov': warm }, { limit: 50000, keep: 0 });
  return t;
});
let tov = null;
let rec = null;           // the recording of the stepped machine
const decoder = new TextDecoder('latin1');
// The most of each stream a Run keeps (a run of 10 million traced commands writes about
// 600 MB); the rest is cut, and a download runs the program again for the whole.
const keep = 16 << 20;

const handlers = {
  // The program's constants and names, which the page asks for once.
  constants() {
    return tov.constants;
  },

  compile({ source }) {
    return tov.compile(source);
  },

  // Runs the program as `tov -x` does, at most `limit` commands; a run-time error
  // comes back with the command that failed, from the same run.
  // where the listing and the generator trace end come from the same run.
  run({ source, limit }) {
    const r = tov.run(['-x', 'p.tov'], '', { 'p.tov': source }, { limit, keep });
    return {
      status: r.status, end: r.end, stdout: r.stdout, stderr: r.stderr, limited: r.limited, steps: r.steps,
      stdoutLength: r.stdoutLength, stderrLength: r.stderrLength,
      listingLength: r.listingLength, traceLength: r.traceLength, failPc: r.failPc,
      output: decoder.decode(r.stdout.subarray(r.listingLength)),
      error: r.failPc === null ? null : lastLine(r.stderrTail.length ? r.stderrTail : r.stderr),
    };
  },

  // One stream of the same Run whole, as a Blob, which the browser may keep out of the
  // page's memory.
  whole({ source, limit, stream }) {
    const parts = [];
    tov.run(['-x', 'p.tov'], '', { 'p.tov': source }, { limit, keep: 0,
      onBytes: (s, view) => { if (s === stream) parts.push(new Blob([view.slice()])); } });
    return new Blob(parts, { type: 'text/plain' });
  },

  // The stepped machine: a recording of one run that the page moves through.
  record({ source, limit }) {
    const m = tov.machine(source, limit);
    rec = m ? new Recording(m) : null;
    return rec ? rec.state(0) : null;
  },
  goto({ step }) { return rec ? rec.state(step) : null; },
  // One search of the recording from state `from`, as {machine, found}: the state found,
  // or (found false) the last state, or with `stay` the state `from` again. `by` is
  // 'line' (the next source line; `back`: the one before), 'break' (the next breakpoint:
  // the addresses `adrs`, the lines `breakLines`), 'adrs' (the next command at one of
  // `adrs`) or 'cell' (the next change of cell `cell`, which only the commands at `adrs`
  // touch). `lines` gives the source line of each address of the store (0: none).
  search({ from, by, back = false, stay = false, adrs = [], lines = [], breakLines = [], cell = 0 }) {
    if (!rec) return null;
    const at = mask(adrs, lines.length);
    let j;
    if (by === 'line') j = back ? rec.prevLine(from, lines) : rec.nextLine(from, lines);
    else if (by === 'break') j = rec.nextBreak(from, at, mask(breakLines, lines.reduce((a, b) => Math.max(a, b), 0) + 1), lines);
    else if (by === 'adrs') j = rec.nextBreak(from, at, new Uint8Array(0), lines);
    else j = rec.nextChange(from, cell, at);
    const found = j >= 0;
    return { machine: rec.state(found ? j : stay ? from : back ? 0 : rec.n), found };
  },
  // The states' pcs and how the run ended, for the traces' filters.
  history() { return rec ? rec.history() : null; },
  // The execution trace lines of the states `steps`, as the machine writes them.
  traceLines({ steps }) { return rec ? rec.lines(steps) : null; },
};

// A mask of the numbers `list` below `size`.
function mask(list, size) {
  const m = new Uint8Array(size);
  for (const k of list) if (k >= 0 && k < size) m[k] = 1;
  return m;
}

// The last line of a stream's bytes (the error line at the end of a failed run).
function lastLine(bytes) {
  let end = bytes.length - 2;
  let at = end;
  while (at > 0 && bytes[at - 1] !== 10) at--;
  return decoder.decode(bytes.subarray(at, Math.max(at, end)));
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
