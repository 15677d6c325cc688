// tov as an ES module: the console program compiled to WebAssembly, with the
// same bytes out for the same arguments and input, and the structured results
// that the page shows. See docs/module.md.
import createTov from './tov-core.mjs';

const latin = new TextDecoder('latin1');
const utf8 = new TextEncoder();

// The end of a run: thrown by the program's exit, caught by the caller here.
class End {
  constructor(status) {
    this.status = status;
  }
}

// Collects the bytes of one stream, the program flushing in blocks of 64 KiB: the
// first `keep` bytes, the last block, and the length of the whole. A bounded stream
// goes straight into one buffer of `keep` bytes, whose pages cost nothing until
// written: a block then costs one copy.
class Bytes {
  constructor(keep = Infinity) {
    this.parts = [];
    this.all = null;
    this.kept = 0;
    this.keep = keep;
    this.length = 0;
    this.last = null;
  }
  add(view) {
    if (this.kept < this.keep) {
      const n = Math.min(view.length, this.keep - this.kept);
      if (this.keep === Infinity) this.parts.push(view.slice(0, n));
      else (this.all ??= new Uint8Array(this.keep)).set(view.subarray(0, n), this.kept);
      this.kept += n;
    }
    if (this.length + view.length > this.keep) {
      // one buffer for the last block, reused: a long run would otherwise make garbage
      // of every block it writes past `keep`
      if (!this.last || this.last.buffer.byteLength < view.length) this.last = new Uint8Array(Math.max(view.length, 1 << 16));
      this.last = new Uint8Array(this.last.buffer, 0, view.length);
      this.last.set(view);
    }
    this.length += view.length;
  }
  bytes() {
    if (this.keep !== Infinity) return this.all ? this.all.subarray(0, this.kept) : new Uint8Array(0);
    const all = new Uint8Array(this.kept);
    let at = 0;
    for (const p of this.parts) {
      all.set(p, at);
      at += p.length;
    }
    return all;
  }
  // The bytes after the kept ones that the last block holds (none when the stream
  // is whole).
  tail() {
    if (this.length <= this.keep) return new Uint8Array(0);
    return this.last.subarray(Math.max(0, this.last.length - (this.length - this.keep)));
  }
}

function toBytes(x) {
  return typeof x === 'string' ? utf8.encode(x) : x instanceof Uint8Array ? x : new Uint8Array(x);
}

// One instance of the program: its own memory, file system and state.
function instance(wasm) {
  const m = {
    instantiateWasm(imports, receive) {
      const inst = new WebAssembly.Instance(wasm, imports);
      receive(inst, wasm);
      return inst.exports;
    },
    print() {},
    printErr() {},
  };
  m.tovEnd = (status) => new End(status);
  m.tovSink = () => {};
  m.tovEvent = () => {};
  m.tovCmd = () => {};
  m.tovName = () => {};
  createTov(m); // ready at once: the instantiation above is synchronous
  m._tovInit();
  m.FS.mkdir('/w');
  m.constants = constantsOf(m);
  return m;
}

// The program's constants and names by name: {group: {name: value}} for numbers,
// {group: [names]} for lists in the order of their numbers.
function constantsOf(m) {
  const c = {};
  m.tovConst = (gp, p, n, v) => {
    const g = text(m, gp, m.HEAPU8.indexOf(0, gp) - gp);
    const name = text(m, p, n);
    if (v === -1) (c[g] ??= []).push(name);
    else (c[g] ??= {})[name] = v;
  };
  // what each command does: {group: [{ stack, cond, pc }]} by function or operation number
  m.tovEffect = (gp, i, sp, cp, pp) => {
    const str = (p) => text(m, p, m.HEAPU8.indexOf(0, p) - p);
    (c[str(gp)] ??= [])[i] = Object.freeze({ stack: str(sp), cond: str(cp), pc: str(pp) });
  };
  m._tovConstants();
  for (const v of Object.values(c)) Object.freeze(v);
  return Object.freeze(c);
}

