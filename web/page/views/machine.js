// The machine, stepped: Step, Step back, Step line, Line back, Run to cursor, Run to end
// (Continue, with breakpoints) and Reset move through a recording of the run that the
// worker makes once (keys F10, Shift+F10, F11, Shift+F11 and F5; steps.js searches it). Shown:
// the step, pc and condition, the stack, the cells by variable name, the output so far
// and a run-time error at the source line of the command that failed.
import { state, set, on } from '../state.js';
import { decorate } from '../editor.js';
import { lineOf } from './output.js';
import { el, button, span, note } from './dom.js';
import { ask } from './predict.js';
import * as steps from './steps.js';

let page, info, stackBox, cellsBox, outBox, faultBox;

export function mount(p) {
  page = p;
  const root = document.getElementById('panel-machine');
  const bar = el('div', { className: 'toolbar' },
    key(button('Step', step), 'F10', 'Step: run one command (F10)'),
    key(button('Step back', () => go((m) => m.step - 1)), 'Shift+F10', 'Step back one command (Shift+F10)'),
    key(button('Step line', () => steps.lineStep(false)), 'F11 Alt+F10', 'Step line: run the commands of this source line, on to the next line (F11 or Alt+F10)'),
    key(button('Line back', () => steps.lineStep(true)), 'Shift+F11 Alt+Shift+F10', 'Back to where the run came to this source line, or the one before (Shift+F11 or Alt+Shift+F10)'),
    key(button('Run to cursor', steps.toCursor), null, 'Run to the next command of the cursor line'),
    key(steps.runOnButton(button('Run to end', steps.runOn)), 'F5', null),
    key(button('Reset', () => go(() => 0)), null, 'Back to the start of the run'),
  );
  info = el('p', { className: 'note', id: 'machine-info', attrs: { role: 'status' } });
  faultBox = el('p', { className: 'fault', id: 'machine-error' });
  const grid = el('div', { className: 'machine' });
  stackBox = box(grid, 'Stack (top last)', 'machine-stack');
  cellsBox = box(grid, 'Variables', 'machine-cells');
  outBox = box(grid, 'Output so far', 'machine-output');
  root.append(bar, info, faultBox, grid);
  steps.mount(page, info);
  document.addEventListener('keydown', (e) => {
    if (e.key === 'F11' || (e.key === 'F10' && e.altKey)) { e.preventDefault(); steps.lineStep(e.shiftKey); }
    else if (e.key === 'F10') { e.preventDefault(); if (e.shiftKey) go((m) => m.step - 1); else step(); }
    else if (e.key === 'F5' && !e.ctrlKey) { e.preventDefault(); steps.runOn(); }
  });
  on((keys) => {
    if (keys.has('machine') || keys.has('compiled')) render();
  });
  render();
}

function key(b, keys, hint) {
  if (hint) b.title = hint;
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
      span('cval', v.type === 'BOOLEAN' ? `${value} (${value ? 'TRUE' : 'FALSE'})` : String(value)),
      steps.changeButton(v)));
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
