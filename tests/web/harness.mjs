// The browser tests' setting: the built site served over HTTP (with the page's
// Content-Security-Policy), headless Chromium from the system, the console
// program to compare with, and acting on the page as a user does.
//
// scripts/web test builds the site and the native helpers and sets TOV_SITE,
// TOV_NATIVE, TOV_PROPERTY (the random program generator) and TOV_E2E (the
// end-to-end driver, which exports its cases).
import { after, afterEach, before } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../web/serve.mjs';

export const root = resolve(fileURLToPath(import.meta.url), '../../..');
const { chromium } = createRequire(join(root, 'web/package.json'))('playwright-core');
const env = (name, path) => process.env[name] ?? join(root, path);
export const site = env('TOV_SITE', 'build-web/site');
export const native = env('TOV_NATIVE', 'build/tov');
export const property = env('TOV_PROPERTY', 'build/tests/property/property');
export const e2e = env('TOV_E2E', 'build/tests/e2e');

// Starts the server and the browser (mounts: more directories to serve,
// '/x/': dir) for open(); setup() does it around a test file's tests.
const ctx = {};
export async function start(mounts = {}) {
  ctx.server = await serve(site, 0, mounts);
  ctx.url = `http://127.0.0.1:${ctx.server.address().port}/`;
  ctx.browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  }); // playwright gives each launch a fresh profile directory
  return async () => { await ctx.browser.close(); ctx.server.close(); };
}

export function setup(mounts = {}) {
  let stop;
  before(async () => { stop = await start(mounts); });
  // each test's pages end with it, so that the next starts on an idle browser; none may
  // have logged an error, thrown or failed a request
  afterEach(async () => {
    const pages = ctx.browser.contexts().flatMap((c) => c.pages());
    const problems = pages.flatMap((p) => p.problems ?? []);
    await Promise.all(pages.map((p) => p.close()));
    assert.deepEqual(problems, []);
  });
  after(() => stop?.());
}

// A new page at the site's path; console errors, uncaught exceptions and failed
// requests are collected in page.problems.
export async function open(path = '', options = {}) {
  const page = await ctx.browser.newPage(options);
  page.problems = [];
  page.on('pageerror', (e) => page.problems.push(`pageerror: ${e.message}`));
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.text().startsWith('Failed to load resource')) page.problems.push(m.text());
  });
  page.on('response', (r) => {
    if (r.status() >= 400 && !r.url().endsWith('/favicon.ico')) page.problems.push(`${r.status()}: ${r.url()}`);
  });
  page.response = await page.goto(ctx.url + path);
  return page;
}

// A page with the module loaded as globalThis.tov.
export async function withModule() {
  const page = await open('tov.mjs');
  await page.evaluate(async () => { globalThis.tov = await (await import('./tov.mjs')).load(); });
  return page;
}

