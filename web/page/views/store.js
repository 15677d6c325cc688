// The program store: all 1,024 bytes in hex, 16 to a row, each command's bytes in the
// colour of its source line and linked to its listing line; the bytes the program never
// uses are shown as such.
import { state, on } from '../state.js';
import { choose, colourOf } from './listing.js';
import { note } from './dom.js';

export const storeSize = 1024;
let root, body;

export function mount() {
  root = document.getElementById('panel-store');
  body = document.createElement('div');
  body.className = 'store';
  body.id = 'store';
  body.addEventListener('click', (e) => {
    const b = e.target.closest('[data-i]');
    if (b) choose(Number(b.dataset.i));
  });
  root.append(body);
  on((keys) => {
    if (keys.has('compiled')) render();
    // the chosen command's bytes are marked only while the view is shown
    if ((keys.has('selected') || keys.has('compiled') || keys.has('tab')) && state.tab === 'store') showSelected();
  });
}

function render() {
  const c = state.compiled;
  if (!c || !c.ok) { body.replaceChildren(note(c ? 'No store: the program does not compile.' : '')); return; }
  const owner = new Int32Array(storeSize).fill(-1), bytes = new Uint8Array(storeSize);
  c.commands.forEach((cmd, i) => cmd.bytes.forEach((b, k) => { bytes[cmd.adr + k] = b; owner[cmd.adr + k] = i; }));
  const last = c.commands[c.commands.length - 1];
  const used = last ? last.adr + last.bytes.length : 0;
  const caption = document.createElement('p');
  caption.className = 'note';
  caption.textContent = `${used} of ${storeSize} bytes used; bytes ${used} to ${storeSize - 1} are never used.`;
  const frag = document.createDocumentFragment();
  frag.append(caption);
  for (let row = 0; row < storeSize; row += 16) {
    const line = document.createElement('div');
    line.className = 'srow';
    const adr = document.createElement('span');
    adr.className = 'sadr';
    adr.textContent = String(row).padStart(4);
    line.append(adr);
    for (let a = row; a < row + 16; a++) {
      const b = document.createElement('span');
      const i = owner[a];
      b.textContent = bytes[a].toString(16).toUpperCase().padStart(2, '0');
      if (i >= 0) {
        const cmd = c.commands[i];
        b.className = `byte ${colourOf(cmd.line)}${a === cmd.adr ? ' first' : ''}`;
        b.dataset.i = i;
        b.title = `${cmd.adr}: ${cmd.text}`;
      } else {
        b.className = 'byte unused';
        b.title = 'never used';
      }
      line.append(b);
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
