// The record of one run of the machine, made once in the worker, so that the page can
// move forwards and backwards through it. State j is the machine before its (j+1)-th
// command, as the execution trace shows it. Per state the record keeps what a trace line
// shows (pc, cond, stack depth, the two top entries); every `every` states it keeps a
// snapshot of all cells and the whole stack, and a state between snapshots is rebuilt
// from the nearest one before it.

const every = 4096;

export class Recording {
  constructor(m, compiled, limit) {
    this.cmds = new Map(compiled.commands.map((c) => [c.adr, c]));
    let size = 1024;
    this.pc = new Uint16Array(size);
    this.cond = new Uint8Array(size);
    this.ac = new Uint8Array(size);
    this.top1 = new Int32Array(size);
    this.top = new Int32Array(size);
    this.outLen = new Uint32Array(size);
    this.snaps = [];
    this.eol = 0;
    let n = 0, out = 0;
    this.capture(m, 0, 0);
    while (!m.done && m.steps < limit) {
      const c = this.cmds.get(this.pc[n]);
      m.step(1);
      if (m.error !== null) break;
      if (++n === size) this.grow(size *= 2);
      if (c && (c.text === 'Wrt' || c.text === 'WrC')) {
        // The length of what WRITE wrote follows from the value; the line end is measured once.
        const shown = c.text === 'Wrt' ? String(this.top[n - 1]).length : 5;
        if (!this.eol) this.eol = m.output.length - out - shown;
        out += shown + this.eol;
      }
      this.capture(m, n, out);
    }
    this.n = n;
    this.output = m.output;
    this.error = m.error;
    this.failPc = m.error !== null ? m.failPc : null;
    this.limited = m.error === null && !m.done;
  }

  grow(size) {
    for (const k of ['pc', 'cond', 'ac', 'top1', 'top', 'outLen']) {
      const a = new this[k].constructor(size);
      a.set(this[k]);
      this[k] = a;
    }
  }

  capture(m, j, out) {
    const st = m.stack, a = st.length;
    this.pc[j] = m.pc;
    this.cond[j] = m.cond ? 1 : 0;
    this.ac[j] = a;
    this.top[j] = a > 0 ? st[a - 1] : 0;
    this.top1[j] = a > 1 ? st[a - 2] : 0;
    this.outLen[j] = out;
    if (j % every === 0) this.snaps.push({ cells: Int32Array.from(m.cells), stack: Array.from(st) });
  }

  // The whole machine state j, rebuilt from the snapshot before it: a Sto stores the top
  // into its cell; a command changes at most the two top stack entries, which the record
  // holds for the state after it.
  state(j) {
    j = Math.max(0, Math.min(j, this.n));
    const k = j - (j % every), snap = this.snaps[k / every];
    const cells = Int32Array.from(snap.cells), stack = snap.stack.slice();
    for (let i = k; i < j; i++) {
      const c = this.cmds.get(this.pc[i]);
      if (c && c.bytes[0] === 3) cells[cellOf(c)] = this.top[i];
      const a = this.ac[i + 1];
      stack.length = a;
      if (a > 0) stack[a - 1] = this.top[i + 1];
      if (a > 1) stack[a - 2] = this.top1[i + 1];
    }
    const last = j === this.n;
    return {
      step: j, steps: this.n, pc: this.pc[j], cond: this.cond[j] === 1, stack, cells,
      output: this.output.slice(0, this.outLen[j]),
      done: last && !this.limited && this.error === null,
      limited: last && this.limited,
      error: last ? this.error : null,
      failPc: last ? this.failPc : null,
    };
  }

  // The first state after `from` whose pc is in adrs, or the last state.
  find(from, adrs) {
    for (let j = from + 1; j <= this.n; j++) if (adrs.has(this.pc[j])) return j;
    return this.n;
  }

  // What the execution trace shows, for every state up to the last.
  history() {
    const n = this.n + 1;
    return {
      pc: this.pc.slice(0, n), cond: this.cond.slice(0, n), ac: this.ac.slice(0, n),
      top1: this.top1.slice(0, n), top: this.top.slice(0, n),
      error: this.error, failPc: this.failPc, limited: this.limited,
    };
  }
}

function cellOf(c) {
  return c.bytes[1] | (c.bytes[2] << 8) | (c.bytes[3] << 16) | (c.bytes[4] << 24);
}
