// The program kept in the link: "#src=" and the UTF-8 text in base64url.
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
// has one that does not decode.
export function read() {
  const h = location.hash;
  if (!h || h === '#') return { text: null };
  if (!h.startsWith(prefix)) return { error: 'The link holds no program this page can read; the editor starts empty.' };
  try {
    return { text: decode(h.slice(prefix.length)) };
  } catch {
    return { error: 'The program in the link could not be decoded; the editor starts empty.' };
  }
}

let timer = 0;

// Keeps the link in step with the program, without adding to the history; at once when
// asked, else after the typing pauses. A program too long for a link leaves none, and
// tooLong(length) says so; returns false then.
export function store(text, now = false, tooLong = () => {}) {
  clearTimeout(timer);
  const put = () => {
    // a base64 link is 4/3 of the bytes: a text over 3/4 of the most cannot fit
    const code = text.length * 3 > maxLink * 4 ? null : encode(text);
    if (code === null || prefix.length + code.length > maxLink) {
      history.replaceState(null, '', location.pathname + location.search);
      tooLong(code === null ? Math.ceil(text.length * 4 / 3) : prefix.length + code.length);
      return false;
    }
    history.replaceState(null, '', prefix + code);
    return true;
  };
  if (now) return put();
  timer = setTimeout(put, 300);
  return true;
}
