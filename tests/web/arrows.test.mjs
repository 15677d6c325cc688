// Jumps as arrows: in the listing and the replay, drawn from the compile records; going
// from a jump to its target and back; the listing as the replay's store; fix-up keys.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { setup, open, root, withModule, setSource, waitListing, waitText } from './harness.mjs';

setup();
const wide = { viewport: { width: 1280, height: 800 } };

// The arrows drawn in a view: "adr>to when dir state", and each one's span and lane (its x).
const drawn = (page, view) => page.locator(`${view} svg.arrows path.arrow`).evaluateAll((ps) => ps.map((p) => {
  const [, , y1, , x, , y2] = p.getAttribute('d').split(' ').map(Number);
  return { key: `${p.dataset.adr}>${p.dataset.to} ${p.dataset.when} ${p.dataset.dir} ${p.dataset.state}`,
    lo: Math.min(y1, y2), hi: Math.max(y1, y2), x };
}));

// Two arrows cross when one span holds an end of the other inside it, or both nest with the
// inner one outside; arrows that share a row are apart only by lane.
function crossings(arrows) {
  const bad = [];
  for (const a of arrows) {
    for (const b of arrows) {
      if (a !== b && a.lo <= b.lo && b.hi <= a.hi && (a.lo < b.lo || b.hi < a.hi) && b.x <= a.x) bad.push(`${b.key} outside ${a.key}`);
    }
  }
  return bad;
}

test('every example\'s listing has one arrow per jump of its compile records, each nested inside those it lies within', async () => {
  const mod = await withModule();
  const page = await open('', wide);
  await waitText(page, '#listing', 'Hlt');
  const names = (await page.locator('#examples option').evaluateAll((os) => os.map((o) => o.value))).filter(Boolean);
  assert.ok(names.length >= 8);
  let total = 0;
  for (const name of names) {
    await page.selectOption('#examples', name);
    const source = readFileSync(join(root, 'examples', `${name}.tov`), 'latin1');
    await waitListing(page, source);
    const want = await mod.evaluate((s) => {
      const { commands } = tov.compile(s), jumps = tov.constants.jumps;
      return commands.filter((c) => c.field !== null).map((c) =>
        `${c.adr}>${c.opd} ${jumps[c.fct]} ${c.opd > c.adr ? 'forward' : 'backward'} landed`);
    }, source);
    const arrows = await drawn(page, '#listing');
    assert.deepEqual(arrows.map((a) => a.key).sort(), want.sort(), name);
    assert.deepEqual(crossings(arrows), [], name);
    total += want.length;
  }
  assert.ok(total > 30, `${total} jumps`);
  assert.deepEqual(page.problems, []);
});

test('a jump\'s operand goes to its target and a target\'s "from" to its jumps, by click and by key; each is said in words', async () => {
  const page = await open('', wide);
  await waitText(page, '#listing', '252: Hlt');
  const chosen = () => page.locator('#listing .row.chosen .adr').textContent().then((t) => Number(t.replace(':', '')));
  const row = (adr) => page.locator('#listing .row', { hasText: `${String(adr).padStart(4)}: ` });
  await row(49).locator('.go').click();
  assert.equal(await chosen(), 76);
  assert.equal(await row(93).locator('.tag').textContent(), ' from 71');
  assert.equal(await row(98).locator('.tag').textContent(), ' from 32');
  await row(93).locator('.tag .go').click();
  assert.equal(await chosen(), 71);
  // Enter follows the jump, Shift+Enter goes back through the jumps to the target in turn
  await page.keyboard.press('Enter');
  assert.equal(await chosen(), 93);
  await page.keyboard.press('Enter');
  assert.equal(await chosen(), 20);
  await page.keyboard.press('Shift+Enter');
  assert.equal(await chosen(), 93);
  assert.equal(await page.locator('#listing').getAttribute('aria-keyshortcuts'), 'Enter Shift+Enter');
  const said = (adr) => row(adr).locator('.sr-only').textContent();
  assert.equal(await said(93), 'address 93: Jmp 20, from END at line 9, column 3, unconditional jump, backward to address 20, jumped to from 71');
  assert.equal(await said(233), 'address 233: Jpf 125, from UNTIL at line 15, column 3, conditional jump (taken when false), backward to address 125');
  assert.equal(await said(216), 'address 216: Jpt 238, from | at line 15, column 17, conditional jump (taken when true), forward to address 238');
  assert.deepEqual(page.problems, []);
});

