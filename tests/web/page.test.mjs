// The page as a user works with it: typing, choosing, clicking, pressing keys, and
// reading what the page shows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { setup, open, root } from './harness.mjs';
import { console_, setSource, waitText, waitListing, editorText, lines } from './page-support.mjs';

const ctx = setup();

test('a compile error is marked at its token with the console\'s message', async () => {
  const page = await open();
  const source = 'VAR x: INTEGER;\nBEGIN\n  x := 1 +\n  WRITE x\nEND.\n';
  const want = lines(console_(source).stderr).at(-1);
  assert.equal(want, 'Prsr (4,3): Expected factor.');
  await setSource(page, source);
  await waitText(page, '#message', want);
  const marked = page.locator('.cm-lintRange-error');
  assert.equal(await marked.textContent(), 'WRITE');
  const line = await marked.evaluate((el) => el.closest('.cm-line').textContent);
  assert.equal(line, '  WRITE x');
  assert.equal(await page.locator('#run').isDisabled(), true);
  // mending the error removes the message and brings the listing
  await page.click('.cm-content >> text=WRITE');
  await page.keyboard.press('Home');
  await page.keyboard.type('2;');
  await waitText(page, '#listing', 'Wrt');
  assert.equal(await page.locator('#message').textContent(), '');
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('the editor highlights keywords, numbers and nested comments', async () => {
  const page = await open();
  await setSource(page, '(* a (* b *)\n   c *) BEGIN WRITE 12 END.');
  await waitText(page, '#listing', 'Val 12');
  const colour = (text) => page.locator('.cm-line span', { hasText: new RegExp(`^${text}$`) })
    .evaluate((el) => getComputedStyle(el).color);
  const comment = await colour('\\(\\* a \\(\\* b \\*\\)');
  // the inner close does not end the comment: its second line is comment too
  assert.equal(await colour('   c \\*\\)'), comment);
  const keyword = await colour('BEGIN'), number = await colour('12');
  assert.equal(await colour('WRITE'), keyword);
  assert.equal(new Set([comment, keyword, number]).size, 3);
  await page.close();
});

test('every example runs with the console\'s output and texts', async () => {
  const page = await open();
  for (const file of ['gcd', 'overflow', 'truth']) {
    const source = readFileSync(join(root, 'examples', `${file}.tov`), 'latin1');
    const want = console_(source, ['-x']);
    await page.selectOption('#examples', file);
    await waitListing(page, source);
    await page.click('#run');
    await page.waitForFunction(() => /Finished|Ended/.test(document.querySelector('#status').textContent));
    const output = lines(want.stdout.slice(console_(source).stdout.length));
    assert.deepEqual((await page.locator('#output').textContent()).split('\r\n').filter(Boolean), output, file);
    if (want.status !== 0) {
      assert.ok((await page.locator('#run-error').textContent()).startsWith(lines(want.stderr).at(-1)));
    }
    // the console texts, whole and exact
    await page.click('#tab-console');
    await page.selectOption('#console-text', 'stderr');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('text=Download')]);
    const got = readFileSync(await download.path(), 'latin1');
    assert.equal(got, want.stderr, file);
    await page.click('#tab-output');
  }
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('a runaway loop stops at the step limit, and Stop ends a run at once', async () => {
  const page = await open();
  const source = 'VAR i: INTEGER;\nBEGIN\n  WHILE TRUE DO i := i + 1 END\nEND.\n';
  await setSource(page, source);
  await waitListing(page, source);
  await page.fill('#limit', '1000');
  await page.click('#run');
  await waitText(page, '#status', 'Stopped at the step limit after 1,000 commands.');
  await page.click('#tab-console');
  await page.selectOption('#console-text', 'execTrace');
  await waitText(page, '.toolbar .info', '1,001 lines');   // the header and 1,000 commands
  await page.fill('#limit', '2000000000');
  await page.click('#run');
  await page.waitForFunction(() => !document.querySelector('#stop').disabled);
  await page.waitForTimeout(300);
  await page.click('#stop');
  await waitText(page, '#status', 'Stopped.');
  assert.equal(await page.locator('#stop').isDisabled(), true);
  // the new worker compiles the next change
  await page.click('.cm-content >> text=i + 1');
  await page.keyboard.press('End');
  await page.keyboard.type('; WRITE i');
  await waitText(page, '#listing', 'Wrt');
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('a link keeps the program; a link that does not decode gives an empty editor and a message', async () => {
  let page = await open();
  const source = 'CONST n = 7;\nBEGIN WRITE n * 6 END.\n';
  await setSource(page, source);
  await page.waitForFunction(() => location.hash.length > 5);
  const url = page.url();
  await page.close();
  page = await open(url.slice(url.indexOf('#')));
  await waitText(page, '#listing', 'Val 42');
  assert.equal(await editorText(page), source);
  await page.close();
  for (const bad of ['#src=%%%', '#src=AAAAA', '#src=_-8', '#other']) {
    page = await open(bad);
    await waitText(page, '#notice', 'editor starts empty');
    assert.equal(await page.locator('.cm-content').textContent(), '', bad);
    await page.close();
  }
});

test('program text is only ever shown as text', async () => {
  const hostile = '(* <script>window.owned = 1</script> <img src=x onerror="window.owned = 2"> *)\n'
    + 'VAR <b>: INTEGER;\nBEGIN WRITE 1 END.\n';
  let page = await open();
  await setSource(page, hostile);
  await page.waitForFunction(() => location.hash.length > 100);
  const url = page.url();
  await page.close();
  // again through the link, which is how such a text would arrive
  page = await open(url.slice(url.indexOf('#')));
  await waitText(page, '#message', 'Prsr (2,5)');
  await page.waitForTimeout(300);
  assert.match(await page.locator('.cm-content').textContent(), /<img src=x onerror="window.owned = 2">/);
  assert.equal(await page.evaluate(() => window.owned), undefined);
  assert.equal(await page.locator('main img, main script, .cm-content b').count(), 0);
  assert.deepEqual(page.problems, []);
  await page.close();
});

test('on a phone-sized screen every function is still there', async () => {
  const page = await open('', { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
  await page.selectOption('#examples', 'primes');
  await waitListing(page, readFileSync(join(root, 'examples/primes.tov'), 'latin1'));
  await page.tap('#run');
  await waitText(page, '#output', '47');
  for (const tab of ['Console', 'Machine', 'Store', 'Compiler', 'Traces', 'Output']) {
    await page.getByRole('tab', { name: tab }).tap();
    assert.equal(await page.getByRole('tab', { name: tab }).getAttribute('aria-selected'), 'true');
  }
  for (const id of ['#examples', '#run', '#stop', '#limit', '#share', '#listing']) {
    const box = await page.locator(id).boundingBox();
    assert.ok(box && box.x >= 0 && box.x + box.width <= 390, id);
  }
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 390));
  await page.close();
});
