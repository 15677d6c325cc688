// Stepping in the learner's terms: a statement at a time (all the commands of a source
// line), on to a breakpoint, on until a variable changes, on to the cursor's line. Each
// is one search of the recording in the worker; the page then says where the machine
// stopped and why, or that it never got there.
//
// Breakpoints are set on listing rows (a narrow column at the rows' left, or B on the
// chosen row) and on source lines (the editor's breakpoint gutter, or F9 / Ctrl+B on the
// cursor's line). They belong to this page, never to the link, and each stays while the
// program still compiles it to the same line.
import { StateEffect } from '@codemirror/state';
import { EditorView, gutter, GutterMarker, keymap } from '@codemirror/view';
import { state, set, on } from '../state.js';
import { el } from './dom.js';

let page, said, runButton;
const rowBreaks = new Map(); // address -> the source line its command came from
const lineBreaks = new Set(); // source lines
let lineOf = new Int32Array(0); // the source line of each store address, 0 for none
let holding = false; // while a search sets the machine, whose message stays

export function mount(p, info) {
  page = p;
  said = el('p', { className: 'note', id: 'machine-said', attrs: { 'aria-live': 'polite' } });
  info.after(said);
  const listing = document.getElementById('listing');
  listing.setAttribute('aria-keyshortcuts', 'B'); // a breakpoint on the chosen row
  // before the listing's own click, which would choose the row: a marker only toggles
  listing.addEventListener('click', (e) => {
    const row = e.target.closest('.bp') && e.target.closest('[data-i]');
    if (!row) return;
    e.stopPropagation();
    toggleRow(Number(row.dataset.i));
  }, { capture: true });
  listing.addEventListener('keydown', (e) => {
    if ((e.key === 'b' || e.key === 'B') && !e.ctrlKey && !e.altKey && !e.metaKey && state.selected !== null) {
      e.preventDefault();
      toggleRow(state.selected);
    }
  });
  const toggleCursor = () => { toggleLine(state.cursorLine); return true; };
  page.editor.dispatch({ effects: StateEffect.appendConfig.of([
    gutter({
      class: 'cm-breaks',
      lineMarker: (view, line) => (lineBreaks.has(view.state.doc.lineAt(line.from).number) ? dot : null),
      lineMarkerChange: (u) => u.transactions.some((t) => t.effects.some((x) => x.is(redraw))),
      initialSpacer: () => spacer,
      domEventHandlers: {
        mousedown(view, line) {
          toggleLine(view.state.doc.lineAt(line.from).number);
          return true;
        },
      },
    }),
    keymap.of([{ key: 'F9', run: toggleCursor }, { key: 'Mod-b', run: toggleCursor }]),
    EditorView.contentAttributes.of({ 'aria-keyshortcuts': 'F9 Control+B' }),
  ]) });
  on((keys) => {
    if (keys.has('compiled')) compiled();
    if (keys.has('machine') && !holding) say('');
  });
}

// The Run to end button, which reads Continue while there are breakpoints to stop at.
export function runOnButton(b) {
  runButton = b;
  label();
  return b;
}

function label() {
  const any = rowBreaks.size + lineBreaks.size > 0;
  runButton.textContent = any ? 'Continue' : 'Run to end';
  runButton.title = any ? 'Run on to the next breakpoint or the end (F5)' : 'Run to the end or the step limit (F5)';
}

function say(text) { said.textContent = text; }

const steps = (n) => n.toLocaleString('en');

// One search from the machine's state (recording the run first), shown as the machine's
// new state; resolves to {found, from, before} or null when there is nothing to search.
async function search(args) {
  if (!state.compiled?.ok) return null;
  if (state.tab !== 'machine') page.showTab('machine');
  const source = state.source;
  if (!(await page.record())) return null;
  const before = state.machine;
  const r = await page.call('search', { from: before.step, lines: lineOf, ...args });
  if (!r || source !== state.source) return null;
  holding = true;
  try { set({ machine: r.machine }); } finally { holding = false; }
  say('');
  return { found: r.found, from: before.step, before };
}

// On to the first command of the next source line, or back to where the run came to the
// line it is on (from there, to the one before).
export async function lineStep(back) {
  await search({ by: 'line', back });
}

