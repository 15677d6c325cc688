// Speed in the browser, reported as numbers (a timing is never a test; the
// checks here only make sure the figures measure what they say):
// - compiling and listing the largest program that fits the store;
// - a worker executing a long run with its trace recorded (not rendered);
// - the page's main thread during a long run: its longest task.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { benchGen, open, setup, withModule } from './harness.mjs';

setup();

const loop = (n) => `VAR i: INTEGER; BEGIN i := 0; WHILE i < ${n} DO i := i + 1 END END.`; // 9 commands a turn
const report = (what, value) => console.log(`bench: ${what.padEnd(62)} ${value}`);
const stats = (ms) => {
  const s = ms.slice().sort((a, b) => a - b);
  return `median ${s[s.length >> 1].toFixed(3)} ms, best ${s[0].toFixed(3)} ms, worst ${s.at(-1).toFixed(3)} ms`;
};

test('compile and list the largest program', async () => {
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
    return { ms: ms.slice(50), end: last.commands.at(-1), ok: last.ok };
  }, src);
  assert.equal(r.ok, true);
  assert.equal(`${r.end.adr}: ${r.end.text}`, '1023: Hlt'); // it fills the store
  report(`compile(): ${src.length} B source, 1024 B store, page thread`, stats(r.ms));
  await page.close();
});

test('a worker runs with the trace recorded', async () => {
  const page = await open('test/index.html');
  const limits = [1e6, 5e6, 1e6, 5e6];
  const runs = await page.evaluate(
    ({ source, limits }) =>
      new Promise((ok) => {
        const w = new Worker('/test/bench-worker.mjs', { type: 'module' });
        w.onmessage = (e) => {
          w.terminate();
          ok(e.data);
        };
        w.postMessage({ source, limits });
      }),
    { source: loop(1e9), limits },
  );
  runs.forEach((r, i) => {
    const n = limits[i];
    assert.deepEqual([r.steps, r.limited], [n, true]);
    report(`run() -x, ${n / 1e6} M commands, ${(r.traceBytes / 2 ** 20).toFixed(0)} MiB trace, worker, run ${i + 1}`,
      `${r.ms.toFixed(0)} ms, ${(n / r.ms / 1000).toFixed(1)} M commands/s`);
  });
  await page.close();
});

test("the page's main thread during a long run", async () => {
  const n = 111111; // 1,000,008 commands: the default step limit ends it
  const text = Buffer.from(loop(n)).toString('base64url');
  const page = await open(`#src=${text}`);
  await page.evaluate(() => {
    globalThis.longest = 0;
    globalThis.tasks = 0;
    new PerformanceObserver((l) => {
      for (const e of l.getEntries()) {
        globalThis.longest = Math.max(globalThis.longest, e.duration);
        ++globalThis.tasks;
      }
    }).observe({ type: 'longtask' });
  });
  await page.getByRole('button', { name: 'Run' }).click({ timeout: 10000 });
  const t0 = Date.now();
  await page.getByRole('status').filter({ hasText: /Stopped at the step limit|Finished/ }).waitFor({ timeout: 60000 });
  const ms = Date.now() - t0;
  const r = await page.evaluate(() => ({ longest: globalThis.longest, tasks: globalThis.tasks }));
  report('page: Run of 1,000,000 commands (click to result shown)', `${ms} ms`);
  report('page: main thread tasks over 50 ms during the run', `${r.tasks}, longest ${r.longest.toFixed(0)} ms`);
  await page.close();
});
