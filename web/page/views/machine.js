// The machine, stepped: Step, Step back, Run to cursor, Run to end and Reset move through
// a recording of the run that the worker makes once (keys F10, Shift+F10 and F5). Shown:
// the step, pc and condition, the stack, the cells by variable name, the output so far
// and a run-time error at the source line of the command that failed.
import { state, set, on } from '../state.js';
import { decorate } from '../editor.js';
import { lineOf } from './output.js';
import { el, button, span, note } from './dom.js';
import { ask } from './predict.js';

let page, info, stackBox, cellsBox, outBox, faultBox;

export function mount(p) {
  page = p;
  const root = document.getElementById('panel-machine');
  const bar = el('div', { className: 'toolbar' },
    key(button('Step', step), 'F10', 'Step: run one command (F10)'),
    key(button('Step back', () => go((m) => m.step - 1)), 'Shift+F10', 'Step back one command (Shift+F10)'),
    key(button('Run to cursor', toCursor), null, 'Run to the next command of the cursor line'),
    key(button('Run to end', () => go(() => Infinity)), 'F5', 'Run to the end or the step limit (F5)'),
    key(button('Reset', () => go(() => 0)), null, 'Back to the start of the run'),
  );
  info = el('p', { className: 'note', id: 'machine-info', attrs: { role: 'status' } });
  faultBox = el('p', { className: 'fault', id: 'machine-error' });
  const grid = el('div', { className: 'machine' });
  stackBox = box(grid, 'Stack (top last)', 'machine-stack');
  cellsBox = box(grid, 'Variables', 'machine-cells');
  outBox = box(grid, 'Output so far', 'machine-output');
  root.append(bar, info, faultBox, grid);
  document.addEventListener('keydown', (e) => {
    if (e.key === 'F10') { e.preventDefault(); if (e.shiftKey) go((m) => m.step - 1); else step(); }
    else if (e.key === 'F5' && !e.ctrlKey) { e.preventDefault(); go(() => Infinity); }
  });
  on((keys) => {
    if (keys.has('machine') || keys.has('compiled')) render();
  });
  render();
}

function key(b, keys, hint) {
  b.title = hint;
  if (keys) b.setAttribute('aria-keyshortcuts', keys);
  return b;
}

function box(parent, title, id) {
  const body = el('div', { id, className: 'box' });
  parent.append(el('section', {}, el('h3', { text: title }), body));
  return body;
}

// One step forward; in predict mode the step is guessed first.
function step() {
  if (!ask('machine')) go((m) => m.step + 1);
}

// Shows the step that `target` chooses from the current machine state, once the run is
// recorded.
async function go(target) {
  if (!state.compiled?.ok) return;
  if (state.tab !== 'machine') page.showTab('machine');
  // the first press records the run, then moves from its start as any press does
  if (!(await page.record())) return;
  const m = state.machine;
  const step = Math.max(0, Math.min(target(m), m.steps));
  if (step !== m.step) set({ machine: await page.call('goto', { step }) });
}

async function toCursor() {
  if (!state.compiled?.ok) return;
  if (!(await page.record())) return;
  const line = state.cursorLine;
  const adrs = state.compiled.commands.filter((c) => c.line === line).map((c) => c.adr);
  if (!adrs.length) { page.status(`No command comes from line ${line}.`); return; }
  set({ machine: await page.call('until', { from: state.machine.step, adrs }) });
}

function render() {
  const m = state.machine;
  if (!m) {
    info.textContent = state.compiled?.ok ? 'Press Step (F10) to start stepping the program.' : '';
    stackBox.replaceChildren();
    cellsBox.replaceChildren();
    outBox.replaceChildren();
    faultBox.textContent = '';
    decorate(page.editor, 'step', []);
    return;
  }
  const end = m.error !== null ? 'stopped by an error' : m.done ? 'ended'
    : m.limited ? 'stopped at the step limit' : null;
  info.textContent = `Step ${m.step.toLocaleString('en')} of ${m.steps.toLocaleString('en')}`
    + ` · pc ${m.pc} · cond ${m.cond ? 'TRUE' : 'FALSE'}${end ? ` · ${end}` : ''}`;
  stackBox.replaceChildren(...(m.stack.length ? m.stack.map((v) => span('entry', String(v)))
    : [note('empty')]));
  const rows = [];
  for (const v of state.compiled.vars) {
    if (v.const) continue;
    const value = m.cells[v.cell];
    rows.push(el('div', { className: 'cell' }, span('cname', v.name), span('cnum', `cell ${v.cell}`),
      span('cval', v.type === 'BOOLEAN' ? `${value} (${value ? 'TRUE' : 'FALSE'})` : String(value))));
  }
  cellsBox.replaceChildren(...(rows.length ? rows : [note('no variables')]));
  const out = el('pre', { className: 'text', text: m.output });
  outBox.replaceChildren(...(m.written > m.output.length
    ? [note(`… the last ${m.output.length.toLocaleString('en')} of ${m.written.toLocaleString('en')} characters:`), out]
    : [out]));
  const line = lineOf(m.error !== null ? m.failPc : m.pc);
  faultBox.textContent = m.error !== null ? `${m.error} (line ${lineOf(m.failPc)})` : '';
  decorate(page.editor, 'step', line ? [{ line, cls: m.error !== null ? 'cm-fault' : 'cm-step' }] : []);
}