// On to the next breakpoint, or to the end.
export async function runOn() {
  const r = await search({ by: 'break', adrs: [...rowBreaks.keys()], breakLines: [...lineBreaks] });
  if (!r?.found) return;
  const pc = state.machine.pc, line = lineOf[pc];
  say(rowBreaks.has(pc)
    ? `Stopped at the breakpoint at address ${pc} (line ${line}), step ${steps(state.machine.step)}.`
    : `Stopped at the breakpoint on line ${line}, step ${steps(state.machine.step)}.`);
}

// On to the next command of the cursor's line; the machine stays when there is none.
export async function toCursor() {
  if (!state.compiled?.ok) return;
  const line = state.cursorLine;
  const adrs = state.compiled.commands.filter((c) => c.line === line).map((c) => c.adr);
  if (!adrs.length) { say(`No command comes from line ${line}.`); return; }
  const r = await search({ by: 'adrs', adrs, stay: true });
  if (r && !r.found) say(`Line ${line} is not reached again after step ${steps(r.from)}.`);
}

// A control in the Variables box that runs on until variable v's cell changes.
export function changeButton(v) {
  return el('button', { type: 'button', className: 'until', text: 'until changed', dataset: { cell: v.cell },
    title: `Run on until ${v.name} changes`, attrs: { 'aria-label': `Run ${v.name} until changed` },
    on: { click: () => untilChanged(v) } });
}

async function untilChanged(v) {
  if (!state.compiled?.ok) return;
  // only the commands whose operand is the cell can change it
  const adrs = state.compiled.commands.filter((c) => c.operand === 'cell' && c.opd === v.cell).map((c) => c.adr);
  const focused = document.activeElement?.dataset?.cell === String(v.cell);
  const r = await search({ by: 'cell', cell: v.cell, adrs });
  if (!r) return;
  // the box is drawn anew: the keyboard stays on this variable's control
  if (focused) document.querySelector(`#machine-cells .until[data-cell="${v.cell}"]`)?.focus();
  const m = state.machine;
  say(r.found
    ? `${v.name} changed from ${r.before.cells[v.cell]} to ${m.cells[v.cell]} at step ${steps(m.step)}.`
    : `${v.name} never changed after step ${steps(r.from)}; the run is at its end.`);
}

function toggleRow(i) {
  const c = state.compiled?.commands?.[i];
  if (!c) return;
  if (rowBreaks.has(c.adr)) rowBreaks.delete(c.adr); else rowBreaks.set(c.adr, c.line);
  changed();
}

function toggleLine(line) {
  if (lineBreaks.has(line)) lineBreaks.delete(line); else lineBreaks.add(line);
  changed();
}

// A new program keeps the breakpoints whose lines it still has commands of.
function compiled() {
  const c = state.compiled;
  const commands = c?.ok ? c.commands : [], last = commands.at(-1);
  lineOf = new Int32Array(Math.max(state.constants?.store.size ?? 0, last ? last.adr + last.length : 0));
  const has = new Set();
  for (const cmd of commands) {
    lineOf[cmd.adr] = cmd.line;
    has.add(cmd.line);
  }
  if (c?.ok) {
    for (const [adr, line] of rowBreaks) if (lineOf[adr] !== line) rowBreaks.delete(adr);
    for (const line of lineBreaks) if (!has.has(line)) lineBreaks.delete(line);
  }
  say('');
  changed();
}

function changed() {
  page.editor.dispatch({ effects: redraw.of(null) });
  label();
  const commands = state.compiled?.ok ? state.compiled.commands : [];
  for (const row of document.querySelectorAll('#listing .row')) {
    const c = commands[Number(row.dataset.i)];
    if (!c) continue;
    let bp = row.querySelector(':scope > .bp');
    if (!bp) {
      // empty, drawn by the style sheet, so that the row's text stays the listing's
      bp = el('span', { className: 'bp', attrs: { 'aria-hidden': 'true' } });
      row.prepend(bp);
    }
    const marked = rowBreaks.has(c.adr), sr = row.querySelector(':scope > .bp-said');
    row.classList.toggle('break', marked);
    row.classList.toggle('line-break', lineBreaks.has(c.line));
    if (marked && !sr) row.append(el('span', { className: 'sr-only bp-said', text: ', breakpoint' }));
    else if (!marked && sr) sr.remove();
  }
}

const redraw = StateEffect.define();

class Dot extends GutterMarker {
  constructor(cls) { super(); this.cls = cls; }
  eq(other) { return other.cls === this.cls; }
  toDOM() { return el('span', { className: this.cls, text: '●' }); }
}
const dot = new Dot('bp-dot'), spacer = new Dot('bp-space');
