// The traces, filtered: the generator trace (from the compiler's events) and the
// execution trace (from the recorded run), by source line, by command kind, or only the
// fix-ups. A line is filed under the source line of the token it comes from. Clicking a
// line, or Enter on it, moves the other views to that moment: the compiler replay to that
// event, the machine to that step. Every line is the program's own text.
import { state, set, on, commandAt } from '../state.js';
import { Lines } from './lines.js';
import { el, labelled, choice } from './dom.js';

let page, which, lineBox, kindBox, fixBox, lines, caption, shown = [], history = null, texts = new Map();

export function mount(p) {
  page = p;
  const root = document.getElementById('panel-traces');
  which = choice('trace-which', [['gen', 'Generator trace'], ['exec', 'Execution trace']]);
  kindBox = choice('trace-kind', [['', 'all']]);
  lineBox = el('input', { type: 'number', min: '1', id: 'trace-line', placeholder: 'all' });
  fixBox = el('input', { type: 'checkbox', id: 'trace-fixups' });
  caption = el('p', { className: 'note', id: 'trace-caption', attrs: { role: 'status' } });
  root.append(el('div', { className: 'toolbar' }, labelled('Trace', which), labelled('Command', kindBox),
    labelled('Source line', lineBox), el('label', {}, fixBox, ' only fix-ups')), caption);
  lines = new Lines(root, 'Trace lines', pick);
  for (const c of [which, kindBox, lineBox, fixBox]) c.addEventListener('input', render);
  if (state.constants) kinds(); // they may come before the view
  on((keys) => {
    if (keys.has('constants')) kinds();
    // a new program or a new step limit means a new recording
    if (keys.has('compiled') || (keys.has('machine') && !state.machine)) { history = null; texts = new Map(); }
    if ((keys.has('compiled') || keys.has('tab')) && state.tab === 'traces') render();
    if (keys.has('machine') && which.value === 'exec') markStep();
    if (keys.has('replay') && which.value === 'gen') lines.mark(shown.indexOf(state.replay - 1));
  });
}

// The command kinds, by the module's function names; the operations go together.
function kinds() {
  const names = state.constants.functions, operands = state.constants.operands;
  kindBox.replaceChildren(new Option('all', ''),
    ...names.map((name, f) => new Option(operands[f] === 'operation' ? 'operations' : name, String(f))));
}

const ofKind = (cmd, kind) => kind === '' || cmd.fct === Number(kind);

async function render() {
  if (state.tab !== 'traces') return;
  const c = state.compiled;
  fixBox.disabled = which.value !== 'gen';
  if (!c || !c.ok) { lines.set(0, () => ''); caption.textContent = c ? 'The program does not compile.' : ''; return; }
  const line = Number(lineBox.value) || 0, kind = kindBox.value;
  if (which.value === 'gen') {
    const only = fixBox.checked;
    shown = [];
    let head = '';
    c.events.forEach((e, i) => {
      if (e.kind === 'head') { head = e.text; return; }
      if (only && e.kind !== 'fixup') return;
      if (line && e.from.line !== line) return;
      if (kind && (e.kind !== 'cmd' || !ofKind(e.cmd, kind))) return;
      shown.push(i);
    });
    lines.set(shown.length, (n) => c.events[shown[n]].text);
    caption.textContent = `${head}  (${shown.length.toLocaleString('en')} of ${c.events.length.toLocaleString('en')} lines)`;
    lines.mark(shown.indexOf(state.replay - 1));
    return;
  }
  if (!history) {
    caption.textContent = 'Recording the run…';
    if (!(await page.record())) { caption.textContent = 'No run to trace.'; lines.set(0, () => ''); return; }
    history = await page.call('history');
    if (!history) return;
  }
  const h = history, at = new Map(c.commands.map((cmd) => [cmd.adr, cmd]));
  const count = h.pc.length;
  shown = [];
  for (let j = 0; j < count; j++) {
    const cmd = at.get(h.pc[j]);
    if (line && cmd.line !== line) continue;
    if (kind && !ofKind(cmd, kind)) continue;
    shown.push(j);
  }
  const want = history;
  lines.set(shown.length, (n) => texts.get(shown[n]), async (first, last) => {
    const got = await page.call('traceLines', { steps: shown.slice(first, last) });
    if (want !== history || !got) return;
    for (const [j, text] of Object.entries(got)) texts.set(Number(j), text);
  });
  caption.textContent = `${h.header}  (${shown.length.toLocaleString('en')} of ${count.toLocaleString('en')} lines${h.limited ? '; stopped at the step limit' : ''})`;
  markStep();
}

function markStep() {
  if (which.value !== 'exec' || !state.machine) { lines.mark(-1); return; }
  lines.mark(shown.indexOf(state.machine.step));
}

async function pick(n) {
  const i = shown[n];
  if (which.value === 'gen') {
    const e = state.compiled.events[i];
    const patch = { replay: i + 1 };
    const at = e.kind === 'cmd' && e.lck === 0 ? commandAt(e.pos) : -1;
    if (at >= 0) patch.selected = at;
    set(patch);
    lines.mark(n);
  } else {
    set({ machine: await page.call('goto', { step: i }) });
  }
}
