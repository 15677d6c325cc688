// The program store: all its bytes in hex, 16 to a row, each command's bytes in the
// colour of its source line and linked to its listing line; the bytes the program never
// uses are shown as such. The arrow keys move from command to command.
import { state, on } from '../state.js';
import { choose, colourOf } from './listing.js';
import { el, note } from './dom.js';

let root, body;

export function mount() {
  root = document.getElementById('panel-store');
  body = el('div', { className: 'store', id: 'store', tabIndex: 0,
    attrs: { role: 'group', 'aria-label': 'Program store, bytes in hex; arrow keys choose a command' },
    on: { click: (e) => {
      const b = e.target.closest('[data-i]');
      if (b) choose(Number(b.dataset.i));
    }, keydown: keys } });
  root.append(body);
  // drawn while shown: a new program costs a hidden view nothing
  let stale = true;
  on((keys) => {
    if (keys.has('compiled') || keys.has('constants')) stale = true;
    if (stale && state.tab === 'store') {
      stale = false;
      render();
    }
    // the chosen command's bytes are marked only while the view is shown
    if ((keys.has('selected') || keys.has('compiled') || keys.has('tab')) && state.tab === 'store') showSelected();
  });
}

function keys(e) {
  const n = state.compiled?.commands?.length ?? 0;
  const step = { ArrowRight: 1, ArrowDown: 1, ArrowLeft: -1, ArrowUp: -1 }[e.key];
  const i = state.selected ?? -1;
  let j = null;
  if (step) j = i + step;
  else if (e.key === 'Home') j = 0;
  else if (e.key === 'End') j = n - 1;
  if (j === null || !n) return;
  e.preventDefault();
  choose(Math.max(0, Math.min(n - 1, j)));
}

function render() {
  const c = state.compiled;
  const storeSize = state.constants?.store.size ?? 0;
  if (!c || !c.ok) { body.replaceChildren(note(c ? 'No store: the program does not compile.' : '')); return; }
  const owner = new Int32Array(storeSize).fill(-1), bytes = new Uint8Array(storeSize);
  c.commands.forEach((cmd, i) => cmd.bytes.forEach((b, k) => { bytes[cmd.adr + k] = b; owner[cmd.adr + k] = i; }));
  const last = c.commands[c.commands.length - 1];
  const used = last ? last.adr + last.bytes.length : 0;
  const frag = document.createDocumentFragment();
  frag.append(note(`${used} of ${storeSize} bytes used; bytes ${used} to ${storeSize - 1} are never used.`));
  for (let row = 0; row < storeSize; row += 16) {
    const line = el('div', { className: 'srow' }, el('span', { className: 'sadr', text: String(row).padStart(4) }));
    for (let a = row; a < row + 16; a++) {
      const i = owner[a], cmd = c.commands[i], text = bytes[a].toString(16).toUpperCase().padStart(2, '0');
      line.append(cmd
        ? el('span', { className: `byte ${colourOf(cmd.line)}${a === cmd.adr ? ' first' : ''}`, text,
          dataset: { i } }) // what the command does: cmdinfo.js's tooltip
        : el('span', { className: 'byte unused', text, title: 'never used' }));
    }
    frag.append(line);
  }
  body.replaceChildren(frag);
}

function showSelected() {
  for (const b of body.querySelectorAll('.byte.chosen')) b.classList.remove('chosen');
  if (state.selected === null) return;
  const bytes = body.querySelectorAll(`.byte[data-i="${state.selected}"]`);
  for (const b of bytes) b.classList.add('chosen');
  bytes[0]?.scrollIntoView({ block: 'nearest' });
}
