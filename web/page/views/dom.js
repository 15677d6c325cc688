// Small builders for the page's elements; text always goes in as text, never as markup.

// el('p', { id, className, text, attrs: { role: 'status' }, on: { click: f }, type, ... }, ...children):
// `text` becomes the text content, `attrs` attributes, `dataset` data attributes, `on`
// listeners, any other key the
// element's own property. Children may be elements or strings (appended as text).
export function el(tag, props = {}, ...children) {
  return build(document.createElement(tag), props, children);
}

// The same for SVG, where everything but text and listeners is an attribute.
const svgNs = 'http://www.w3.org/2000/svg';
export function svg(tag, attrs = {}, ...children) {
  const e = document.createElementNS(svgNs, tag);
  for (const [k, v] of Object.entries(attrs)) e.setAttribute(k, v);
  return build(e, {}, children);
}

function build(e, props, children) {
  for (const [k, v] of Object.entries(props)) {
    if (v === undefined || v === null) continue;
    if (k === 'text') e.textContent = v;
    else if (k === 'attrs') for (const [a, x] of Object.entries(v)) { if (x !== null) e.setAttribute(a, x); }
    else if (k === 'dataset') Object.assign(e.dataset, v);
    else if (k === 'on') for (const [t, f] of Object.entries(v)) e.addEventListener(t, f);
    else if (k === 'innerHTML' || k === 'outerHTML') throw new Error(`el: no markup (${k})`);
    else e[k] = v;
  }
  e.append(...children);
  return e;
}

// A control with its label before it: "Name [control]".
export const labelled = (name, control) => el('label', {}, `${name} `, control);

// A drop-down list of [value, name] pairs.
export const choice = (id, options) => el('select', { id }, ...options.map(([v, t]) => new Option(t, v)));

export const span = (cls, text) => el('span', { className: cls, text });

export const note = (text) => el('p', { className: 'note', text });

export const button = (name, onClick) => el('button', { type: 'button', text: name, on: { click: onClick } });
