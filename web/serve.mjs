// A static server for the built site, for trying the page and for the browser
// tests. It sends the page's Content-Security-Policy (web/csp.mjs), which lets
// the page run only its own scripts and compile WebAssembly.
//
//   node web/serve.mjs DIR [PORT]      (PORT 0: any free port)
import { createServer } from 'node:http';
import { readFile, stat } from 'node:fs/promises';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { pathToFileURL } from 'node:url';
import { csp } from './csp.mjs';

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
  '.map': 'application/json',
  '.tov': 'text/plain; charset=utf-8',
};

// Serves the files under root, and under each prefix of mounts ('/x/': dir)
// those of its directory; resolves to the server once it listens.
export function serve(root, port = 8000, mounts = {}) {
  const server = createServer(async (req, res) => {
    const headers = { 'Content-Security-Policy': csp, 'X-Content-Type-Options': 'nosniff', 'Cache-Control': 'no-store' };
    try {
      let path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
      if (path.endsWith('/')) path += 'index.html';
      let base = resolve(root);
      for (const [prefix, dir] of Object.entries(mounts)) {
        if (path.startsWith(prefix)) [base, path] = [resolve(dir), path.slice(prefix.length - 1)];
      }
      const file = normalize(join(base, path));
      if (file !== base && !file.startsWith(base + sep)) throw new Error('outside');
      if (!(await stat(file)).isFile()) throw new Error('not a file');
      const body = await readFile(file);
      res.writeHead(200, { ...headers, 'Content-Type': types[extname(file)] ?? 'application/octet-stream' });
      res.end(req.method === 'HEAD' ? undefined : body);
    } catch {
      res.writeHead(404, { ...headers, 'Content-Type': 'text/plain' });
      res.end('not found\n');
    }
  });
  return new Promise((ok, fail) => {
    server.once('error', fail);
    server.listen(port, '127.0.0.1', () => ok(server));
  });
}

if (process.argv[1] && import.meta.url === pathToFileURL(process.argv[1]).href) {
  const [root, port = '8000'] = process.argv.slice(2);
  const server = await serve(root, Number(port));
  console.log(`http://127.0.0.1:${server.address().port}/`);
}
