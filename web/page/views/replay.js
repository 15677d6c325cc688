// The compiler, replayed: the generator's events one at a time, forward and back, with a
// slider over the whole compilation. At each event: its trace line, the token it comes
// from and the token being parsed (both marked in the editor, differently), the lock
// depth, and the store as it grows, where every forward jump waits as pending, linked to
// the jump before it in its chain, until the fix-up patches it and its arrow lands on the
// target; a backward jump's arrow lands on its target at once. Previous and Next fix-up
// move between the fix-ups.
import { state, set, on, commandAt } from '../state.js';
import { decorate, tokenRange, reveal } from '../editor.js';
import { el, svg, button, span, note, labelled } from './dom.js';
import { ask } from './predict.js';
import { storeAt, storeArrows, pendingText, heads, draw } from './arrows.js';

let page, slider, eventLine, lockLine, rowsBox, arrows;

export function mount(p) {
  page = p;
  const root = document.getElementById('panel-replay');
  slider = el('input', { type: 'range', min: '0', id: 'replay-slider',
    on: { input: () => set({ replay: Number(slider.value) }) } });
  const bar = el('div', { className: 'toolbar' },
    button('First', () => move(() => 0)),
    button('Previous', () => move((i) => i - 1)),
    button('Next', () => ask('replay') || move((i) => i + 1)), // in predict mode, guessed first
    button('Last', () => move(() => Infinity)),
    labelled('Event', slider),
    fixButton('Previous fix-up', -1, '[ Shift+ArrowLeft', '[ or Shift+Left'),
    fixButton('Next fix-up', 1, '] Shift+ArrowRight', '] or Shift+Right'),
  );
  eventLine = el('p', { id: 'replay-event', className: 'text', attrs: { role: 'status' } });
  lockLine = el('p', { id: 'replay-lock', className: 'note' });
  arrows = svg('svg', { class: 'arrows', 'aria-hidden': 'true' }, heads('replay-head'));
  rowsBox = el('div', { id: 'replay-store', className: 'rows' });
  root.append(bar, eventLine, lockLine, el('div', { className: 'replay', tabIndex: 0,
    attrs: { role: 'group', 'aria-label': 'The store as the compiler fills it' } }, arrows, rowsBox));
  // the fix-up keys anywhere in the replay, the slider included
  root.addEventListener('keydown', (e) => {
    const dir = e.key === '[' || (e.shiftKey && e.key === 'ArrowLeft') ? -1
      : e.key === ']' || (e.shiftKey && e.key === 'ArrowRight') ? 1 : 0;
    if (!dir || e.ctrlKey || e.altKey || e.metaKey) return;
    e.preventDefault();
    toFixup(dir);
  });
  on((keys) => {
    // drawn while shown: a new program costs a hidden view nothing
    if ((keys.has('replay') || keys.has('compiled') || keys.has('tab')) && state.tab === 'replay') render();
    if (keys.has('tab') && state.tab !== 'replay') decorate(page.editor, 'token', []);
  });
}

function move(f) {
  const n = state.compiled?.events?.length ?? 0;
  set({ replay: Math.max(0, Math.min(n, f(state.replay))) });
}

function fixButton(name, dir, keys, said) {
  const b = button(name, () => toFixup(dir));
  b.setAttribute('aria-keyshortcuts', keys);
  b.title = `${name} (${said})`;
  return b;
}

// Moves to the fix-up event after (dir 1) or before (-1) the one shown, if there is one.
function toFixup(dir) {
  const events = state.compiled?.events ?? [];
  for (let i = state.replay - 1 + dir; i >= 0 && i < events.length; i += dir) {
    if (events[i].kind === 'fixup') { set({ replay: i + 1 }); return; }
  }
}

function render() {
  const c = state.compiled;
  if (!c || !c.ok) {
    rowsBox.replaceChildren(note(c ? 'Nothing to replay: the program does not compile.' : ''));
    arrows.replaceChildren(arrows.firstChild);
    eventLine.textContent = lockLine.textContent = '';
    return;
  }
  const events = c.events, k = Math.min(state.replay, events.length);
  slider.max = String(events.length);
  slider.value = String(k);
  slider.setAttribute('aria-valuetext', `event ${k} of ${events.length}`);
  const e = events[k - 1];
  eventLine.textContent = e ? `${k}/${events.length}  ${e.text}` : `0/${events.length}  (before the first event)`;
  const lck = e ? e.lck : 0;
  lockLine.textContent = lck > 0 ? `Lock depth ${lck}: code is traced but discarded.` : 'Lock depth 0';
  const rows = storeAt(c, k, state.constants);
  const frag = document.createDocumentFragment(), at = new Map();
  rows.forEach((r, n) => {
    // data-ev: the event whose command record the row shows (cmdinfo.js)
    const div = el('div', { className: `row${r.locked ? ' locked' : ''}${r.pending ? ' pending' : ''}${r.event === k - 1 ? ' now' : ''}`,
      dataset: { ev: r.fixedAt ?? r.event } },
      span('adr', `${String(r.adr).padStart(4)}: `), span('txt', r.text));
    if (r.locked) div.append(span('tag', ' discarded'));
    else if (r.pending) div.append(span('tag', ` ${pendingText(r, rows)}`));
    frag.append(div);
    if (!r.locked) at.set(r.adr, n);
    if (r.event === k - 1) div.dataset.now = '1';
  });
  // a jump patched to where the next command goes: that place, as a row of its own
  const drawn = storeArrows(rows, at, k), next = drawn.find((a) => a.to === rows.length)?.dest;
  if (next !== undefined) {
    frag.append(el('div', { className: 'row unemitted' }, span('adr', `${String(next).padStart(4)}: `),
      span('txt', '(the next command goes here)')));
  }
  rowsBox.replaceChildren(frag);
  rowsBox.querySelector('[data-now]')?.scrollIntoView({ block: 'nearest' });
  const width = draw(arrows, 'replay-head', drawn, rows.length, null);
  rowsBox.style.marginLeft = `${width}px`;
  if (e && state.tab === 'replay') {
    // the token the event comes from, and the one the parser is looking at
    const marks = [];
    const from = e.from.line ? tokenRange(page.editor, e.from.line, e.from.col) : null;
    const next = e.next.line ? tokenRange(page.editor, e.next.line, e.next.col) : null;
    const same = from && next && next.from === from.from;
    if (from) marks.push({ ...from, cls: same ? 'cm-token cm-parsing' : 'cm-token' });
    if (next && !same) marks.push({ ...next, cls: 'cm-parsing' });
    marks.sort((a, b) => a.from - b.from);
    decorate(page.editor, 'token', marks);
    if (from) reveal(page.editor, from.from);
  }
  const i = e && e.kind === 'cmd' && e.lck === 0 ? commandAt(e.pos) : -1;
  if (i >= 0 && state.tab === 'replay' && state.selected !== i) set({ selected: i });
}

