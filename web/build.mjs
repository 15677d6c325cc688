// Builds the site: bundles the page's scripts with esbuild, copies its HTML
// (with the policy of web/csp.mjs) and CSS, and adds the module (tov.mjs with the WebAssembly build of tov).
//
//   node web/build.mjs WASM_DIR SITE_DIR
import * as esbuild from 'esbuild';
import { copyFile, mkdir, readFile, readdir, rm, writeFile } from 'node:fs/promises';
import { metaCsp } from './csp.mjs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const web = dirname(fileURLToPath(import.meta.url));
const [wasmDir, site] = process.argv.slice(2);
const page = join(web, 'page');

await rm(site, { recursive: true, force: true });
await mkdir(site, { recursive: true });
await esbuild.build({
  entryPoints: [join(page, 'main.js'), join(page, 'worker.js')],
  outdir: site,
  bundle: true,
  format: 'esm',
  // the page's later parts (CodeMirror, the views) in chunks of their own, which it
  // imports in steps
  splitting: true,
  chunkNames: 'chunk-[hash]',
  minify: true,
  sourcemap: 'linked',
  target: 'es2022',
  // the worker loads the module from the site at run time
  external: ['./tov.mjs'],
  logLevel: 'warning',
});
for (const name of await readdir(page)) {
  if (/\.(css|png|svg)$/.test(name)) await copyFile(join(page, name), join(site, name));
}
// the page's policy, as the server sends it
const html = await readFile(join(page, 'index.html'), 'utf8');
if (!html.includes('%CSP%')) throw new Error('index.html: no %CSP% to fill');
await writeFile(join(site, 'index.html'), html.replace('%CSP%', metaCsp));
await copyFile(join(web, 'module', 'tov.mjs'), join(site, 'tov.mjs'));
for (const name of ['tov-core.mjs', 'tov-core.wasm']) await copyFile(join(wasmDir, name), join(site, name));
