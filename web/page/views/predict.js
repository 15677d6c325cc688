// Predict, then reveal: with the mode on, the machine's next step and the compiler's next
// event are first guessed, then shown, and the guess is marked right or wrong with the
// true answer. What a command changes comes from the module's constants (changes,
// operationChanges) by the command's function and operation, never from its text. The
// score (right of asked) stays in this browser.
import { state, set, on, commandAt } from '../state.js';
import { el, button, labelled } from './dom.js';
import { storeAt } from './arrows.js';

let page, scoreText;
const views = {};   // machine, replay: {box, form, verdict, question}
const scoreKey = 'tov-predict-score';
let score = load();
let busy = false;

function load() {
  try {
    const s = JSON.parse(localStorage.getItem(scoreKey));
    if (Number.isInteger(s?.right) && Number.isInteger(s?.asked)) return s;
  } catch { /* no storage, or not ours: start afresh */ }
  return { right: 0, asked: 0 };
}

function count(right) {
  score = { right: score.right + (right ? 1 : 0), asked: score.asked + 1 };
  try { localStorage.setItem(scoreKey, JSON.stringify(score)); } catch { /* kept for this page only */ }
  showScore();
}

function showScore() {
  scoreText.textContent = `Score: ${score.right} of ${score.asked} right`;
}

export function mount(p) {
  page = p;
  const toggle = el('input', { type: 'checkbox', id: 'predict-mode',
    on: { change: () => { set({ predict: toggle.checked }); focusQuestion(state.tab); } } });
  scoreText = el('span', { id: 'predict-score' });
  const clear = button('Clear score', () => {
    score = { right: 0, asked: 0 };
    try { localStorage.removeItem(scoreKey); } catch { /* nothing kept */ }
    showScore();
  });
  clear.id = 'predict-clear';
  const group = el('span', { className: 'predict-bar', attrs: { role: 'group', 'aria-label': 'Predict mode' } },
    el('label', { title: 'Guess each step of the machine and each event of the compiler before it is shown' },
      toggle, ' Predict'), scoreText, clear);
  document.querySelector('header.bar').insertBefore(group, document.getElementById('share'));
  showScore();
  for (const name of ['machine', 'replay']) {
    const box = el('section', { className: 'predict', id: `predict-${name}`, hidden: true,
      attrs: { 'aria-label': 'Your prediction' } });
    const form = el('form', { className: 'predict-form', attrs: { 'aria-label': 'Your prediction' } });
    form.addEventListener('submit', (e) => { e.preventDefault(); reveal(name, true); });
    form.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') { e.preventDefault(); reveal(name, false); }
      // Enter on a list or a box guesses too, as it does in a text field
      else if (e.key === 'Enter' && e.target.tagName !== 'BUTTON' && e.target.type !== 'text') {
        e.preventDefault();
        form.requestSubmit();
      }
    });
    const verdict = el('p', { className: 'predict-verdict', id: `predict-${name}-verdict`, tabIndex: -1,
      attrs: { role: 'status', 'aria-live': 'polite' } });
    box.append(form, verdict);
    const panel = document.getElementById(`panel-${name}`);
    panel.insertBefore(box, panel.querySelector('.toolbar')?.nextSibling ?? null);
    views[name] = { box, form, verdict, question: null };
  }
  on((keys) => {
    if (keys.has('predict')) document.getElementById('predict-mode').checked = state.predict;
    if (keys.has('predict') || keys.has('machine') || keys.has('compiled') || keys.has('constants')) render('machine');
    if (keys.has('predict') || keys.has('replay') || keys.has('compiled') || keys.has('constants')) render('replay');
  });
}

// The machine's Step and the replay's Next call this first: in predict mode it takes the
// press (true) and asks (the guess form gets the focus), or, pressed in the form, reveals
// without a guess; else false.
export function ask(name) {
  if (!state.predict || !state.compiled?.ok) return false;
  if (busy) return true; // a guess is being revealed: no second step under it
  if (state.tab !== name) page.showTab(name);
  const v = views[name];
  if (v.question) {
    if (v.form.contains(document.activeElement)) reveal(name, false); else focusQuestion(name);
    return true;
  }
  if (name === 'machine' && !state.machine) {
    // the run is recorded first; the question is then about its first step
    page.record().then(() => focusQuestion(name));
    return true;
  }
  return false;
}

function focusQuestion(name) {
  const v = views[name];
  if (!v || !state.predict) return;
  (v.form.querySelector('select, input') ?? v.verdict).focus();
}

// ---- the questions ----

