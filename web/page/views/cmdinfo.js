// What a command does: one tooltip, for the command pointed at or, while a view has the
// focus, the command chosen there: in the listing, the compiler replay's rows, the
// store's bytes and the machine's current command. Its texts (stack, cond, pc) are the
// module's command table (constants.functionEffects and operationEffects), its bytes and
// length the command record's. Also the parser's rules at the replayed event.
import { state, on, commandAt } from '../state.js';
import { el, span } from './dom.js';

let tip, current, rulesLine, machineCmd;
let anchor = null; // the element the tooltip is placed at

export function mount() {
  tip = el('div', { id: 'cmd-tip', className: 'cmd-tip', hidden: true, attrs: { role: 'tooltip' } });
  document.querySelector('main').append(tip);
  machineCmd = el('p', { id: 'machine-cmd', className: 'note', tabIndex: 0, hidden: true });
  document.getElementById('machine-info').after(machineCmd);
  rulesLine = el('p', { id: 'replay-rules', className: 'note' });
  document.getElementById('replay-lock').after(rulesLine);

  const listing = document.getElementById('listing');
  const store = document.getElementById('store');
  const replay = document.getElementById('replay-store');
  const replayBox = replay.parentElement;
  // each place: its box, the command of an element under the pointer (with the element
  // that the tooltip then describes), and the command its view has chosen (the same,
  // and the element to place the tooltip at) for when it has the focus
  const places = [
    [listing, (t) => {
      const row = t.closest('#listing [data-i]');
      return row && [row, rowCmd(row), row];
    }, () => chosen((i) => document.getElementById(`cmd-${i}`), (row) => row)],
    [store, (t) => {
      const b = t.closest('.byte[data-i]');
      return b && [b, rowCmd(b), store];
    }, () => chosen((i) => store.querySelector(`.byte[data-i="${i}"]`), () => store)],
    [replayBox, (t) => {
      const row = t.closest('[data-ev]');
      return row && [row, replayCmd(row), replayBox];
    }, () => {
      const row = replay.querySelector('[data-now]');
      return row && [row, replayCmd(row), replayBox];
    }],
    [machineCmd, () => [machineCmd, machineRecord(), machineCmd], () => [machineCmd, machineRecord(), machineCmd]],
  ];
  for (const [box, pointed] of places) {
    box.addEventListener('mouseover', (e) => {
      const found = pointed(e.target);
      if (found?.[1]) show(...found);
    });
    box.addEventListener('mouseleave', showFocused);
    box.addEventListener('focusin', showFocused);
    box.addEventListener('focusout', () => setTimeout(showFocused));
    box.addEventListener('keydown', (e) => { if (e.key === 'Escape') hide(); });
  }
  // the chosen command of the view that has the focus, if any
  function showFocused() {
    const place = places.find(([box]) => box.contains(document.activeElement));
    const found = place?.[2]();
    if (found?.[1]) show(...found);
    else hide();
  }
  // a view that scrolls takes the tooltip along
  document.addEventListener('scroll', () => { if (!tip.hidden && anchor?.isConnected) place(); }, true);
  on((keys) => {
    if (keys.has('machine') || keys.has('compiled')) showMachine();
    if (keys.has('replay') || keys.has('compiled') || keys.has('tab')) showRules();
    // the views have drawn by now: their listeners come first
    if (keys.has('compiled')) hide();
    else if (keys.has('selected') || keys.has('replay') || keys.has('machine') || keys.has('tab')) showFocused();
  });
}

// The command of a listing row or a store byte.
function rowCmd(e) {
  return e ? state.compiled?.commands?.[Number(e.dataset.i)] ?? null : null;
}

// The command a replay row shows: as emitted, or as its fix-up patched it.
function replayCmd(row) {
  const e = row ? state.compiled?.events?.[Number(row.dataset.ev)] : null;
  return e ? e.jump ?? e.cmd ?? null : null;
}

// The command chosen in the listing, the element that shows it there and the one
// that the tooltip then describes.
function chosen(at, owner) {
  const i = state.selected;
  const c = i === null ? null : state.compiled?.commands?.[i];
  const e = c ? at(i) : null;
  return e ? [e, c, owner(e)] : null;
}

function machineRecord() {
  const i = state.machine ? commandAt(state.machine.pc) : -1;
  return i >= 0 ? state.compiled.commands[i] : null;
}

// The words for a command record: what it is, its bytes, what it does.
function describe(c) {
  const k = state.constants;
  const e = c.operand === 'operation' ? k.operationEffects[c.opd] : k.functionEffects[c.fct];
  const hex = c.bytes.map((b) => b.toString(16).toUpperCase().padStart(2, '0')).join(' ');
  return { head: `${c.adr}: ${c.text}`, bytes: `${c.length} ${c.length === 1 ? 'byte' : 'bytes'}: ${hex}`, ...e };
}

// Shows the tooltip for command c at element at, as the description of owner.
function show(at, c, owner) {
  if (!state.constants || !c) return;
  const d = describe(c);
  tip.replaceChildren(
    el('div', { className: 'tip-head' }, span('tip-cmd', d.head), ', ', span('tip-bytes', d.bytes)),
    line('stack', d.stack), line('cond', d.cond), line('pc', d.pc));
  tip.hidden = false;
  if (current && current !== owner) current.removeAttribute('aria-describedby');
  current = owner;
  owner.setAttribute('aria-describedby', 'cmd-tip');
  anchor = at;
  place();
}

const line = (name, text) => el('div', {}, span('tip-name', `${name}: `), span(`tip-${name}`, text));

function hide() {
  tip.hidden = true;
}

// Below the element, or above it where the window ends.
function place() {
  const r = anchor.getBoundingClientRect(), h = tip.offsetHeight, w = tip.offsetWidth;
  const top = r.bottom + 4 + h > innerHeight ? r.top - 4 - h : r.bottom + 4;
  tip.style.top = `${Math.max(0, top)}px`;
  tip.style.left = `${Math.max(0, Math.min(r.left, innerWidth - w - 4))}px`;
}

// The command the machine runs next, to point at or focus.
function showMachine() {
  const c = machineRecord();
  machineCmd.hidden = !c;
  machineCmd.textContent = c ? `Next command: ${c.adr}: ${c.text}` : '';
}

// The grammar rules the parser is in at the replayed event, outermost first; in words
// for a screen reader, innermost first.
function showRules() {
  const events = state.compiled?.events ?? [];
  const e = events[Math.min(state.replay, events.length) - 1];
  const rules = e?.rules ?? [];
  if (!rules.length) { rulesLine.replaceChildren(); return; }
  rulesLine.replaceChildren(
    el('span', { attrs: { 'aria-hidden': 'true' }, text: `Parsing: ${rules.join(' → ')}` }),
    span('sr-only', `The parser is in ${[...rules].reverse().join(', in ')}.`));
}
