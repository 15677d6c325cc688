// The console's texts, exactly as the console writes them, to read, copy or download:
// the listing, the generator trace and the execution trace, or either stream whole.
import { state, on } from '../state.js';
import { Lines, splitLines } from './lines.js';
import { el, button, labelled, choice } from './dom.js';

const kinds = [
  ['listing', 'Listing'],
  ['trace', 'Generator trace'],
  ['execTrace', 'Execution trace'],
  ['stdout', 'Standard output'],
  ['stderr', 'Standard error'],
];
let select, lines, info, shown = { text: '' };
const decoder = new TextDecoder('latin1');

let page;

export function mount(p) {
  page = p;
  const root = document.getElementById('panel-console');
  select = choice('console-text', kinds);
  const copy = button('Copy', async () => {
    try { await navigator.clipboard.writeText(textOf(shown)); info.textContent = 'Copied.'; }
    catch { info.textContent = 'The browser did not allow copying.'; }
  });
  const save = button('Download', async () => {
    const blob = shown.cut ? await wholeOf(select.value) : new Blob([shown.bytes ?? shown.text], { type: 'text/plain' });
    const a = el('a', { href: URL.createObjectURL(blob), download: `tov-${select.value}.txt` });
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  });
  info = el('span', { className: 'info', attrs: { role: 'status' } });
  root.append(el('div', { className: 'toolbar' }, labelled('Text', select), copy, save, info));
  lines = new Lines(root, 'Console text');
  select.addEventListener('change', render);
  // a long run's texts are large: they are decoded only when this view shows them
  on((keys) => {
    if ((keys.has('compiled') || keys.has('run') || keys.has('tab')) && state.tab === 'console') render();
  });
}

// The text the console writes for the current program: after a Run, the bytes of its
// streams and their parts; before, the compiler's texts.
function current(kind) {
  const r = state.run, c = state.compiled;
  if (r) {
    const parts = {
      stdout: r.stdout, stderr: r.stderr, listing: r.stdout.subarray(0, r.listingLength),
      trace: r.stderr.subarray(0, r.traceLength), execTrace: r.stderr.subarray(r.traceLength),
    };
    // what a long Run cut: the stream's kept bytes are fewer than it wrote
    const whole = { stdout: r.stdoutLength, stderr: r.stderrLength, execTrace: r.stderrLength - r.traceLength,
      listing: r.listingLength, trace: r.traceLength }[kind];
    return { bytes: parts[kind], cut: whole > parts[kind].length ? whole : 0 };
  }
  if (!c) return { text: '' };
  const compiled = { listing: c.listing, trace: c.trace, stdout: c.listing, stderr: c.trace };
  if (kind in compiled) return { text: compiled[kind] };
  return { text: '', note: 'Run the program to see its execution trace.' };
}

const textOf = (t) => t.text ?? decoder.decode(t.bytes);

// A text of the last Run whole, from the worker, which runs the program again for it.
async function wholeOf(kind) {
  const r = state.run, stream = kind === 'stdout' ? 'stdout' : 'stderr';
  info.textContent = 'Running the program again for the whole text…';
  const blob = await page.call('whole', { source: state.source, limit: r.limit, stream });
  info.textContent = '';
  return kind === 'execTrace' ? blob.slice(r.traceLength, blob.size, 'text/plain') : blob;
}

function render() {
  shown = current(select.value);
  let count;
  if (shown.bytes) {
    const starts = lineStarts(shown.bytes);
    count = starts.length - 1;
    lines.set(count, (n) => lineAt(shown.bytes, starts[n], starts[n + 1]));
  } else {
    const all = splitLines(shown.text);
    count = all.length;
    lines.set(count, (n) => all[n]);
  }
  const n = `${count.toLocaleString('en')} lines`;
  info.textContent = shown.note ?? (shown.cut
    ? `Cut: the first ${shown.bytes.length.toLocaleString('en')} of ${shown.cut.toLocaleString('en')} bytes (${n}); Download has the whole.`
    : n);
}

// Where each line of bytes starts, and the end: found by the browser's own search, so
// that a Run's 16 MiB open without being made into text; a line is decoded when drawn.
function lineStarts(bytes) {
  const starts = [0];
  for (let at = bytes.indexOf(10); at >= 0; at = bytes.indexOf(10, at + 1)) starts.push(at + 1);
  if (starts.at(-1) !== bytes.length) starts.push(bytes.length); // a last line cut short
  return starts;
}

function lineAt(bytes, from, to) {
  if (bytes[to - 1] === 10) to--;
  if (bytes[to - 1] === 13) to--;
  return decoder.decode(bytes.subarray(from, to));
}