// What the next command of the machine changes, and how the learner says it.
function machineQuestion() {
  const m = state.machine, c = state.compiled, k = state.constants;
  if (!m || !c?.ok || !k?.changes || m.step >= m.steps) return null;
  const i = commandAt(m.pc);
  if (i < 0) return null;
  const cmd = c.commands[i];
  let what = k.changes[cmd.fct];
  if (what === 'operation') what = k.operationChanges[cmd.opd];
  const q = { key: `${m.step}`, step: m.step, cmd, what, fields: [] };
  const intro = `At ${cmd.adr}: ${cmd.text}. `;
  if (what === 'stack') {
    q.prompt = `${intro}What is on top of the stack after it?`;
    q.fields.push(field('Top of the stack', 'top'));
  } else if (what === 'cond') {
    q.prompt = `${intro}What is the condition after it?`;
    q.fields.push(pick('Condition', 'cond', [['1', 'TRUE'], ['0', 'FALSE']]));
  } else if (what === 'cell') {
    q.prompt = `${intro}Which variable does it write, and with what value?`;
    q.fields.push(pick('Variable', 'cell', c.vars.filter((v) => !v.const).map((v) => [String(v.cell), `${v.name} (cell ${v.cell})`])),
      field('Value', 'value'));
  } else if (what === 'pc') {
    const on = cmd.adr + cmd.length;
    q.prompt = `${intro}Where does the pc go?`;
    q.fields.push(pick('Next pc', 'pc', [[String(cmd.opd), `${cmd.opd}: the jump is taken`],
      ...(on !== cmd.opd ? [[String(on), `${on}: it goes on`]] : [])]));
  } else if (what === 'output') {
    q.prompt = `${intro}What does it write?`;
    q.fields.push(field('Written', 'output'));
  } else {
    return null; // the end: nothing to guess
  }
  return q;
}

// The compiler's next event that can be guessed (a command or a fix-up; the others are
// just shown), with the fix-ups that patch one chain to the same address as one.
function replayQuestion() {
  const c = state.compiled, k = state.constants;
  if (!c?.ok || !k) return null;
  const events = c.events;
  let j = Math.min(state.replay, events.length);
  while (j < events.length && events[j].kind !== 'cmd' && events[j].kind !== 'fixup') j++;
  if (j >= events.length) return null;
  const e = events[j], q = { key: `${j}`, at: j, end: j + 1, e, what: e.kind, fields: [] };
  if (e.kind === 'cmd') {
    q.prompt = 'Which command does the compiler emit next?';
    const names = [];
    k.functions.forEach((f, n) => { if (k.operands[n] !== 'operation') names.push([f, f]); });
    for (const o of k.operations) names.push([o, o]);
    q.fields.push(pick('Command', 'name', names), field('Operand', 'operand', 'empty when it has none or its address is not known yet'));
    return q;
  }
  while (q.end < events.length && events[q.end].kind === 'fixup' && events[q.end].value === e.value) q.end++;
  q.patched = events.slice(j, q.end).map((f) => f.at);
  q.pending = storeAt(c, j, k).filter((r) => r.pending);
  q.prompt = 'A fix-up comes next: which pending jumps does it patch, and with what address?';
  const boxes = el('fieldset', { className: 'predict-jumps' }, el('legend', { text: 'Jumps patched' }),
    ...q.pending.map((r) => el('label', {}, el('input', { type: 'checkbox', name: 'jump', value: String(r.field) }),
      ` ${r.adr}: ${r.text}`)));
  q.fields.push(boxes, field('Address', 'address'));
  return q;
}

function field(label, name, hint) {
  const input = el('input', { type: 'text', name, autocomplete: 'off', attrs: { inputmode: name === 'output' ? null : 'numeric' } });
  if (hint) input.placeholder = hint;
  return labelled(label, input);
}

function pick(label, name, options) {
  return labelled(label, el('select', { name }, ...options.map(([v, t]) => new Option(t, v))));
}

function render(name) {
  const v = views[name];
  if (!v) return;
  v.box.hidden = !state.predict;
  if (!state.predict) { v.question = null; v.form.replaceChildren(); return; }
  const q = name === 'machine' ? machineQuestion() : replayQuestion();
  // the same question keeps what the learner has typed
  if (q && v.question && v.question.key === q.key && v.question.compiled === state.compiled) return;
  v.question = q;
  if (!q) {
    v.form.replaceChildren(el('p', { className: 'note', text: name === 'machine'
      ? (state.machine ? 'Nothing more to predict in this run.' : 'Press Step (F10): the run is recorded, then you predict each step.')
      : 'Nothing more to predict: move back (First) to predict the compilation.' }));
    return;
  }
  q.compiled = state.compiled;
  v.form.replaceChildren(el('p', { className: 'predict-prompt', text: q.prompt }),
    el('div', { className: 'predict-fields' }, ...q.fields,
      el('button', { type: 'submit', text: 'Reveal' }),
      button('Skip (Esc)', () => reveal(name, false))));
}

