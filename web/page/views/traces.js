// The traces, filtered: the generator trace (from the compiler's events) and the
// execution trace (from the recorded run), by source line, by command kind, or only the
// fix-ups. Clicking a line moves the other views to that moment: the compiler replay to
// that event, the machine to that step.
import { state, set, on, commandAt, eventCommand } from '../state.js';
import { Lines } from './lines.js';
import { el, labelled, choice } from './dom.js';

const kinds = ['Val', 'Lod', 'Sto', 'Jmp', 'Jpf', 'Jpt', 'Hlt', 'operations'];
const execHeader = 'Comp.Dbg:   pc  cond  ac       top-1         top';
let page, which, lineBox, kindBox, fixBox, lines, caption, shown = [], history = null;

export function mount(p) {
  page = p;
  const root = document.getElementById('panel-traces');
  which = choice('trace-which', [['gen', 'Generator trace'], ['exec', 'Execution trace']]);
  kindBox = choice('trace-kind', [['', 'all'], ...kinds.map((k) => [k, k])]);
  lineBox = el('input', { type: 'number', min: '1', id: 'trace-line', placeholder: 'all' });
  fixBox = el('input', { type: 'checkbox', id: 'trace-fixups' });
  caption = el('p', { className: 'note', attrs: { role: 'status' } });
  root.append(el('div', { className: 'toolbar' }, labelled('Trace', which), labelled('Command', kindBox),
    labelled('Source line', lineBox), el('label', {}, fixBox, ' only fix-ups')), caption);
  lines = new Lines(root, 'Trace lines', pick);
  for (const c of [which, kindBox, lineBox, fixBox]) c.addEventListener('input', render);
  on((keys) => {
    // a new program or a new step limit means a new recording
    if (keys.has('compiled') || (keys.has('machine') && !state.machine)) history = null;
    if (keys.has('compiled') || (keys.has('tab') && state.tab === 'traces')) render();
    if (keys.has('machine') && which.value === 'exec') markStep();
    if (keys.has('replay') && which.value === 'gen') lines.mark(shown.indexOf(state.replay - 1));
  });
}

// Does a command text belong to the chosen kind?
function kindOf(text, kind) {
  if (!kind) return true;
  const mnemonic = text.slice(0, 3);
  if (kind === 'operations') return !['Val', 'Lod', 'Sto', 'Jmp', 'Jpf', 'Jpt', 'Hlt'].includes(mnemonic);
  return mnemonic === kind;
}

const pad = (v, n) => String(v).padStart(n);

// The execution trace line of state j, as the machine writes it.
export function execLine(h, j, text) {
  const ac = h.ac[j];
  const stack = ac === 0 ? ' '.repeat(23) : ac === 1 ? ' '.repeat(12) + pad(h.top[j], 11)
    : `${pad(h.top1[j], 11)} ${pad(h.top[j], 11)}`;
  return `Comp.Dbg: ${pad(h.pc[j], 4)}: ${h.cond[j] ? 'TRUE ' : 'FALSE'} ${pad(ac, 2)} ${stack}:  ${text}`;
}

async function render() {
  if (state.tab !== 'traces') return;
  const c = state.compiled;
  fixBox.disabled = which.value !== 'gen';
  if (!c || !c.ok) { lines.set(0, () => ''); caption.textContent = c ? 'The program does not compile.' : ''; return; }
  const line = Number(lineBox.value) || 0, kind = kindBox.value;
  if (which.value === 'gen') {
    const only = fixBox.checked;
    shown = [];
    c.events.forEach((e, i) => {
      if (e.kind === 'head') return;
      if (only && e.kind !== 'fixup') return;
      if (line && e.line !== line) return;
      if (kind && (e.kind !== 'cmd' || !kindOf(eventCommand(e), kind))) return;
      shown.push(i);
    });
    lines.set(shown.length, (n) => `Gen.Dbg: ${c.events[shown[n]].text}`);
    caption.textContent = `Gen.Dbg: lck  pos  cmd  (${shown.length.toLocaleString('en')} of ${c.events.length.toLocaleString('en')} lines)`;
    lines.mark(shown.indexOf(state.replay - 1));
    return;
  }
  if (!history) {
    caption.textContent = 'Recording the run…';
    await page.record();
    history = await page.call('history');
    if (!history) return;
  }
  const h = history, texts = new Map(c.commands.map((cmd) => [cmd.adr, cmd]));
  // A run that ends or stops has no trace line for its last state, one that fails
  // has the line of the failing command.
  const count = h.error !== null ? h.pc.length : h.pc.length - 1;
  shown = [];
  for (let j = 0; j < count; j++) {
    const cmd = texts.get(h.pc[j]);
    if (line && cmd.line !== line) continue;
    if (kind && !kindOf(cmd.text, kind)) continue;
    shown.push(j);
  }
  lines.set(shown.length, (n) => execLine(h, shown[n], texts.get(h.pc[shown[n]]).text));
  caption.textContent = `${execHeader}  (${shown.length.toLocaleString('en')} of ${count.toLocaleString('en')} lines${h.limited ? '; stopped at the step limit' : ''})`;
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
  } else {
    set({ machine: await page.call('goto', { step: i }) });
  }
}