// A command record from the program's tovCmd.
function command(m, adr, fct, opd, length, bytes, t, tn, line, col) {
  const k = m.constants;
  opd >>>= 0; // a uint32_t arrives as a signed 32-bit number
  const operand = k.operands[fct];
  const c = { adr, fct, opd, length, field: operand === 'address' ? adr + k.store.fieldAt : null,
    name: operand === 'operation' ? k.operations[opd] : k.functions[fct], operand, text: text(m, t, tn) };
  if (operand === 'value') c.value = opd | 0;
  if (bytes) c.bytes = Array.from(m.HEAPU8.subarray(bytes, bytes + length));
  if (line) c.from = { line, col };
  return c;
}

function text(m, p, n) {
  return latin.decode(m.HEAPU8.subarray(p, p + n));
}

// Removes everything under the directory at path (not the directory itself).
function clear(FS, path) {
  for (const name of FS.readdir(path)) {
    if (name === '.' || name === '..') continue;
    const p = `${path}/${name}`;
    if (FS.isDir(FS.stat(p).mode)) {
      clear(FS, p);
      FS.rmdir(p);
    } else {
      FS.unlink(p);
    }
  }
}

// Runs the program's main with the arguments, standard input and files;
// returns the status. The module's state starts afresh with main.
function call(m, args, stdin, files, { events = false, bound = 0 } = {}) {
  const FS = m.FS;
  FS.chdir('/');
  clear(FS, '/w');
  FS.writeFile('/tmp/stdin', toBytes(stdin));
  for (const [name, content] of Object.entries(files)) {
    // the files stay in the working directory, so that the next call finds none of them
    if (name === '' || name.startsWith('/') || name.split('/').includes('..')) {
      throw new TypeError(`tov: a file name must lead into the working directory: '${name}'`);
    }
    const path = `/w/${name}`;
    const parts = path.split('/');
    for (let i = 2; i < parts.length; ++i) {
      const dir = parts.slice(0, i).join('/');
      if (!FS.analyzePath(dir).exists) FS.mkdir(dir);
    }
    FS.writeFile(path, toBytes(content));
  }
  FS.chdir('/w');
  const sp = m.stackSave();
  // the arguments go on the program's stack (1 MiB), which must keep room for the run
  if (args.reduce((n, a) => n + utf8.encode(String(a)).length + 5, 0) > 1 << 16) {
    throw new RangeError('tov: the arguments are longer than 64 KiB in all');
  }
  try {
    const argv = m.stackAlloc(4 * (args.length + 2));
    ['tov', ...args].forEach((a, i) => (m.HEAPU32[(argv >> 2) + i] = cstr(m, String(a))));
    m.HEAPU32[(argv >> 2) + args.length + 1] = 0;
    m._tovPrepare(cstr(m, '/tmp/stdin'), events ? 1 : 0, Math.floor(Math.min(bound, 2 ** 52)));
    m._main(args.length + 1, argv);
    throw new Error('tov: main returned');
  } catch (e) {
    // a stop at the bound is status 9 to the caller, as an error is
    if (e instanceof End) return e.status === m.constants.status.stopped ? 9 : e.status;
    throw e;
  } finally {
    m.stackRestore(sp);
  }
}

// A NUL-terminated copy of s on the program's stack.
function cstr(m, s) {
  const b = utf8.encode(s);
  const p = m.stackAlloc(b.length + 1);
  m.HEAPU8.set(b, p);
  m.HEAPU8[p + b.length] = 0;
  return p;
}

// The lines of a text, without their CR LF ends.
function lines(s) {
  const all = s.split('\r\n');
  if (all.at(-1) === '') all.pop();
  return all;
}

function lastLine(s) {
  const lines = s.split('\r\n');
  return lines.length > 1 ? lines[lines.length - 2] : '';
}

