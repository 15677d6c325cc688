// A scrolling list of text lines that draws only the lines in sight, so that a trace of a
// million lines scrolls as easily as ten. The lines may come later: a line not there yet
// is asked for (with those around it) and drawn when it arrives.
import { el } from './dom.js';

export const rowHeight = 18;

export class Lines {
  // onPick(n) is called when line n is clicked or chosen with Enter.
  constructor(root, label, onPick) {
    this.inner = el('div', { className: 'lines-inner' });
    this.box = el('div', { className: 'lines', tabIndex: 0, attrs: { role: 'list', 'aria-label': label } }, this.inner);
    root.append(this.box);
    this.count = 0;
    this.line = () => '';
    this.marked = -1;
    this.box.addEventListener('scroll', () => this.draw());
    new ResizeObserver(() => this.draw()).observe(this.box);
    if (onPick) {
      this.box.addEventListener('click', (e) => {
        const row = e.target.closest('[data-n]');
        if (row) onPick(Number(row.dataset.n));
      });
      // the arrow keys pick the line after or before the marked one, Enter the marked one
      this.box.addEventListener('keydown', (e) => {
        if (e.key === 'Enter' && this.marked >= 0) { e.preventDefault(); onPick(this.marked); return; }
        const step = { ArrowDown: 1, ArrowUp: -1, PageDown: 20, PageUp: -20 }[e.key];
        if (!step || !this.count) return;
        e.preventDefault();
        onPick(Math.max(0, Math.min(this.count - 1, this.marked + step)));
      });
    }
  }

  // line(n) gives line n, or undefined while it is not there; load(first, last) then
  // fetches lines first to last - 1 and resolves once line() has them.
  set(count, line, load = null) {
    this.count = count;
    this.line = line;
    this.load = load;
    this.tried = null;
    this.inner.style.height = `${count * rowHeight}px`;
    this.draw();
  }

  // Marks line n and scrolls it into sight.
  mark(n) {
    this.marked = n;
    if (n >= 0) {
      const top = n * rowHeight, b = this.box;
      if (top < b.scrollTop || top + rowHeight > b.scrollTop + b.clientHeight) {
        b.scrollTop = Math.max(0, top - b.clientHeight / 2);
      }
    }
    this.draw();
  }

  draw() {
    const b = this.box;
    const first = Math.floor(b.scrollTop / rowHeight);
    const last = Math.min(this.count, first + Math.ceil((b.clientHeight || 400) / rowHeight) + 1);
    const frag = document.createDocumentFragment();
    let missing = false;
    for (let n = first; n < last; n++) {
      const text = this.line(n);
      if (text === undefined) missing = true;
      const row = el('div', { className: n === this.marked ? 'line marked' : 'line', dataset: { n },
        attrs: { role: 'listitem' }, text: text ?? '…' });
      row.style.top = `${n * rowHeight}px`;
      frag.append(row);
    }
    this.inner.replaceChildren(frag);
    const range = `${first}-${last}`;
    if (missing && this.load && !this.loading && this.tried !== range) {
      const load = this.load;
      this.tried = range; // asked once: what does not come stays missing
      this.loading = load(first, last).finally(() => {
        this.loading = null;
        if (this.load === load) this.draw();
      });
    }
  }
}

// The lines of a text without their CR LF ends.
export function splitLines(text) {
  if (!text) return [];
  const lines = text.split('\n');
  if (lines[lines.length - 1] === '') lines.pop();
  return lines.map((l) => (l.endsWith('\r') ? l.slice(0, -1) : l));
}
