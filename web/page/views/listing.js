// The listing, source beside code: each command with its address, its text, the variable
// named by Lod and Sto, and the source token that produced it. A command and the source
// line it came from share a colour; hovering or choosing a command marks its token in the
// editor, and the commands of the editor's selected lines are marked here.
import { state, set, on, cellNames, commandAt } from '../state.js';
import { decorate, tokenRange, reveal } from '../editor.js';
import { el, span, note } from './dom.js';

const colours = 6;
let page, root, rows = [];

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
    const row = e.target.closest('[data-i]');
    if (row) choose(Number(row.dataset.i));
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
    if (j === null) return;
    e.preventDefault();
    choose(j);
  });
  on((keys) => {
    if (keys.has('compiled')) render();
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

function render() {
  const c = state.compiled;
  rows = [];
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
    const said = `address ${cmd.adr}: ${cmd.text}${name ? `, variable ${name}` : ''}, from ${token} at line ${cmd.line}, column ${cmd.col}`;
    // the columns are for the eye; a screen reader reads the words instead
    const columns = el('span', { attrs: { 'aria-hidden': 'true' } },
      span('adr', `${String(cmd.adr).padStart(4)}: `),
      span('txt', cmd.text),
      span('name', name ? ` (${name})` : ''),
      span('src', `${cmd.line}:${cmd.col} ${token}`));
    const row = el('div', { className: `row ${colourOf(cmd.line)}`, id: `cmd-${i}`, dataset: { i },
      attrs: { role: 'option', 'aria-selected': 'false' } }, columns, span('sr-only', said));
    frag.append(row);
    rows.push(row);
    lines.add(cmd.line);
  });
  root.replaceChildren(frag);
  decorate(page.editor, 'colors', [...lines].map((line) => ({ line, cls: colourOf(line) })));
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
