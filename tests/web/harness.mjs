// The browser tests' setting: the built site served over HTTP (with the page's
// Content-Security-Policy) and headless Chromium from the system, both started
// once per test file and closed when its tests end.
//
// The tests run from scripts/web test, which builds the site and sets
// TOV_SITE (the built site), TOV_NATIVE (the console program) and
// TOV_PROPERTY (the random program generator).
import { after, before } from 'node:test';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from '../../web/serve.mjs';

export const root = resolve(fileURLToPath(import.meta.url), '../../..');
// the npm packages live with the page, in web/
const { chromium } = createRequire(join(root, 'web/package.json'))('playwright-core');
export const site = process.env.TOV_SITE ?? join(root, 'build-web/site');
export const native = process.env.TOV_NATIVE ?? join(root, 'build/tov');
export const property = process.env.TOV_PROPERTY ?? join(root, 'build/tests/property/property');
export const benchGen = process.env.TOV_BENCH_GEN ?? join(root, 'build/bench/bench_gen');

const ctx = {};

// Starts the server and the browser before the file's tests; returns an
// object whose url, browser and server are set once they run.
export function setup() {
  before(async () => {
    // test-only files (a worker for the benchmark) under /test/
    ctx.server = await serve(site, 0, { '/test/': join(root, 'tests/web/www') });
    ctx.url = `http://127.0.0.1:${ctx.server.address().port}/`;
    ctx.browser = await chromium.launch({
      executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
      headless: true,
      args: [
        '--headless',
        '--no-sandbox',
        '--disable-gpu',
        '--disable-quic',
        '--no-first-run',
        '--disable-background-networking',
        '--disable-component-update',
        '--disable-sync',
      ], // playwright gives each launch a fresh profile directory of its own
    });
  });
  after(async () => {
    await ctx.browser?.close();
    ctx.server?.close();
  });
  return ctx;
}

// A new page at the site's path (default the page itself); errors on the
// console, uncaught exceptions and failed requests are collected in
// page.problems.
export async function open(path = '', options = {}) {
  const page = await ctx.browser.newPage(options);
  page.problems = [];
  page.on('pageerror', (e) => page.problems.push(`pageerror: ${e.message}`));
  page.on('console', (m) => {
    // a failed request shows as a response below, with its address
    if (m.type() === 'error' && !m.text().startsWith('Failed to load resource')) page.problems.push(`console: ${m.text()}`);
  });
  page.on('response', (r) => {
    if (r.status() >= 400 && !r.url().endsWith('/favicon.ico')) page.problems.push(`${r.status()}: ${r.url()}`);
  });
  await page.goto(ctx.url + path);
  return page;
}

// A page with the module loaded as globalThis.tov (the result of load()).
export async function withModule() {
  const page = await open('tov.mjs');
  await page.evaluate(async () => {
    const m = await import('./tov.mjs');
    globalThis.tov = await m.load();
  });
  return page;
}
