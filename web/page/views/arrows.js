// Jumps as arrows, in a gutter beside a column of rows, as disassemblers draw them: one
// arrow from each jump to its target (or, for a jump still pending, to the jump before it
// in its chain), each in a lane of its own span, so that nested arrows never cross. The
// listing and the compiler replay both draw with this module, from the store as it stands
// after any number of the generator's events (storeAt).
import { svg } from './dom.js';
import { rowHeight } from './lines.js';

const laneGap = 8;  // px between lanes
const margin = 10;  // px between the innermost lane and the rows

// ---- the store after k events ----

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

// The store after the first k events of compiled: the commands emitted so far in order,
// with their address fields as they stand, and those traced under the lock, which are
// not written. A jump row has `when` (the module's jumps: always, false, true) and either
// a target or, while pending, its link (the field of the jump before it in its chain, or
// the end mark) and its place: 'alone' in its chain, 'first' of it, or 'next' (linked).
export function storeAt(compiled, k, constants) {
  const { events, joins = [] } = compiled;
  const rows = [], fields = new Map(), patchedAt = fixups(events);
  const endMark = constants?.store.endMark;
  let j = 0;
  // a join writes a link without a trace line: it takes effect between two events
  const join = (upTo) => {
    for (; j < joins.length && joins[j].after <= upTo; j++) {
      const row = fields.get(joins[j].at);
      if (row?.pending) { row.link = joins[j].value; row.text = joins[j].fixed; }
    }
  };
  for (let i = 0; i < k; i++) {
    join(i);
    const e = events[i];
    if (e.kind === 'cmd') {
      const c = e.cmd;
      const row = { adr: c.adr, text: c.text, name: c.name, event: i, locked: e.lck > 0, jump: c.field !== null };
      if (row.jump && !row.locked) {
        row.field = c.field;
        row.when = constants?.jumps[c.fct];
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
  join(k);
  // the first jump of a chain holds the end mark; a later one links to the one before
  const linked = new Set(rows.filter((r) => r.pending && r.link !== endMark).map((r) => r.link));
  for (const r of rows) {
    if (r.pending) r.place = r.link !== endMark ? 'next' : linked.has(r.field) ? 'first' : 'alone';
  }
  return rows;
}

// A pending jump's place in its chain, in words.
export function pendingText(r, rows) {
  if (r.place === 'alone') return 'pending, alone in its chain';
  if (r.place === 'first') return 'pending, first of its chain';
  const prev = rows.find((p) => p.field === r.link && !p.locked);
  return `pending, next link at ${r.link}${prev ? ` (the jump at ${prev.adr})` : ''}`;
}

// What a jump is, in words: "conditional jump (taken when false), forward to address 98".
export function jumpText(when, from, to) {
  const kind = when === 'always' ? 'unconditional jump' : `conditional jump (taken when ${when})`;
  return to === undefined ? kind : `${kind}, ${to > from ? 'forward' : 'backward'} to address ${to}`;
}

// ---- drawing ----

// Gives each arrow {from, to} (row numbers) a lane: the shortest spans first, each in the
// lowest lane that no arrow over an overlapping span holds. An arrow nested in another
// thus always lies inside it. Returns the number of lanes.
function assignLanes(arrows) {
  const lo = (a) => Math.min(a.from, a.to), hi = (a) => Math.max(a.from, a.to);
  const taken = [];
  for (const a of [...arrows].sort((x, y) => hi(x) - lo(x) - (hi(y) - lo(y)) || lo(x) - lo(y))) {
    let l = 0;
    while (taken[l]?.some(([s, e]) => s <= hi(a) && lo(a) <= e)) l++;
    (taken[l] ??= []).push([lo(a), hi(a)]);
    a.lane = l;
  }
  return taken.length;
}

// The gutter's width for n lanes.
const gutterWidth = (n) => margin + Math.max(1, n) * laneGap + 4;

// The arrow heads, one per kind of arrow.
export function heads(prefix) {
  return svg('defs', {}, ...['always', 'cond', 'pending'].map((kind) => svg('marker',
    { id: `${prefix}-${kind}`, viewBox: '0 0 6 6', refX: '6', refY: '3', markerWidth: '6', markerHeight: '6', orient: 'auto' },
    svg('path', { d: 'M 0 0 L 6 3 L 0 6 z', class: `tip ${kind}` }))));
}

// Draws arrows into the svg element, which holds the heads (heads(prefix)) as its first
// child, beside `count` rows (a row number of count is past the last row, marked with
// endLabel unless the view shows a row there itself). Each
// arrow: {from, to, when, pending, adr, dest, now}; adr and dest are what the path's data
// attributes tell: the jump's address and where the arrow points. Returns the gutter's width.
export function draw(box, prefix, arrows, count, endLabel = 'end') {
  const lanes = assignLanes(arrows), width = gutterWidth(lanes);
  const y = (n) => n * rowHeight + rowHeight / 2;
  const paths = arrows.map((a) => {
    const x = width - margin - a.lane * laneGap, kind = a.pending ? 'pending' : a.when === 'always' ? 'always' : 'cond';
    const cls = `arrow ${kind}${a.to < a.from ? ' back' : ''}${a.now ? ' now' : ''}`;
    return svg('path', { d: `M ${width} ${y(a.from)} H ${x} V ${y(a.to)} H ${width - 1}`, class: cls,
      'data-adr': a.adr, 'data-to': a.dest, 'data-when': a.when, 'data-state': a.pending ? 'pending' : 'landed',
      'data-dir': a.to < a.from ? 'backward' : 'forward', 'marker-end': `url(#${prefix}-${kind})` });
  });
  const end = endLabel && arrows.some((a) => a.to === count)
    ? [svg('text', { x: '1', y: String(y(count) + 4), class: 'end' }, endLabel)] : [];
  box.setAttribute('width', String(width));
  box.setAttribute('height', String((count + 1) * rowHeight));
  box.replaceChildren(box.firstChild, ...paths, ...end);
  return width;
}

// The arrows of storeAt's rows, drawn beside them in that order (at: address -> row
// number of the rows written to the store); `now` marks what the event k - 1 did.
export function storeArrows(rows, at, k) {
  const arrows = [];
  rows.forEach((r, n) => {
    if (r.locked || !r.jump) return;
    if (r.pending) {
      const prev = r.place === 'next' ? rows.find((p) => p.field === r.link && !p.locked) : null;
      if (prev) arrows.push({ from: n, to: at.get(prev.adr), when: r.when, pending: true, adr: r.adr, dest: prev.adr });
    } else if (r.target !== undefined) {
      arrows.push({ from: n, to: at.has(r.target) ? at.get(r.target) : rows.length, when: r.when, adr: r.adr,
        dest: r.target, now: r.fixedAt === k - 1 || (r.fixedAt === undefined && r.event === k - 1) });
    }
  });
  return arrows;
}
