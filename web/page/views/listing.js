// The listing, source beside code: each command with its address, its text, the variable
// named by Lod and Sto, and the source token that produced it. A command and the source
// line it came from share a colour; hovering or choosing a command marks its token in the
// editor, and the commands of the editor's selected lines are marked here.
// Each jump has an arrow to its target in a gutter; its operand goes there (a click, or
// Enter), and a target tells where it is jumped from (a click on an address, or
// Shift+Enter). While the Compiler tab is shown the listing is the store at the replay's
// event: pending jumps as the generator wrote them, commands not yet emitted dimmed.
import { state, set, on, cellNames, commandAt } from '../state.js';
import { decorate, tokenRange, reveal } from '../editor.js';
import { el, svg, span, note } from './dom.js';
import { storeAt, pendingText, jumpText, heads, draw } from './arrows.js';

const colours = 6;
let page, root, gutter, rows = [];
// per row: its parts to fill (txt, tag, said), the words that stay, and where its operand
// and Shift+Enter go (row numbers); `shown` is the mode drawn: 'final' or the replay's event
let parts = [], shown = null;
const fromSeen = new Map(); // target row -> the last of its jumps that Shift+Enter went to

export function colourOf(line) { return `c${line % colours}`; }

export function mount(p) {
  page = p;
  root = document.getElementById('listing');
  root.addEventListener('mouseover', (e) => {
    const row = e.target.closest('[data-i]');
    if (row) mark(Number(row.dataset.i));
  });
  root.addEventListener('mouseleave', () => mark(state.selected));
  root.addEventListener('click', (e) => {
    const go = e.target.closest('[data-go]');
    const row = e.target.closest('[data-i]');
    if (go) choose(Number(go.dataset.go));
    else if (row) choose(Number(row.dataset.i));
  });
  root.addEventListener('keydown', (e) => {
    const n = rows.length;
    if (!n) return;
    const i = state.selected ?? -1;
    let j = null;
    if (e.key === 'ArrowDown') j = Math.min(n - 1, i + 1);
    else if (e.key === 'ArrowUp') j = Math.max(0, i - 1);
    else if (e.key === 'Home') j = 0;
    else if (e.key === 'End') j = n - 1;
    else if (e.key === 'Enter' && i >= 0) j = e.shiftKey ? nextFrom(i) : parts[i].go ?? null;
    if (j === null) return;
    e.preventDefault();
    choose(j);
  });
  root.setAttribute('aria-keyshortcuts', 'Enter Shift+Enter');
  gutter = svg('svg', { class: 'arrows', 'aria-hidden': 'true' }, heads('listing-head'));
  on((keys) => {
    if (keys.has('compiled')) render();
    if (keys.has('compiled') || keys.has('constants') || keys.has('tab') || (keys.has('replay') && state.tab === 'replay')) show();
    if (keys.has('selected') || keys.has('compiled')) showSelected();
    if (keys.has('selLines') || keys.has('compiled')) showLinked();
    if (keys.has('machine') || keys.has('compiled')) showCurrent();
  });
}

export function choose(i) {
  set({ selected: i });
  const c = state.compiled.commands[i];
  reveal(page.editor, tokenRange(page.editor, c.line, c.col).from);
}

function mark(i) {
  const c = i === null || i === undefined ? null : state.compiled?.commands?.[i];
  decorate(page.editor, 'mark', c ? [{ ...tokenRange(page.editor, c.line, c.col), cls: 'cm-marked' }] : []);
}

// Shift+Enter on a target: the next of the jumps to it, in turn.
function nextFrom(i) {
  const from = parts[i].from;
  if (!from?.length) return null;
  const j = from[(from.indexOf(fromSeen.get(i)) + 1) % from.length];
  fromSeen.set(i, j);
  return j;
}

function render() {
  const c = state.compiled;
  rows = [];
  parts = [];
  shown = null;
  fromSeen.clear();
  if (!c || !c.ok) {
    root.replaceChildren(note(c ? 'No listing: the program does not compile.' : ''));
    decorate(page.editor, 'colors', []);
    return;
  }
  const names = cellNames(), doc = page.editor.state.doc, lines = new Set();
  const frag = document.createDocumentFragment();
  c.commands.forEach((cmd, i) => {
    const name = cmd.operand === 'cell' ? names.get(cmd.opd) : undefined;
    const { from, to } = tokenRange(page.editor, cmd.line, cmd.col);
    const token = doc.sliceString(from, to);
    // read as words: "address 5: Sto 0, variable x, from x at line 6, column 3"
    const rest = `${name ? `, variable ${name}` : ''}, from ${token} at line ${cmd.line}, column ${cmd.col}`;
    // the columns are for the eye; a screen reader reads the words instead
    const p = { txt: span('txt', cmd.text), tag: span('tag', ''), said: span('sr-only', `address ${cmd.adr}: ${cmd.text}${rest}`), rest };
    const columns = el('span', { attrs: { 'aria-hidden': 'true' } },
      span('adr', `${String(cmd.adr).padStart(4)}: `),
      p.txt,
      span('name', name ? ` (${name})` : ''), p.tag,
      span('src', `${cmd.line}:${cmd.col} ${token}`));
    const row = el('div', { className: `row ${colourOf(cmd.line)}`, id: `cmd-${i}`, dataset: { i },
      attrs: { role: 'option', 'aria-selected': 'false' } }, columns, p.said);
    frag.append(row);
    parts.push(p);
    rows.push(row);
    lines.add(cmd.line);
  });
  root.replaceChildren(gutter, frag);
  decorate(page.editor, 'colors', [...lines].map((line) => ({ line, cls: colourOf(line) })));
}