// compile: the structured results of one compilation of source.
function compileWith(m, source) {
  const out = new Bytes();
  const err = new Bytes();
  const events = [], joins = [];
  const kinds = m.constants.events;
  let cmd = null;
  m.tovSink = (s, p, n) => (s === 0 ? out : err).add(m.HEAPU8.subarray(p, p + n));
  m.tovCmd = (...a) => (cmd = command(m, ...a));
  // events in the same rules share one array of rule names
  let rules = [], ruleBytes = new Uint8Array(0);
  m.tovEvent = (kind, p, n, lck, at, value, fp, fn, fl, fc, ll, lc, nl, nc, rp, nr) => {
    // a join has no trace line: it is kept beside the events, at the number of events before it
    if (kinds[kind] === 'join') {
      joins.push({ after: events.length, at, value: value >>> 0, fixed: text(m, fp, fn) });
      cmd = null;
      return;
    }
    const now = m.HEAPU8.subarray(rp, rp + nr);
    if (nr !== ruleBytes.length || now.some((r, i) => r !== ruleBytes[i])) {
      ruleBytes = now.slice();
      rules = Object.freeze(Array.from(ruleBytes, (r) => m.constants.rules[r]));
    }
    const e = { kind: kinds[kind], text: text(m, p, n), lck, from: { line: fl, col: fc },
      last: { line: ll, col: lc }, next: { line: nl, col: nc }, rules };
    if (e.kind === 'cmd') {
      e.cmd = cmd;
      e.pos = cmd.adr;
    } else if (e.kind === 'fixup') {
      e.at = at;
      e.value = value;
      e.fixed = text(m, fp, fn);
      if (fn) e.jump = cmd;
    }
    cmd = null;
    events.push(e);
  };
  const status = call(m, [], source, {}, { events: true });
  m.tovEvent = () => {};
  const listing = latin.decode(out.bytes());
  const trace = latin.decode(err.bytes());
  const result = { ok: status === 0, error: null, commands: [], events, joins, vars: [], listing, trace };
  if (status !== 0) {
    result.error = { line: m._tovErrLine(), col: m._tovErrCol(), text: lastLine(trace) };
    return result;
  }
  // the command that went to an address is the last one emitted unlocked there
  const from = new Map();
  for (const e of events) if (e.kind === 'cmd' && e.lck === 0) from.set(e.pos, e.cmd.from);
  m.tovCmd = (...a) => {
    const c = command(m, ...a);
    c.from = from.get(c.adr) ?? { line: 0, col: 0 };
    c.line = c.from.line;
    c.col = c.from.col;
    result.commands.push(c);
  };
  m._tovCommands();
  m.tovCmd = () => {};
  const { types, classes } = m.constants;
  m.tovName = (p, n, cls, typ, val) => {
    const name = text(m, p, n);
    const type = types[typ];
    if (classes[cls] === 'VAR') result.vars.push({ name, type, cell: val });
    else if (classes[cls] === 'CONST') result.vars.push({ name, type, value: val, const: true });
  };
  m._tovNames();
  return result;
}

