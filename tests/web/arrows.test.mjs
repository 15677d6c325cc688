// Jumps as arrows: in the listing and the replay, drawn from the compile records; the
// listing as the replay's store; fix-up keys. (Going from a jump to its target and back:
// page.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { example, keys, open, press, setSource, row, setup, tab, text, texts, waitListing, waitText, withModule } from './harness.mjs';

setup();
const wide = { viewport: { width: 1280, height: 800 } };
const compile = (mod, source) => mod.evaluate((s) => ({ ...tov.compile(s), jumps: tov.constants.jumps }), source);

// The arrows drawn in a view: "adr>to when dir state", with each one's rows and lane (its x).
const drawn = (page, view) => page.locator(`${view} svg.arrows path.arrow`).evaluateAll((ps) => ps.map((p) => {
  const [, , y1, , x, , y2] = p.getAttribute('d').split(' ').map(Number);
  return { key: `${p.dataset.adr}>${p.dataset.to} ${p.dataset.when} ${p.dataset.dir} ${p.dataset.state}`,
    lo: Math.min(y1, y2), hi: Math.max(y1, y2), x };
}));

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

test('every example\'s listing has one arrow per jump of its compile records, nested ones inside; the replay moves between fix-ups and the listing shows its store, with chains, lone jumps and joins as they stand', async () => {
  const mod = await withModule(), page = await open('', wide);
  await waitText(page, '#listing', 'Hlt');
  const names = (await page.locator('#examples option').evaluateAll((os) => os.map((o) => o.value))).filter(Boolean);
  assert.ok(names.length >= 8);
  for (const name of names) {
    const source = example(name);
    await page.selectOption('#examples', name);
    await waitListing(page, source);
    const c = await compile(mod, source);
    const want = c.commands.filter((j) => j.field !== null)
      .map((j) => `${j.adr}>${j.opd} ${c.jumps[j.fct]} ${j.opd > j.adr ? 'forward' : 'backward'} landed`);
    const arrows = await drawn(page, '#listing');
    assert.deepEqual(arrows.map((a) => a.key).sort(), want.sort(), name);
    // an arrow within another's span, not on both its rows, lies in an inner lane
    const outside = arrows.filter((b) => arrows.some((a) => a !== b && a.lo <= b.lo && b.hi <= a.hi
      && (a.lo < b.lo || b.hi < a.hi) && b.x <= a.x));
    assert.deepEqual(outside, [], name);
  }
  // the chains: the replay by fix-ups, the listing as its store
  const { events } = await compile(mod, chains);
  await setSource(page, chains);
  await waitListing(page, chains);
  const fixes = events.map((e, i) => [e, i + 1]).filter(([e]) => e.kind === 'fixup');
  await tab(page, 'replay');
  const at = async () => parseInt(await text(page, '#replay-event'));
  assert.equal(await keys(page, 'Next fix-up'), '] Shift+ArrowRight');
  // ] and Shift+ArrowRight on the slider visit every fix-up in order, and stay at the last
  await page.focus('#replay-slider');
  await press(page, 'Home');
  const seen = [];
  for (let n = 0; n <= fixes.length; n++) {
    await press(page, n % 2 ? ']' : 'Shift+ArrowRight');
    seen.push(await at());
  }
  assert.deepEqual(seen, [...fixes.map(([, k]) => k), fixes.at(-1)[1]]);
  await page.getByRole('button', { name: 'Previous fix-up' }).click();
  await press(page, '[');
  assert.equal(await at(), fixes.at(-3)[1]);

  const tag = (adr) => row(page, '#replay-store', adr).locator('.tag').textContent();
  const listed = (...adrs) => Promise.all(adrs.map((a) => row(page, '#listing', a).locator('.txt').textContent()));
  const pending = async (view) => (await drawn(page, view)).map((a) => a.key).filter((k) => k.endsWith('pending'));
  const slide = (k) => page.locator('#replay-slider').fill(String(k));
  // before the fix-up of the joined chain
  await slide(fixes.find(([e]) => e.text.endsWith('Fixup 215 with 236'))[1] - 1);
  assert.deepEqual(await Promise.all([197, 214, 231].map(tag)), [' pending, first of its chain',
    ' pending, next link at 198 (the jump at 197)', ' pending, alone in its chain']);
  assert.deepEqual(await listed(197, 214, 231), ['Jpt <fixme>', 'Jpt 198', 'Jpf <fixme>']);
  assert.equal(await row(page, '#listing', 231).locator('.sr-only').textContent(),
    'address 231: Jpf <fixme>, from IF at line 6, column 3, conditional jump (taken when false), pending, alone in its chain');
  assert.deepEqual(await texts(page, '#listing .row.unemitted .adr'), [' 236: ', ' 241: ', ' 243: ']);
  assert.deepEqual(await pending('#listing'), ['214>197 true backward pending']);
  assert.deepEqual(await pending('#panel-replay'), ['214>197 true backward pending']);
  // the ELSIF chain: its first jump alone until the second is emitted
  const second = events.findIndex((e) => e.kind === 'cmd' && e.cmd.adr === 144);
  await slide(second);
  assert.equal(await tag(115), ' pending, alone in its chain');
  await slide(second + 1);
  assert.deepEqual(await Promise.all([115, 144].map(tag)), [' pending, first of its chain', ' pending, next link at 116 (the jump at 115)']);
  assert.deepEqual(await listed(115, 144), ['Jmp <fixme>', 'Jmp 116']);
  // another tab: the final listing
  await tab(page, 'output');
  assert.deepEqual(await listed(115, 144, 197, 214), ['Jmp 185', 'Jmp 185', 'Jpt 236', 'Jpt 236']);
  assert.equal(await page.locator('#listing .row.unemitted').count(), 0);
  assert.deepEqual(await pending('#listing'), []);
});