// The jumps and their arrows: of the final listing, or, while the Compiler tab is shown,
// of the store at the replay's event.
function show() {
  const c = state.compiled, consts = state.constants;
  if (!c?.ok || !parts.length || !consts) return;
  const k = state.tab === 'replay' ? Math.min(state.replay, c.events.length) : null;
  const mode = k === null ? 'final' : k;
  if (mode === shown) return;
  shown = mode;
  const store = k === null ? null : storeAt(c, k, consts);
  const at = store && new Map(store.filter((r) => !r.locked).map((r) => [r.adr, r]));
  const n = c.commands.length, last = c.commands[n - 1], end = last.adr + last.length;
  const rowOf = (adr) => (adr === end ? n : commandAt(adr));
  const jumps = [], from = new Map();
  c.commands.forEach((cmd, i) => {
    const p = parts[i], r = at ? at.get(cmd.adr) : null;
    p.emitted = !at || r !== undefined;
    p.jump = null;
    if (cmd.field === null || !p.emitted) return;
    const when = consts.jumps[cmd.fct];
    const j = r ? { ...r, from: i } : { from: i, adr: cmd.adr, text: cmd.text, name: cmd.name, target: cmd.opd, when };
    if (j.pending) {
      // a pending jump points at the jump before it in its chain, if any
      const prev = j.place === 'next' ? store.find((q) => q.field === j.link && !q.locked) : null;
      if (prev) Object.assign(j, { to: commandAt(prev.adr), dest: prev.adr });
    } else {
      const to = rowOf(j.target);
      if (to >= 0) Object.assign(j, { to, dest: j.target });
      if (to >= 0 && to < n) from.set(to, [...(from.get(to) ?? []), i]);
    }
    p.jump = j;
    if (j.to !== undefined) jumps.push(j);
  });
  parts.forEach((p, i) => {
    const j = p.jump, cmd = c.commands[i];
    p.go = j?.to !== undefined && j.to < n ? j.to : null;
    p.from = from.get(i) ?? null;
    const text = j ? j.text : cmd.text, waits = j?.pending ? pendingText(j, store) : '';
    // most rows stay as they were from one event to the next: only those that change are redrawn
    const key = `${p.emitted} ${text} ${p.go} ${waits} ${p.from}`;
    if (key === p.key) return;
    p.key = key;
    rows[i].classList.toggle('unemitted', !p.emitted);
    // the operand goes where the arrow points
    if (j && p.go !== null && text.startsWith(`${j.name} `)) {
      p.txt.replaceChildren(`${j.name} `, el('span', { className: 'go', text: text.slice(j.name.length + 1), dataset: { go: p.go } }));
    } else {
      p.txt.textContent = text;
    }
    const words = [`address ${cmd.adr}: ${text}${p.rest}`];
    if (j) words.push(j.pending ? `${jumpText(j.when, j.adr)}, ${waits}` : jumpText(j.when, j.adr, j.target));
    p.tag.replaceChildren();
    if (waits) p.tag.append(` ${waits}`);
    if (p.from) {
      const adrs = p.from.map((f) => c.commands[f].adr);
      p.tag.append(' from ', ...p.from.flatMap((f, m) => [m ? ', ' : '',
        el('span', { className: 'go', text: String(adrs[m]), dataset: { go: f } })]));
      words.push(`jumped to from ${adrs.join(' and ')}`);
    }
    if (!p.emitted) words.push('not yet emitted');
    p.said.textContent = words.join(', ');
  });
  root.style.setProperty('--gutter', `${draw(gutter, 'listing-head', jumps, n)}px`);
  // a fix-up in the replay brings its jump into sight (a command chooses its own row)
  const e = k ? c.events[k - 1] : null;
  if (e?.kind === 'fixup') rows[commandAt(e.at - consts.store.fieldAt)]?.scrollIntoView({ block: 'nearest' });
}

function showSelected() {
  for (const r of root.querySelectorAll('.chosen')) {
    r.classList.remove('chosen');
    r.setAttribute('aria-selected', 'false');
  }
  const i = state.selected;
  const row = i === null ? null : rows[i];
  if (row) {
    row.classList.add('chosen');
    row.setAttribute('aria-selected', 'true');
    root.setAttribute('aria-activedescendant', row.id);
    row.scrollIntoView({ block: 'nearest' });
  } else {
    root.removeAttribute('aria-activedescendant');
  }
  mark(i);
}

function showLinked() {
  const [a, b] = state.selLines ?? [0, 0];
  let first = null;
  rows.forEach((row, i) => {
    const line = state.compiled.commands[i].line;
    const on = line >= a && line <= b;
    row.classList.toggle('linked', on);
    if (on && first === null) first = row;
  });
  if (first && state.selected === null) first.scrollIntoView({ block: 'nearest' });
}

function showCurrent() {
  for (const r of root.querySelectorAll('.current')) r.classList.remove('current');
  const m = state.machine;
  if (!m) return;
  const i = commandAt(m.pc);
  if (i >= 0) {
    rows[i].classList.add('current');
    rows[i].scrollIntoView({ block: 'nearest' });
  }
}
