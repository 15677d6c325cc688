// The record of one run of the machine, made once in the worker, so that the page can
// move forwards and backwards through it. State j is the machine before its (j+1)-th
// command, as the execution trace shows it. Per state the record keeps the pc; every
// `every` states it keeps a snapshot of the machine, and state j is the nearest snapshot
// before it run forward. Trace lines are written by the machine itself when asked for.

const every = 1024;
const tail = 8192;

export class Recording {
  constructor(m) {
    this.m = m;
    let size = 1024;
    this.pc = new Uint16Array(size);
    this.snaps = [];
    let n = 0;
    this.capture(0);
    // the first step writes the execution trace's header before its line
    m.step(1, { trace: true });
    this.header = m.trace[0] ?? '';
    if (m.steps === 1 && m.error === null) {
      n = 1;
      this.capture(1);
      while (!m.done) {
        // a failed command and the step that finds the end change no state
        if (m.step(1) === 0 || m.error !== null) break;
        if (++n === size) this.grow(size *= 2);
        this.capture(n);
      }
    }
    this.n = n;
    this.error = m.error;
    this.failPc = m.failPc;
    this.limited = m.limited;
  }

  grow(size) {
    const a = new Uint16Array(size);
    a.set(this.pc);
    this.pc = a;
  }

  capture(j) {
    this.pc[j] = this.m.pc;
    if (j % every === 0) this.snaps.push(this.m.snapshot());
  }

  // The machine at state j.
  goTo(j) {
    const m = this.m, snap = this.snaps[Math.floor(j / every)];
    m.restore(snap);
    m.step(j - snap.steps);
  }

  // The whole machine state j. Only the output's last `tail` characters are sent, so
  // that a step costs the same however much the program has written.
  state(j) {
    j = Math.max(0, Math.min(j, this.n));
    this.goTo(j);
    const m = this.m, last = j === this.n, out = m.output, end = out.length;
    return {
      step: j, steps: this.n, pc: m.pc, cond: m.cond, stack: m.stack, cells: m.cells,
      output: out.slice(Math.max(0, end - tail)), written: end,
      done: last && !this.limited && this.error === null,
      limited: last && this.limited,
      error: last ? this.error : null,
      failPc: last ? this.failPc : null,
    };
  }

  // The searches below read only the pcs kept per state, so that one over ten million
  // states is a single pass over an array; they return the state found, or -1.

  // The first state after `from` whose command comes from another source line than that
  // of state `from` (lines: source line by address, 0 for none).
  nextLine(from, lines) {
    const pc = this.pc, here = lines[pc[from]];
    for (let j = from + 1; j <= this.n; j++) if (lines[pc[j]] !== here) return j;
    return -1;
  }

  // The last state before `from` at which the run came to a source line: the start of
  // the line that state `from` is on, or, from there, of the one before it.
  prevLine(from, lines) {
    const pc = this.pc;
    for (let j = Math.min(from, this.n) - 1; j >= 0; j--) {
      if (j === 0 || lines[pc[j - 1]] !== lines[pc[j]]) return j;
    }
    return -1;
  }

  // The first state after `from` at a breakpoint: a command at an address of `at`
  // (a mask by address), or a line of `marked` (a mask by line) come to from another
  // line, or by a jump back within it (a loop written on one line, each time round).
  nextBreak(from, at, marked, lines) {
    const pc = this.pc;
    for (let j = from + 1; j <= this.n; j++) {
      const a = pc[j], line = lines[a], before = pc[j - 1];
      if (at[a] || (marked[line] && (lines[before] !== line || a <= before))) return j;
    }
    return -1;
  }

  // The first state after `from` at which cell `cell` holds another value than at
  // `from`. Only the commands at the addresses of `touch` (those whose operand is that
  // cell) can change it, so the machine runs from one of them to the next.
  nextChange(from, cell, touch) {
    const pc = this.pc, m = this.m;
    this.goTo(from);
    const was = m.cell(cell);
    let at = from;
    for (let j = from + 1; j <= this.n; j++) {
      if (!touch[pc[j - 1]]) continue;
      m.step(j - at);
      at = j;
      if (m.cell(cell) !== was) return j;
    }
    return -1;
  }

  // The number of execution trace lines: one per command started (a run that ends or
  // stops has none for its last state, one that fails has the failing command's).
  get count() { return this.error !== null ? this.n + 1 : this.n; }

  // What the traces' filters need: each state's pc, and how the run ended.
  history() {
    return { pc: this.pc.slice(0, this.count), header: this.header, error: this.error,
      failPc: this.failPc, limited: this.limited };
  }

  // The execution trace lines of the states `steps`, {step: line}, written by the
  // machine as it runs each of those commands.
  lines(steps) {
    const got = {};
    let at = -1;
    for (const j of [...new Set(steps)].sort((a, b) => a - b)) {
      if (j < 0 || j >= this.count) continue;
      if (j !== at) this.goTo(j);
      this.m.step(1, { trace: true });
      got[j] = this.m.trace[0] ?? '';
      at = j + 1;
    }
    return got;
  }
}
