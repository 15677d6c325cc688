// The one state every view reads. Views never change each other; they call set() and
// every listener hears which keys changed.
export const state = {
  source: '',
  compiled: null,   // the worker's compile result for `source`, or null while it is pending
  run: null,        // the last Run: {status, stdout, stderr, output, steps, limited, stopped, error}
  running: false,
  selected: null,   // index of the command chosen in a view
  linked: [],       // indexes of the commands produced by the editor's selected source lines
  cursorLine: 1,    // editor line of the cursor
  selLines: [0, 0], // first and last editor line of the selection
  machine: null,    // state of the stepped machine: {step, pc, cond, stack, cells, output, done, error, failPc}
  replay: 0,        // number of compiler events replayed
  tab: 'output',
  constants: null,  // the program's constants and names (the module's), once the worker has them
  predict: false,   // predict mode: a step or the replay's next event is guessed first (views/predict.js)
};

const listeners = [];

export function on(fn) { listeners.push(fn); }

export function set(patch) {
  Object.assign(state, patch);
  const keys = new Set(Object.keys(patch));
  for (const fn of listeners) fn(keys);
}

// The command index at store address adr, or -1.
export function commandAt(adr) {
  const c = state.compiled;
  if (!c || !c.ok) return -1;
  let lo = 0, hi = c.commands.length - 1;
  while (lo <= hi) {
    const m = (lo + hi) >> 1, a = c.commands[m].adr;
    if (a === adr) return m;
    if (a < adr) lo = m + 1; else hi = m - 1;
  }
  return -1;
}

// Cell number -> variable name of the compiled program.
export function cellNames() {
  const names = new Map();
  for (const v of state.compiled?.vars ?? []) if (!v.const) names.set(v.cell, v.name);
  return names;
}
