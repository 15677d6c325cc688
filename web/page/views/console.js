// The console's texts, exactly as the console writes them, to read, copy or download:
// the listing, the generator trace and the execution trace, or either stream whole.
import { state, on } from '../state.js';
import { Lines, splitLines } from './lines.js';

const kinds = [
  ['listing', 'Listing'],
  ['trace', 'Generator trace'],
  ['execTrace', 'Execution trace'],
  ['stdout', 'Standard output'],
  ['stderr', 'Standard error'],
];
let select, lines, info, text = '';

export function mount() {
  const root = document.getElementById('panel-console');
  const bar = document.createElement('div');
  bar.className = 'toolbar';
  const label = document.createElement('label');
  label.textContent = 'Text ';
  select = document.createElement('select');
  select.id = 'console-text';
  for (const [value, name] of kinds) select.append(new Option(name, value));
  label.append(select);
  const copy = button('Copy', async () => {
    try { await navigator.clipboard.writeText(text); info.textContent = 'Copied.'; }
    catch { info.textContent = 'The browser did not allow copying.'; }
  });
  const save = button('Download', () => {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
    a.download = `tov-${select.value}.txt`;
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  });
  info = document.createElement('span');
  info.className = 'info';
  info.setAttribute('role', 'status');
  bar.append(label, copy, save, info);
  root.append(bar);
  lines = new Lines(root, 'Console text');
  select.addEventListener('change', render);
  on((keys) => { if (keys.has('compiled') || keys.has('run')) render(); });
}

// The text the console writes for the current program; only a Run gives the parts that
// come from executing it.
function current(kind) {
  const r = state.run, c = state.compiled;
  if (r) return { text: r[kind] };
  if (!c) return { text: '' };
  const compiled = { listing: c.listing, trace: c.trace, stdout: c.listing, stderr: c.trace };
  if (kind in compiled) return { text: compiled[kind] };
  return { text: '', note: 'Run the program to see its execution trace.' };
}

function render() {
  const { text: t, note } = current(select.value);
  text = t;
  const all = splitLines(t);
  lines.set(all.length, (n) => all[n]);
  info.textContent = note ?? `${all.length.toLocaleString('en')} lines`;
}

export function button(name, onClick) {
  const b = document.createElement('button');
  b.type = 'button';
  b.textContent = name;
  b.addEventListener('click', onClick);
  return b;
}
