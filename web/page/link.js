// The program kept in the link: "#src=" and the UTF-8 text in base64url.
const prefix = '#src=';

export function encode(text) {
  let bin = '';
  for (const b of new TextEncoder().encode(text)) bin += String.fromCharCode(b);
  return btoa(bin).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
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
// asked, else after the typing pauses.
export function store(text, now = false) {
  clearTimeout(timer);
  const put = () => history.replaceState(null, '', prefix + encode(text));
  if (now) put(); else timer = setTimeout(put, 300);
}