// ---- the answers ----

const num = (s) => (/^\s*-?[0-9]+\s*$/.test(s) ? Number(s) : NaN);

// Shows what the question asked about and, when guessed, marks the guess.
async function reveal(name, guessed) {
  const v = views[name], q = v.question;
  if (!q || busy) return;
  const data = new FormData(v.form);
  busy = true;
  let result;
  try {
    result = name === 'machine' ? await revealStep(q, data) : revealEvent(q, data);
  } finally {
    busy = false;
  }
  if (!result) return;
  const scored = guessed && result.right !== null;
  if (scored) count(result.right);
  v.verdict.className = `predict-verdict ${scored ? (result.right ? 'right' : 'wrong') : ''}`;
  v.verdict.textContent = !guessed ? `Shown: ${result.answer}.`
    : result.right === null ? `Not scored: ${result.answer}.`
    : result.right ? `Right: ${result.answer}.` : `Wrong: you said ${result.said}; ${result.answer}.`;
  focusQuestion(name);
}

async function revealStep(q, data) {
  const before = state.machine;
  if (before?.step !== q.step) return null;
  const m = await page.call('goto', { step: q.step + 1 });
  set({ machine: m });
  const cmd = q.cmd;
  if (m.error !== null) return { right: null, answer: `it fails: ${m.error}` };
  if (q.what === 'stack') {
    const top = m.stack.at(-1), said = data.get('top');
    return { right: num(said) === top, said: said.trim() || 'nothing', answer: `the top of the stack is ${top}` };
  }
  if (q.what === 'cond') {
    const said = data.get('cond') === '1';
    return { right: said === m.cond, said: said ? 'TRUE' : 'FALSE', answer: `the condition is ${m.cond ? 'TRUE' : 'FALSE'}` };
  }
  if (q.what === 'cell') {
    const names = new Map(state.compiled.vars.filter((x) => !x.const).map((x) => [x.cell, x.name]));
    const cell = Number(data.get('cell')), value = data.get('value'), got = m.cells[cmd.opd];
    return { right: cell === cmd.opd && num(value) === got,
      said: `${names.get(cell) ?? `cell ${cell}`} := ${value.trim() || '?'}`,
      answer: `it writes ${got} to ${names.get(cmd.opd) ?? 'cell'} (cell ${cmd.opd})` };
  }
  if (q.what === 'pc') {
    const said = Number(data.get('pc'));
    return { right: said === m.pc, said: String(said),
      answer: `the pc goes to ${m.pc}${m.pc === cmd.opd ? ' (the jump is taken)' : ' (the jump is not taken)'}` };
  }
  const written = m.output.slice(Math.max(0, m.output.length - (m.written - before.written))).trim();
  const said = data.get('output').trim();
  return { right: said === written, said: `"${said}"`, answer: `it writes "${written}"` };
}

function revealEvent(q, data) {
  if (state.compiled !== q.compiled) return null;
  set({ replay: q.end });
  if (q.what === 'cmd') {
    const cmd = q.e.cmd, name = data.get('name'), opd = data.get('operand').trim();
    const k = state.constants;
    const want = cmd.operand === 'none' || cmd.operand === 'operation' ? null
      : cmd.operand === 'value' ? cmd.value : cmd.opd === k.store.endMark ? '' : cmd.opd;
    const right = name === cmd.name && (want === null || (want === '' ? opd === '' : num(opd) === want));
    return { right, said: `${name}${opd ? ` ${opd}` : ''}`, answer: `it emits ${cmd.text} at ${cmd.adr}` };
  }
  const fieldAt = state.constants.store.fieldAt, value = q.e.value;
  const chosen = data.getAll('jump').map(Number).sort((a, b) => a - b);
  const want = [...q.patched].sort((a, b) => a - b);
  const address = data.get('address');
  const right = chosen.join() === want.join() && num(address) === value;
  const jumps = (fields) => (!fields.length ? 'no jump'
    : `the jump${fields.length > 1 ? 's' : ''} at ${fields.map((f) => f - fieldAt).join(', ')}`);
  return { right, said: `${jumps(chosen)} with ${address.trim() || '?'}`,
    answer: `it patches ${jumps(q.patched)} with ${value}` };
}
