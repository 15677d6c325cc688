// The tour's links (docs/playground.md): each holds an example as it stands and
// opens the page at the moment its part describes; the tour's pictures are taken
// there (TOV_SHOTS=1 writes them to docs/img).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { decode } from '../../web/page/link.js';
import { open, root, setup, shot } from './harness.mjs';

setup();

const doc = readFileSync(join(root, 'docs/playground.md'), 'utf8');
const links = [...doc.matchAll(/^\[(tour-[\w-]+)\]: http:\/\/127\.0\.0\.1:8000\/(#\S+)$/gm)]
  .map(([, name, hash]) => ({ name, hash, moment: Object.fromEntries(hash.split('&').slice(1).map((p) => p.split('='))) }));
const examples = new Map(readdirSync(join(root, 'examples')).map((f) => [readFileSync(join(root, 'examples', f), 'utf8'), f]));

test('every link of the tour holds an example as it stands and opens the page at its moment', async () => {
  const used = new Set([...doc.matchAll(/\]\[(tour-[\w-]+)\]/g)].map((m) => m[1]));
  assert.deepEqual([...used].sort(), links.map((l) => l.name).sort(), 'links used and defined');
  const page = await open();
  await page.waitForSelector('#listing .row'); // the page listens for links once it has a listing
  for (const { name, hash, moment: m } of links) {
    const text = decode(hash.slice('#src='.length).split('&')[0]);
    assert.ok(examples.has(text), `${name}: no example holds its program (make it anew: scripts/web link FILE MOMENT)`);
    // set in the open page, as a teacher pastes the next link
    await page.evaluate((h) => { location.hash = h; }, hash);
    await page.waitForFunction(({ tab, event, step, sel }) =>
      document.querySelector(`#tab-${tab}`)?.getAttribute('aria-selected') === 'true'
      && (sel === undefined || document.querySelector('#listing .row.linked'))
      && (event === undefined || document.querySelector('#replay-event')?.textContent.startsWith(`${event}/`))
      && (step === undefined || document.querySelector('#machine-info')?.textContent.startsWith(`Step ${step} of`)),
    m);
    assert.equal(await page.isChecked('#predict-mode'), m.predict === '1', `${name}: predict mode`);
    if (m.predict && m.tab === 'machine') await page.waitForSelector('#predict-machine form');
    // the pictures show a command's tooltip and a breakpoint on the cursor's line too
    if (name === 'tour-code') await page.hover('#listing .row:nth-child(13)');
    if (name === 'tour-machine') {
      await page.focus('.cm-content');
      await page.keyboard.press('F9');
      await page.waitForSelector('#listing .row.line-break');
    }
    if (doc.includes(`(img/${name}.png)`)) await shot(page, name);
    await page.mouse.move(0, 0);
  }
});
