// The program kept in the link: "#src=" and the UTF-8 text in base64url. A lesson link
// adds the moment it shows, as "&key=value" after it (see moment below).
const prefix = '#src=';

// The longest link offered: browsers open addresses of about 2 MB.
export const maxLink = 2000000;

export function encode(text) {
  const bytes = new TextEncoder().encode(text);
  const parts = [];
  for (let i = 0; i < bytes.length; i += 0x8000) parts.push(String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000)));
  return btoa(parts.join('')).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

export function decode(code) {
  if (!/^[A-Za-z0-9_-]*$/.test(code)) throw new Error('it holds characters that are not base64url');
  const bin = atob(code.replace(/-/g, '+').replace(/_/g, '/'));
  const bytes = Uint8Array.from(bin, (c) => c.charCodeAt(0));
  return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
}

// The program in the page's link: {text: null} when the link has none, {error} when it
// has one that does not decode; with the moment the link holds ({} for none).
export function read() {
  const h = location.hash;
  if (!h || h === '#') return { text: null, moment: {} };
  if (!h.startsWith(prefix)) return { error: 'The link holds no program this page can read; the editor starts empty.' };
  const [code, ...rest] = h.slice(prefix.length).split('&');
  try {
    return { text: decode(code), moment: parseMoment(rest) };
  } catch {
    return { error: 'The program in the link could not be decoded; the editor starts empty.' };
  }
}

// A moment of a lesson: the open view (tab), the machine's step, the replay's event,
// predict mode (1) and the editor's selection (anchor-head, or one offset for a cursor),
// each "&key=value" in that order. Values that are not whole numbers (or a view's name)
// are left out.
const whole = (v) => (/^[0-9]{1,9}$/.test(v) ? Number(v) : undefined);

function parseMoment(parts) {
  const m = {};
  for (const part of parts) {
    const [k, v = ''] = part.split('=');
    if (k === 'tab' && /^[a-z]{1,20}$/.test(v)) m.tab = v;
    else if (k === 'step' || k === 'event') m[k] = whole(v);
    else if (k === 'predict') m.predict = v === '1';
    else if (k === 'sel') {
      const [a, b = a] = v.split('-').map(whole);
      if (a !== undefined && b !== undefined) m.sel = [a, b];
    }
  }
  return m;
}

function formatMoment(m) {
  let s = '';
  if (m.tab) s += `&tab=${m.tab}`;
  if (m.step !== undefined) s += `&step=${m.step}`;
  if (m.event !== undefined) s += `&event=${m.event}`;
  if (m.predict) s += '&predict=1';
  if (m.sel) s += `&sel=${m.sel[0]}${m.sel[1] === m.sel[0] ? '' : `-${m.sel[1]}`}`;
  return s;
}

// The longest link kept while typing: the browser takes about 0.4 ms a kilobyte to set
// the address, so a longer program's link waits for Share.
const typedLink = 100000;

// The length of text's link: base64url of its UTF-8 bytes, without padding (the
// browser's encoder counts them far faster than a loop that runs once).
function linkLength(text) {
  return prefix.length + Math.ceil(new TextEncoder().encode(text).length * 4 / 3);
}

let timer = 0;

// Drops a link longer than typedLink from the address, in a task of its own, once its
// program has been read: the browser's cost of replacing an address grows with the old
// one, so no keystroke should be the first to replace it.
export function settle() {
  if (location.hash.length <= typedLink) return;
  setTimeout(() => {
    if (location.hash.length > typedLink) history.replaceState(null, '', location.pathname + location.search);
  });
}

// Keeps the link in step with the program, without adding to the history; at once when
// asked, else after the typing pauses, and then only for a link of at most typedLink.
// A program too long for a link leaves none, and tooLong(length) says so; returns false
// then. With a moment (Copy link) the link holds it too.
export function store(text, now = false, tooLong = () => {}, moment = {}) {
  clearTimeout(timer);
  const put = () => {
    const tail = formatMoment(moment);
    const n = linkLength(text) + tail.length;
    if (n > maxLink || (!now && n > typedLink)) {
      // setting an address costs as much as the one it replaces: only once
      if (location.hash) history.replaceState(null, '', location.pathname + location.search);
      if (n > maxLink) tooLong(n);
      return n <= maxLink;
    }
    history.replaceState(null, '', prefix + encode(text) + tail);
    return true;
  };
  if (now) return put();
  timer = setTimeout(put, 300);
  return true;
}
