// Speed in the browser, printed as numbers (never checked against a bound),
// beside the native program's in the same run:
// - compile() of the largest program that fits the store, in the page's thread;
// - run() with -x in a worker, trace recorded but not rendered, and the
//   console program on the same runs;
// - the page: a cold load, a Run of a million traced commands from click to
//   result, keystrokes in a source of 1 MB, and its main thread's tasks over
//   50 ms in each;
// - the page's views: a step back or forth at the end of a run of a million
//   commands, and one event of the replay of a full store;
// - the machine view's searches of a recording of 10 million commands.
//
//   scripts/web bench      (builds the site, build/tov and bench_gen first)
import { spawnSync } from 'node:child_process';
import { closeSync, openSync, rmSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { open, native, root, setSource, start, waitListing, waitText, withModule } from '../tests/web/harness.mjs';

const benchGen = process.env.TOV_BENCH_GEN ?? join(root, 'build/bench/bench_gen');
const loop = (n) => `VAR i: INTEGER; BEGIN i := 0; WHILE i < ${n} DO i := i + 1 END END.`; // 9 commands a turn
const report = (what, value) => console.log(`${what.padEnd(68)} ${value}`);
const stats = (ms) => {
  const s = ms.slice().sort((a, b) => a - b);
  return `median ${s[s.length >> 1].toFixed(3)} ms, best ${s[0].toFixed(3)} ms, worst ${s.at(-1).toFixed(3)} ms`;
};

async function compileFull() {
  const src = spawnSync(benchGen, ['full']).stdout.toString('latin1');
  const page = await withModule();
  const r = await page.evaluate((src) => {
    const ms = [];
    let last;
    for (let i = 0; i < 300; ++i) {
      const t0 = performance.now();
      last = tov.compile(src);
      ms.push(performance.now() - t0);
    }
    return { ms: ms.slice(50), end: last.commands.at(-1) };
  }, src);
  report(`compile(): ${src.length} B source to ${r.end.adr}: ${r.end.text}, page thread, 250 runs`, stats(r.ms));
  await page.close();
}

async function workerRuns() {
  const page = await open('bench/index.html');
  const limits = [1e6, 5e6, 1e6, 5e6];
  const runs = await page.evaluate(({ source, limits }) => new Promise((ok) => {
    const w = new Worker('/bench/worker.mjs', { type: 'module' });
    w.onmessage = (e) => { w.terminate(); ok(e.data); };
    w.postMessage({ source, limits });
  }), { source: loop(1e9), limits });
  runs.forEach((r, i) => {
    report(`run() -x, ${r.steps / 1e6} M commands, ${(r.traceBytes / 2 ** 20).toFixed(0)} MiB trace, worker, run ${i + 1}`,
      `${r.ms.toFixed(0)} ms, ${(r.steps / r.ms / 1000).toFixed(1)} M commands/s`);
  });
  await page.close();
}

// The console program on loops of the same lengths, -x, its trace to a file.
function nativeRuns() {
  const trace = join(root, 'build-web', 'bench-trace.txt');
  for (const n of [1e6, 5e6]) {
    const src = loop(Math.round(n / 9) - 1);
    const ms = [];
    for (let i = 0; i < 3; ++i) {
      const fd = openSync(trace, 'w');
      const t0 = performance.now();
      spawnSync(native, ['-x'], { input: src, stdio: ['pipe', 'ignore', fd] });
      ms.push(performance.now() - t0);
      closeSync(fd);
    }
    const best = Math.min(...ms);
    report(`native tov -x, ${n / 1e6} M commands, ${(statSync(trace).size / 2 ** 20).toFixed(0)} MiB trace to a file, best of 3`,
      `${best.toFixed(0)} ms, ${(n / best / 1000).toFixed(1)} M commands/s`);
  }
  rmSync(trace);
}

// Tasks over 50 ms on the page's main thread from now on: the count and the longest.
async function watchTasks(page) {
  await page.evaluate(() => {
    Object.assign(globalThis, { longest: 0, tasks: 0 });
    new PerformanceObserver((l) => {
      for (const e of l.getEntries()) { globalThis.longest = Math.max(globalThis.longest, e.duration); ++globalThis.tasks; }
    }).observe({ type: 'longtask', buffered: true });
  });
  return async () => {
    const r = await page.evaluate(() => ({ longest: globalThis.longest, tasks: globalThis.tasks }));
    return `${r.tasks}, longest ${r.longest.toFixed(0)} ms`;
  };
}

async function coldLoad() {
  const page = await open();
  const tasks = await watchTasks(page); // buffered: the load's tasks too
  await waitText(page, '#listing', '252: Hlt');
  await page.waitForTimeout(500);
  report('page: cold load, main thread tasks over 50 ms', await tasks());
  await page.close();
}

async function bigSource() {
  const source = `(*\n${`${'x'.repeat(63)}\n`.repeat(1 << 14)}*)\nBEGIN WRITE 1 END.\n`; // a comment pasted in
  const page = await open(`#src=${Buffer.from(source).toString('base64url')}`);
  await waitText(page, '#listing', 'Val 1');
  await page.waitForTimeout(1000);
  const tasks = await watchTasks(page);
  await page.evaluate(() => { globalThis.tasks = 0; globalThis.longest = 0; });
  await page.click('.cm-content');
  await page.keyboard.press('Control+End');
  for (let k = 0; k < 20; k++) await page.keyboard.type('a');
  await page.waitForTimeout(1500);
  report(`page: 20 keystrokes in a ${(source.length / 2 ** 20).toFixed(1)} MiB source, main thread tasks over 50 ms`, await tasks());
  await page.close();
}

// The memory of the browser's processes (all of them, page and worker): the sum of
// their resident sizes, in MiB.
function browserMiB() {
  const ps = spawnSync('ps', ['-eo', 'pid=,ppid=,rss=']).stdout.toString().trim().split('\n')
    .map((l) => l.trim().split(/\s+/).map(Number));
  const mine = new Set([process.pid]);
  let kb = 0;
  for (let grew = true; grew;) {
    grew = false;
    for (const [pid, ppid, rss] of ps) {
      if (!mine.has(pid) && mine.has(ppid)) { mine.add(pid); kb += rss; grew = true; }
    }
  }
  return kb / 1024;
}

// A Run of 10 million traced commands: its time, the browser's memory, and the
// longest main thread task when the console view then shows the (cut) execution
// trace, and when the machine view then records the run.
async function tenMillion() {
  const page = await open(`#src=${Buffer.from(loop(1e9)).toString('base64url')}`);
  await waitText(page, '#listing', 'Hlt');
  await page.fill('#limit', '10000000');
  const before = browserMiB();
  const t0 = Date.now();
  await page.click('#run');
  await waitText(page, '#status', 'Stopped at the step limit');
  report('page: Run of 10,000,000 traced commands, click to result shown', `${Date.now() - t0} ms`);
  report('  browser memory (all its processes) before and after', `${before.toFixed(0)} MiB, ${browserMiB().toFixed(0)} MiB`);
  const tasks = await watchTasks(page);
  await page.evaluate(() => { globalThis.tasks = 0; globalThis.longest = 0; });
  await page.click('#tab-console');
  await page.selectOption('#console-text', 'execTrace');
  await waitText(page, '.toolbar .info', 'Cut:');
  await page.waitForTimeout(500);
  report('page: then the Console view on its execution trace, tasks over 50 ms', await tasks());
  report('  what it says', (await page.locator('.toolbar .info').textContent()).slice(0, 60));
  await page.evaluate(() => { globalThis.tasks = 0; globalThis.longest = 0; });
  await page.click('#tab-machine');
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 1 of 10,000,000');
  report('page: then the Machine view records the run, tasks over 50 ms', await tasks());
  report('  browser memory (all its processes) with the recording', `${browserMiB().toFixed(0)} MiB`);
  await page.close();
}

async function pageRun() {
  const page = await open(`#src=${Buffer.from(loop(111111)).toString('base64url')}`); // the default limit ends it
  await page.evaluate(() => {
    Object.assign(globalThis, { longest: 0, tasks: 0 });
    new PerformanceObserver((l) => {
      for (const e of l.getEntries()) { globalThis.longest = Math.max(globalThis.longest, e.duration); ++globalThis.tasks; }
    }).observe({ type: 'longtask' });
  });
  await page.getByRole('button', { name: 'Run' }).click({ timeout: 10000 });
  const t0 = Date.now();
  await page.getByRole('status').filter({ hasText: /Stopped at the step limit|Finished/ }).waitFor({ timeout: 60000 });
  const ms = Date.now() - t0;
  const r = await page.evaluate(() => ({ longest: globalThis.longest, tasks: globalThis.tasks }));
  report('page: Run of 1,000,000 commands, click to result shown', `${ms} ms`);
  report('page: main thread tasks over 50 ms during that run', `${r.tasks}, longest ${r.longest.toFixed(0)} ms`);
  await page.close();
}

// The times from each key press to the change it makes in the element at
// selector, from now until the returned function is called.
async function latency(page, selector) {
  await page.evaluate((sel) => {
    const times = [];
    let down = 0;
    const key = () => { down = performance.now(); };
    document.addEventListener('keydown', key, true);
    const seen = new MutationObserver(() => times.push(performance.now() - down));
    seen.observe(document.querySelector(sel), { childList: true, characterData: true, subtree: true });
    window.measured = () => { seen.disconnect(); document.removeEventListener('keydown', key, true); return times; };
  }, selector);
  return async () => stats(await page.evaluate(() => window.measured()));
}

async function views() {
  const page = await open();
  const source = 'VAR i: INTEGER;\nBEGIN\n  REPEAT i := i + 1 UNTIL i = 142857\nEND.\n';
  await setSource(page, source);
  await waitListing(page, source);
  await page.click('#tab-machine');
  const t0 = Date.now();
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 1 of 1,000,000'); // recorded, then one step
  report('machine view: recording a run of 1,000,000 commands', `${Date.now() - t0} ms`);
  await page.keyboard.press('F5');
  await waitText(page, '#machine-info', 'Step 1,000,000 of');
  let done = await latency(page, '#machine-info');
  for (let k = 1; k <= 30; k++) {
    await page.keyboard.press(k % 2 ? 'Shift+F10' : 'F10');
    await waitText(page, '#machine-info', `Step ${(1000000 - (k % 2)).toLocaleString('en')} of`);
  }
  report('machine view: a step back or forth at step 1,000,000 (key to shown)', await done());
  const big = `VAR i: INTEGER;\nBEGIN\n${'  IF i < 1 THEN i := i + 1 END;\n'.repeat(30)}END.\n`; // fills the store
  await setSource(page, big);
  await waitListing(page, big);
  await page.click('#tab-replay');
  await page.focus('#replay-slider');
  await page.keyboard.press('Home');
  const events = Number(await page.locator('#replay-slider').getAttribute('max'));
  done = await latency(page, '#replay-event');
  for (let k = 0; k < events; k++) await page.keyboard.press('ArrowRight');
  report(`replay view: one event forward, ${events} events of a full store`, await done());
  await page.close();
}

// One search of a recording of 10,000,000 commands, key or click to the machine shown:
// a line step and a line back over the whole run (a loop on one line), and a run until
// a variable changes that every turn reads and none writes (the most machine runs).
async function searches() {
  const source = 'VAR i: INTEGER; n: INTEGER;\nBEGIN\n  n := 1000000000; i := 0;\n  WHILE i < n DO i := i + 1 END\nEND.\n';
  const page = await open(`#src=${Buffer.from(source).toString('base64url')}`);
  await waitText(page, '#listing', 'Hlt');
  await page.fill('#limit', '10000000');
  await page.click('#tab-machine');
  const t0 = Date.now();
  await page.keyboard.press('F11');
  await waitText(page, '#machine-info', 'Step 4 of 10,000,000');
  report('machine view: recording 10,000,000 commands, then a line step', `${Date.now() - t0} ms`);
  const timed = async (what, act, want) => {
    const t = Date.now();
    await act();
    await waitText(page, '#machine-info', want);
    report(`machine view: ${what}`, `${Date.now() - t} ms`);
  };
  await timed('a line step (F11) over the loop\'s line, 10 M states', () => page.keyboard.press('F11'), 'Step 10,000,000 of');
  await timed('a line back (Shift+F11) over the same', () => page.keyboard.press('Shift+F11'), 'Step 4 of');
  await timed('run until n changes, read every turn, never written (10 M states)',
    () => page.getByRole('button', { name: 'Run n until changed' }).click(), 'Step 10,000,000 of');
  report('  what it says', await page.locator('#machine-said').textContent());
  await page.close();
}

const stop = await start({ '/bench/': join(root, 'bench/web') });
try {
  const only = process.env.BENCH_PARTS?.split(','); // e.g. BENCH_PARTS=coldLoad,bigSource
  for (const part of [compileFull, nativeRuns, workerRuns, coldLoad, pageRun, tenMillion, bigSource, views, searches]) {
    if (!only || only.includes(part.name)) await part();
  }
} finally {
  await stop();
}
