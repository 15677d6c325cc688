// The compiler, replayed: the generator's events one at a time, forward and back, with a
// slider over the whole compilation. At each event: its trace line, the token it comes
// from and the token being parsed (both marked in the editor, differently), the lock
// depth, and the store as it grows, where every forward jump waits as pending, linked to
// the jump before it in its chain, until the fix-up patches it and its arrow lands on the
// target; a backward jump's arrow lands on its target at once.
import { state, set, on, commandAt } from '../state.js';
import { decorate, tokenRange, reveal } from '../editor.js';
import { el, svg, button, span, note, labelled } from './dom.js';
import { rowHeight } from './lines.js';
import { ask } from './predict.js';

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
  );
  eventLine = el('p', { id: 'replay-event', className: 'text', attrs: { role: 'status' } });
  lockLine = el('p', { id: 'replay-lock', className: 'note' });
  arrows = svg('svg', { class: 'arrows', 'aria-hidden': 'true' }, heads());
  rowsBox = el('div', { id: 'replay-store', className: 'rows' });
  root.append(bar, eventLine, lockLine, el('div', { className: 'replay', tabIndex: 0,
    attrs: { role: 'group', 'aria-label': 'The store as the compiler fills it' } }, arrows, rowsBox));
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

// The event that patches each address field, found once per compilation.
const patches = new WeakMap();
function fixups(events) {
  if (!patches.has(events)) {
    const at = new Map();
    events.forEach((e, i) => { if (e.kind === 'fixup' && !at.has(e.at)) at.set(e.at, i); });
    patches.set(events, at);
  }
  return patches.get(events);
}

// The store after the first k events: the commands written so far with their address
// fields as they stand, and those traced under the lock, which are not written.
export function storeAt(events, k) {
  const rows = [], fields = new Map(), patchedAt = fixups(events);
  for (let i = 0; i < k; i++) {
    const e = events[i];
    if (e.kind === 'cmd') {
      const c = e.cmd;
      const row = { adr: c.adr, text: c.text, event: i, locked: e.lck > 0, jump: c.field !== null };
      if (row.jump && !row.locked) {
        row.field = c.field;
        // A jump is forward, and so pending, when a later fix-up patches its field;
        // until then its field holds the next link of its chain.
        row.pending = patchedAt.has(row.field) && patchedAt.get(row.field) > i;
        if (row.pending) row.link = c.opd;
        else row.target = c.opd;
        fields.set(row.field, row);
      }
      rows.push(row);
    } else if (e.kind === 'fixup') {
      const row = fields.get(e.at);
      if (row) {
        row.pending = false;
        row.target = e.value;
        row.text = e.fixed;
        row.fixedAt = i;
      }
    }
  }
  return rows;
}

function render() {
  const c = state.compiled;
  if (!c || !c.ok) {
    rowsBox.replaceChildren(note(c ? 'Nothing to replay: the program does not compile.' : ''));
    arrows.replaceChildren();
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
  const rows = storeAt(events, k), endMark = state.constants?.store.endMark;
  const frag = document.createDocumentFragment(), at = new Map();
  rows.forEach((r, n) => {
    // data-ev: the event whose command record the row shows (cmdinfo.js)
    const div = el('div', { className: `row${r.locked ? ' locked' : ''}${r.pending ? ' pending' : ''}${r.event === k - 1 ? ' now' : ''}`,
      dataset: { ev: r.fixedAt ?? r.event } },
      span('adr', `${String(r.adr).padStart(4)}: `), span('txt', r.text));
    if (r.locked) div.append(span('tag', ' discarded'));
    else if (r.pending) div.append(span('tag', r.link === endMark ? ' pending, end of chain' : ` pending, next link at ${r.link}`));
    frag.append(div);
    if (!r.locked) at.set(r.adr, n);
    if (r.event === k - 1) div.dataset.now = '1';
  });
  rowsBox.replaceChildren(frag);
  rowsBox.querySelector('[data-now]')?.scrollIntoView({ block: 'nearest' });
  drawArrows(rows, at, k, endMark);
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

// The arrow heads, one per kind of arrow.
function heads() {
  return svg('defs', {}, ...['link', 'landed'].map((kind) => svg('marker',
    { id: `head-${kind}`, viewBox: '0 0 6 6', refX: '6', refY: '3', markerWidth: '6', markerHeight: '6', orient: 'auto' },
    svg('path', { d: 'M 0 0 L 6 3 L 0 6 z', class: `tip ${kind}` }))));
}

// Pending links point from a jump to the jump before it in its chain; a patched jump's
// arrow lands on its target, or below the last row when the target is the next command.
function drawArrows(rows, at, k, endMark) {
  const paths = [];
  const y = (n) => n * rowHeight + rowHeight / 2;
  rows.forEach((r, n) => {
    if (r.locked || !r.jump) return;
    let to = null, cls = '';
    if (r.pending) {
      const prev = r.link === endMark ? null : rows.find((p) => p.field === r.link);
      if (prev) { to = at.get(prev.adr); cls = 'link'; }
    } else if (r.target !== undefined) {
      to = at.has(r.target) ? at.get(r.target) : rows.length;
      cls = r.fixedAt === k - 1 || (r.fixedAt === undefined && r.event === k - 1) ? 'landed now' : 'landed';
    }
    if (to === null || to === undefined) return;
    const x = 6 + (n * 7) % 30;
    paths.push(svg('path', { d: `M 44 ${y(n)} C ${x} ${y(n)}, ${x} ${y(to)}, 44 ${y(to)}`, class: cls, 'data-adr': r.adr,
      'marker-end': `url(#head-${cls.split(' ')[0]})` }));
  });
  arrows.setAttribute('height', String((rows.length + 1) * rowHeight));
  arrows.replaceChildren(arrows.firstChild, ...paths);
}
