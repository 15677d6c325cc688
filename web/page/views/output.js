// The program's output of the last Run, how the run ended, and a run-time error shown at
// the source line of the command that failed.
import { state, on, commandAt } from '../state.js';
import { decorate } from '../editor.js';

let page;

export function mount(p) {
  page = p;
  on((keys) => { if (keys.has('run') || keys.has('running')) render(); });
}

// The source line of the command at pc, or 0.
export function lineOf(pc) {
  const i = commandAt(pc);
  return i >= 0 ? state.compiled.commands[i].line : 0;
}

function render() {
  const r = state.run;
  const out = document.getElementById('output'), end = document.getElementById('run-error');
  out.textContent = r ? r.output : '';
  end.textContent = '';
  let fault = 0;
  if (state.running) end.textContent = '';
  else if (r && r.limited) {
    end.textContent = `Stopped at the step limit after ${r.steps.toLocaleString('en')} commands.`;
  } else if (r && r.error !== null) {
    fault = lineOf(r.failPc);
    end.textContent = fault ? `${r.error} (line ${fault})` : r.error;
  }
  decorate(page.editor, 'fault', fault ? [{ line: fault, cls: 'cm-fault' }] : []);
}