// The console program in a fresh directory holding the files; bytes in and
// out as latin1 strings.
export function consoleRun(args, stdin = '', files = {}) {
  const dir = mkdtempSync(join(tmpdir(), 'tov-web-'));
  try {
    for (const [name, content] of Object.entries(files)) writeFileSync(join(dir, name), content, 'latin1');
    const r = spawnSync(native, args, { cwd: dir, input: Buffer.from(stdin, 'latin1'), maxBuffer: 1 << 30 });
    return { status: r.status, stdout: r.stdout.toString('latin1'), stderr: r.stderr.toString('latin1') };
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// The console program on many runs, {args, stdin, files} each, in two shell loops
// beside the tests: starting a process from the tests' own large process costs
// far more than from a small one. Resolves to [{status, stdout, stderr}] (Buffers).
export async function consoleBatch(runs) {
  const dir = mkdtempSync(join(tmpdir(), 'tov-batch-'));
  try {
    const dirs = runs.map((r, i) => {
      const d = join(dir, String(i));
      mkdirSync(join(d, 'w'), { recursive: true });
      for (const [name, content] of Object.entries(r.files ?? {})) writeFileSync(join(d, 'w', name), content, 'latin1');
      writeFileSync(join(d, 'stdin'), r.stdin ?? '', 'latin1');
      writeFileSync(join(d, 'args'), r.args.map((a) => `${a}\0`).join(''));
      return d;
    });
    const loop = 'for d; do mapfile -d "" a <"$d/args"; (cd "$d/w" && exec "$0" "${a[@]}" <"$d/stdin" >"$d/out" 2>"$d/err"); echo $? >"$d/status"; done';
    const half = Math.ceil(dirs.length / 2);
    await Promise.all([dirs.slice(0, half), dirs.slice(half)].map((part) => new Promise((ok, fail) => {
      const p = spawn('bash', ['-c', loop, native, ...part], { stdio: 'inherit' });
      p.on('error', fail);
      p.on('close', (code) => (code === 0 ? ok() : fail(new Error(`console runs: status ${code}`))));
    })));
    return dirs.map((d) => ({ status: Number(readFileSync(join(d, 'status'), 'latin1')),
      stdout: readFileSync(join(d, 'out')), stderr: readFileSync(join(d, 'err')) }));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// What the tests compare large outputs by: the length and the SHA-256 of the bytes.
export const digest = (bytes) => `${bytes.length}:${createHash('sha256').update(bytes).digest('hex')}`;

export const lines = (s) => s.split('\r\n').filter((l, i, a) => i < a.length - 1 || l !== '');

// A picture for README.md and docs/playground.md: to build-web/shots/, with
// TOV_SHOTS=1 to docs/img/ (then commit it).
export async function shot(page, name) {
  const dir = join(root, process.env.TOV_SHOTS === '1' ? 'docs/img' : 'build-web/shots');
  mkdirSync(dir, { recursive: true });
  await page.screenshot({ path: join(dir, `${name}.png`) });
}

// Replaces the editor's text as a paste does.
export async function setSource(page, text) {
  await page.click('.cm-content');
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  if (text) await page.keyboard.insertText(text);
}

export const waitText = (page, selector, want) => page.waitForFunction(
  ([s, w]) => document.querySelector(s)?.textContent.includes(w), [selector, want]);

// Waits until the listing is that of source, as the console lists it.
export async function waitListing(page, source) {
  const rows = lines(consoleRun([], source).stdout);
  await page.waitForFunction(([n, last]) => {
    const all = document.querySelectorAll('#listing .row');
    return all.length === n && all[n - 1].textContent.startsWith(last);
  }, [rows.length, rows.at(-1)]);
}

// Acting on the page and reading it.
export const wide = { viewport: { width: 1280, height: 720 } };
export const example = (name) => readFileSync(join(root, 'examples', `${name}.tov`), 'latin1');
export const gcd = example('gcd');
// The console's execution trace of source: one line per state, from state 0.
export const execTrace = (source) => lines(consoleRun(['-x'], source).stderr).filter((l) => l.startsWith('Comp.Dbg: ')).slice(1);
export const text = (page, selector) => page.locator(selector).textContent();
export const texts = (page, selector) => page.locator(selector).allTextContents();
export const tab = (page, name) => page.click(`#tab-${name}`);
export async function press(page, ...keys) { for (const k of keys) await page.keyboard.press(k); }
export const keys = (page, name) => page.getByRole('button', { name }).getAttribute('aria-keyshortcuts');
export const waitStep = (page, k) => waitText(page, '#machine-info', `Step ${k.toLocaleString('en')} of`);
// The row of a view (#listing, #replay-store) at an address.
export const row = (page, view, adr) => page.locator(`${view} .row`)
  .filter({ has: page.locator('.adr', { hasText: new RegExp(`^\\s*${adr}:\\s*$`) }) });

// A wide page at gcd, the page's first program, or at source typed in.
export async function openAt(source = null, path = '') {
  const page = await open(path, wide);
  if (source === null) await waitText(page, '#listing', '252: Hlt');
  else { await setSource(page, source); await waitListing(page, source); }
  return page;
}

// Moves the replay's slider by keys to event k (from Home when k is 0 or behind).
export async function replayTo(page, k) {
  await page.focus('#replay-slider');
  let n = Number(await page.locator('#replay-slider').inputValue());
  if (k <= 0 || k < n) { await page.keyboard.press('Home'); n = 0; }
  for (; n < k; n++) await page.keyboard.press('ArrowRight');
}

// The serious and critical accessibility faults that axe finds in the parts (all the page).
export async function audit(page, include = null) {
  if (!await page.evaluate(() => typeof axe !== 'undefined')) {
    await page.evaluate(readFileSync(join(root, 'web/node_modules/axe-core/axe.min.js'), 'utf8'));
  }
  return page.evaluate(async (include) => (await axe.run(include ?? document, { resultTypes: ['violations'] })).violations
    .filter((v) => v.impact === 'serious' || v.impact === 'critical')
    .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`), include);
}
