// The record of one run of the machine, made once in the worker, so that the page can
// move forwards and backwards through it. State j is the machine before its (j+1)-th
// command, as the execution trace shows it. Per state the record keeps what a trace line
// shows (pc, cond, stack depth and the two top entries); every `every` states it keeps a
// snapshot of the machine, and state j is the nearest snapshot before it run forward.

const every = 1024;
const tail = 8192;

export class Recording {
  constructor(m) {
    this.m = m;
    let size = 1024;
    this.pc = new Uint16Array(size);
    this.cond = new Uint8Array(size);
    this.ac = new Uint8Array(size);
    this.top1 = new Int32Array(size);
    this.top = new Int32Array(size);
    this.snaps = [];
    let n = 0;
    this.capture(0);
    while (!m.done) {
      // a failed command and the step that finds the end change no state
      if (m.step(1) === 0 || m.error !== null) break;
      if (++n === size) this.grow(size *= 2);
      this.capture(n);
    }
    this.n = n;
    this.error = m.error;
    this.failPc = m.failPc;
    this.limited = m.limited;
  }

  grow(size) {
    for (const k of ['pc', 'cond', 'ac', 'top1', 'top']) {
      const a = new this[k].constructor(size);
      a.set(this[k]);
      this[k] = a;
    }
  }

  capture(j) {
    const m = this.m, st = m.stack, a = st.length;
    this.pc[j] = m.pc;
    this.cond[j] = m.cond ? 1 : 0;
    this.ac[j] = a;
    this.top[j] = a > 0 ? st[a - 1] : 0;
    this.top1[j] = a > 1 ? st[a - 2] : 0;
    if (j % every === 0) this.snaps.push(m.snapshot());
  }

  // The whole machine state j. Only the output's last `tail` characters are sent, so
  // that a step costs the same however much the program has written.
  state(j) {
    j = Math.max(0, Math.min(j, this.n));
    const m = this.m, snap = this.snaps[Math.floor(j / every)];
    m.restore(snap);
    m.step(j - snap.steps);
    const last = j === this.n, out = m.output, end = out.length;
    return {
      step: j, steps: this.n, pc: m.pc, cond: m.cond, stack: m.stack, cells: m.cells,
      output: out.slice(Math.max(0, end - tail)), written: end,
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
