// The page's Content-Security-Policy, defined once: the server sends it whole
// as a header, and the build writes it into the page's meta element, which
// cannot carry frame-ancestors (a browser ignores that one there).
const directives = [
  "default-src 'self'",
  "script-src 'self' 'wasm-unsafe-eval'",
  "worker-src 'self'",
  "style-src 'self' 'unsafe-inline'",
  "img-src 'self' data:",
  "connect-src 'self'",
  "object-src 'none'",
  "base-uri 'none'",
  "form-action 'none'",
  "frame-ancestors 'none'",
];

export const csp = directives.join('; ');
export const metaCsp = directives.filter((d) => !d.startsWith('frame-ancestors ')).join('; ');