// A program compiled into an instance of its own, run a command at a time.
function makeMachine(wasm, source, limit) {
  const m = instance(wasm);
  const out = [];
  let errAt = 0; // the block of standard error flushed last: the error line at its end
  let errLen = 0;
  let traced = null; // while a step is traced: the blocks of standard error
  m.tovSink = (s, p, n) => {
    if (s === 0) out.push(text(m, p, n));
    else {
      [errAt, errLen] = [p, n];
      traced?.push(text(m, p, n));
    }
  };
  if (call(m, [], source, {}) !== 0) return null;
  out.length = 0; // the listing
  m._tovStart();
  const lay = m.constants.machine;
  const at = m._tovGet();
  const initial = m.HEAPU8.slice(at, at + lay.size);
  let output = '';
  let steps = 0;
  let error = null;
  let failPc = null;
  let ended = false;

  // The state lies at a fixed place, laid out as the constants say, brought up
  // to date once after each change.
  let seen = true;
  const word = (offset) => {
    if (!seen) {
      m._tovGet();
      seen = true;
    }
    return m.HEAP32[(at + offset) >> 2];
  };
  const collect = () => {
    if (out.length) {
      output += out.join('');
      out.length = 0;
    }
  };

  const api = {
    limit,
    trace: [],
    step(n = 1, { trace = false } = {}) {
      api.trace = [];
      if (ended || error) return 0;
      const want = Math.floor(Math.min(n, limit - steps, 2 ** 52));
      if (want <= 0) return 0;
      let ran;
      seen = false;
      if (trace) traced = [];
      try {
        ran = m._tovStep(want);
        if (ran < want) ended = true;
      } catch (e) {
        if (!(e instanceof End)) throw e;
        ran = m._tovSteps() - steps;
        error = lastLine(text(m, errAt, errLen));
        failPc = m._tovFailPc();
      } finally {
        if (traced) api.trace = lines(traced.join(''));
        traced = null;
      }
      steps += ran;
      collect();
      return ran;
    },
    get pc() {
      return word(lay.pc);
    },
    get cond() {
      return (word(lay.cond) & 255) !== 0;
    },
    get stack() {
      const ac = word(lay.height);
      return Array.from(m.HEAP32.subarray((at + lay.stack) >> 2, ((at + lay.stack) >> 2) + ac));
    },
    get cells() {
      word(lay.pc);
      const from = (at + lay.vars) >> 2;
      return m.HEAP32.slice(from, from + m.constants.store.cells);
    },
    // One cell, without the copy of them all that `cells` makes.
    cell(k) {
      word(lay.pc);
      return m.HEAP32[((at + lay.vars) >> 2) + k];
    },
    get output() {
      return output;
    },
    get steps() {
      return steps;
    },
    get done() {
      return ended || error !== null || steps >= limit;
    },
    get ended() {
      return ended;
    },
    get limited() {
      return !ended && error === null && steps >= limit;
    },
    get error() {
      return error;
    },
    get failPc() {
      return failPc;
    },
    // A copy of everything the run has changed, for restore.
    snapshot() {
      m._tovGet();
      return { state: m.HEAPU8.slice(at, at + lay.size), steps, output: output.length, printed: output, ended, error, failPc };
    },
    restore(s) {
      seen = false;
      m.HEAPU8.set(s.state, at);
      m._tovSet(s.steps);
      steps = s.steps;
      output = s.printed ?? output.slice(0, s.output);
      ended = s.ended;
      error = s.error;
      failPc = s.failPc;
    },
    reset() {
      api.restore({ state: initial, steps: 0, output: 0, ended: false, error: null, failPc: null });
    },
  };
  return api;
}

// Loads the WebAssembly once; the result's functions share one instance,
// except that every machine gets an instance of its own.
export async function load(url = new URL('tov-core.wasm', import.meta.url)) {
  // compiling while the bytes arrive needs the server to send application/wasm
  const wasm = await WebAssembly.compileStreaming(fetch(url)).catch(async () =>
    WebAssembly.compile(await (await fetch(url)).arrayBuffer()),
  );
  const shared = instance(wasm);
  return {
    constants: shared.constants,
    run(args, stdin = '', files = {}, { limit = 0, keep = Infinity, onBytes = null } = {}) {
      const out = new Bytes(keep);
      const err = new Bytes(keep);
      shared.tovSink = (s, p, n) => {
        const view = shared.HEAPU8.subarray(p, p + n);
        (s === 0 ? out : err).add(view);
        onBytes?.(s === 0 ? 'stdout' : 'stderr', view);
      };
      const status = call(shared, args, stdin, files, { bound: limit });
      const failPc = shared._tovFailPc();
      return {
        status,
        stdout: out.bytes(),
        stderr: err.bytes(),
        stdoutLength: out.length,
        stderrLength: err.length,
        stdoutTail: out.tail(),
        stderrTail: err.tail(),
        steps: shared._tovSteps(),
        listingLength: shared._tovListingEnd(),
        traceLength: shared._tovTraceEnd(),
        limited: shared._tovStatus() === shared.constants.status.stopped,
        end: shared.constants.ends[shared._tovEndClass()],
        failPc: failPc < 0 ? null : failPc,
      };
    },
    compile(source) {
      return compileWith(shared, source);
    },
    machine(source, limit = 1000000) {
      return makeMachine(wasm, source, limit);
    },
  };
}