// Chains: an IF with ELSIFs threads its branch-ending jumps; in `a | (b | c)` the right
// operand's chain is joined onto the left's without a trace line.
const chains = `VAR a: INTEGER; b: INTEGER; ok: BOOLEAN;
BEGIN
  a := 1; b := 2;
  ok := (a < b) | (b < 0) & (a # 0);
  IF a = 1 THEN WRITE 1 ELSIF a = 2 THEN WRITE 2 ELSIF a = 3 THEN WRITE 3 ELSE WRITE 4 END;
  IF (a < b) | ((b < 0) | (a # 0)) THEN WRITE 5 END
END.
`;

test('the replay moves between fix-ups; the listing shows its store, with chains, lone jumps and joins as they stand', async () => {
  const mod = await withModule();
  const { events } = await mod.evaluate((s) => tov.compile(s), chains);
  const fixes = events.map((e, i) => [e, i + 1]).filter(([e]) => e.kind === 'fixup');
  const page = await open('', wide);
  await setSource(page, chains);
  await waitListing(page, chains);
  await page.click('#tab-replay');
  const at = () => page.locator('#replay-event').textContent().then((t) => Number(t.split('/')[0]));
  assert.equal(await page.getByRole('button', { name: 'Next fix-up' }).getAttribute('aria-keyshortcuts'), '] Shift+ArrowRight');
  // ] and Shift+ArrowRight on the slider, and the buttons, visit every fix-up in order and back
  await page.focus('#replay-slider');
  await page.keyboard.press('Home');
  const seen = [];
  for (let n = 0; n < fixes.length; n++) {
    await page.keyboard.press(n % 2 ? ']' : 'Shift+ArrowRight');
    seen.push(await at());
  }
  assert.deepEqual(seen, fixes.map(([, k]) => k));
  await page.keyboard.press(']'); // none after the last: it stays
  assert.equal(await at(), fixes.at(-1)[1]);
  await page.getByRole('button', { name: 'Previous fix-up' }).click();
  assert.equal(await at(), fixes.at(-2)[1]);
  await page.keyboard.press('[');
  assert.equal(await at(), fixes.at(-3)[1]);

  // where the listing says what, at the event before the fix-up of the joined chain
  const replayTag = (adr) => page.locator('#replay-store .row', { hasText: `${String(adr).padStart(4)}: ` }).locator('.tag');
  const listed = (adr) => page.locator('#listing .row', { hasText: `${String(adr).padStart(4)}: ` });
  const before = fixes.find(([e]) => e.text.endsWith('Fixup 215 with 236'))[1] - 1;
  await page.locator('#replay-slider').fill(String(before));
  await waitText(page, '#replay-event', `${before}/`);
  assert.equal(await replayTag(197).textContent(), ' pending, first of its chain');
  assert.equal(await replayTag(214).textContent(), ' pending, next link at 198 (the jump at 197)');
  assert.equal(await replayTag(231).textContent(), ' pending, alone in its chain');
  assert.deepEqual(await Promise.all([197, 214, 231].map((a) => listed(a).locator('.txt').textContent())),
    ['Jpt <fixme>', 'Jpt 198', 'Jpf <fixme>']);
  assert.equal(await listed(231).locator('.sr-only').textContent(),
    'address 231: Jpf 243, from IF at line 6, column 3, conditional jump (taken when false), pending, alone in its chain');
  assert.deepEqual(await page.locator('#listing .row.unemitted .adr').allTextContents(), [' 236: ', ' 241: ', ' 243: ']);
  const pending = (await drawn(page, '#listing')).map((a) => a.key).filter((k) => k.endsWith('pending'));
  assert.deepEqual(pending, ['214>197 true backward pending']);
  assert.deepEqual((await drawn(page, '#panel-replay')).map((a) => a.key).filter((k) => k.endsWith('pending')), pending);
  // the ELSIF chain, earlier: the branch-ending jumps linked, the first of them alone until the second
  const elsif = events.findIndex((e) => e.kind === 'cmd' && e.cmd.adr === 144);
  await page.locator('#replay-slider').fill(String(elsif));
  assert.equal(await replayTag(115).textContent(), ' pending, alone in its chain');
  await page.locator('#replay-slider').fill(String(elsif + 1));
  assert.equal(await replayTag(115).textContent(), ' pending, first of its chain');
  assert.equal(await replayTag(144).textContent(), ' pending, next link at 116 (the jump at 115)');
  assert.equal(await listed(144).locator('.txt').textContent(), 'Jmp 116');
  // another tab: the final listing
  await page.click('#tab-output');
  assert.deepEqual(await Promise.all([115, 144, 197, 214].map((a) => listed(a).locator('.txt').textContent())),
    ['Jmp 185', 'Jmp 185', 'Jpt 236', 'Jpt 236']);
  assert.equal(await page.locator('#listing .row.unemitted').count(), 0);
  assert.ok((await drawn(page, '#listing')).every((a) => a.key.endsWith('landed')));
  assert.deepEqual(page.problems, []);
});
