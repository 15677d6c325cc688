// The README's picture of the page: an example compiled and run. Written to
// build-web/shots/; with TOV_SHOTS=1 to docs/img/ (then commit it).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { mkdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { open, root, setup } from './harness.mjs';

setup();

test('the page after a run of gcd', async () => {
  const dir = process.env.TOV_SHOTS === '1' ? join(root, 'docs/img') : join(root, 'build-web/shots');
  mkdirSync(dir, { recursive: true });
  const src = readFileSync(join(root, 'examples/gcd.tov'));
  const page = await open(`#src=${src.toString('base64url')}`, { viewport: { width: 1280, height: 720 } });
  await page.getByRole('button', { name: 'Run' }).click({ timeout: 10000 });
  await page.getByRole('status').filter({ hasText: 'Finished' }).waitFor();
  assert.match(await page.locator('#output').textContent(), /^21\r?\n21\r?\n$/);
  await page.screenshot({ path: join(dir, 'page.png') });
  assert.deepEqual(page.problems, []);
  await page.close();
});
