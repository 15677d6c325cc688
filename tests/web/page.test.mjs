// The page as a user works with it: typing, choosing, clicking, pressing keys,
// and reading what the page shows, against what the console writes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { consoleRun, lines, open, root, setSource, setup, shot, waitListing, waitText } from './harness.mjs';

setup();
const gcd = readFileSync(join(root, 'examples/gcd.tov'), 'latin1');
const gcdRun = consoleRun(['-x'], gcd);
const gcdExec = lines(gcdRun.stderr).filter((l) => l.startsWith('Comp.Dbg: ')).slice(1);
const wide = { viewport: { width: 1280, height: 720 } };

// The page starts with gcd.
async function openGcd() {
  const page = await open('', wide);
  await waitText(page, '#listing', '252: Hlt');
  return page;
}

test('a compile error is marked at its token with the console\'s message, and mending it lists', async () => {
  const page = await open();
  const source = 'VAR x: INTEGER;\nBEGIN\n  x := 1 +\n  WRITE x\nEND.\n';
  const want = lines(consoleRun([], source).stderr).at(-1);
  assert.equal(want, 'Prsr (4,3): Expected factor.');
  await setSource(page, source);
  await waitText(page, '#message', want);
  const marked = page.locator('.cm-lintRange-error');
  assert.equal(await marked.textContent(), 'WRITE');
  assert.equal(await marked.evaluate((el) => el.closest('.cm-line').textContent), '  WRITE x');
  assert.equal(await page.locator('#run').isDisabled(), true);
  await page.click('.cm-content >> text=WRITE');
  await page.keyboard.press('Home');
  await page.keyboard.type('2;');
  await waitText(page, '#listing', 'Wrt');
  assert.equal(await page.locator('#message').textContent(), '');
  assert.deepEqual(page.problems, []);
});

test('a run shows the program\'s output, its error and the console\'s texts', async () => {
  const page = await openGcd();
  for (const file of ['gcd', 'overflow']) {
    const source = readFileSync(join(root, 'examples', `${file}.tov`), 'latin1');
    const want = consoleRun(['-x'], source);
    await page.selectOption('#examples', file);
    await waitListing(page, source);
    await page.click('#run');
    await page.waitForFunction(() => /Finished|Ended/.test(document.querySelector('#status').textContent));
    const output = lines(want.stdout.slice(consoleRun([], source).stdout.length));
    assert.deepEqual((await page.locator('#output').textContent()).split('\r\n').filter(Boolean), output, file);
    if (file === 'gcd') await shot(page, 'page'); // the README's picture
    if (want.status) assert.ok((await page.locator('#run-error').textContent()).startsWith(lines(want.stderr).at(-1)));
    // the console's stderr, whole and exact, as a download
    await page.click('#tab-console');
    await page.selectOption('#console-text', 'stderr');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('text=Download')]);
    assert.equal(readFileSync(await download.path(), 'latin1'), want.stderr, file);
    await page.click('#tab-output');
  }
  assert.deepEqual(page.problems, []);
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
  await waitText(page, '.toolbar .info', '1,001 lines'); // the header and 1,000 commands
  await page.click('#tab-machine'); // and stepping stops there too
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 1 of');
  await page.keyboard.press('F5');
  await waitText(page, '#machine-info', 'Step 1,000 of 1,000');
  assert.match(await page.locator('#machine-info').textContent(), /stopped at the step limit$/);
  await page.fill('#limit', '10000000');
  await page.click('#run');
  await page.waitForFunction(() => !document.querySelector('#stop').disabled);
  await page.click('#stop');
  await waitText(page, '#status', 'Stopped.');
  assert.equal(await page.locator('#stop').isDisabled(), true);
  // the new worker compiles the next change
  await page.click('.cm-content >> text=i + 1');
  await page.keyboard.press('End');
  await page.keyboard.type('; WRITE i');
  await waitText(page, '#listing', 'Wrt');
  assert.deepEqual(page.problems, []);
});

// Types the source and opens the page's link in a new page.
async function reopen(source) {
  const first = await open();
  await setSource(first, source);
  await first.waitForFunction(() => location.hash.length > 5);
  const url = first.url();
  await first.close();
  return open(url.slice(url.indexOf('#')));
}

test('a link keeps the program, opened afresh or set in the same tab; one that does not decode gives an empty editor and a message', async () => {
  const source = 'CONST n = 7;\nBEGIN WRITE n * 6 END.\n';
  const page = await reopen(source);
  await waitText(page, '#listing', 'Val 42');
  assert.equal((await page.locator('.cm-line').allTextContents()).join('\n'), source);
  // opened afresh, then set in the same tab
  const p = await open('#src=%%%');
  await waitText(p, '#notice', 'editor starts empty');
  assert.equal(await p.locator('.cm-content').textContent(), '');
  for (const bad of ['#src=AAAAA', '#src=_-8', '#other']) {
    await p.evaluate(() => { location.hash = '#src=QkVHSU4gRU5ELg'; }); // BEGIN END.
    await waitText(p, '.cm-content', 'BEGIN END.');
    await p.evaluate((h) => { location.hash = h; }, bad);
    await waitText(p, '#notice', 'editor starts empty');
    assert.equal(await p.locator('.cm-content').textContent(), '', bad);
  }
});

test('a link over 100 kB leaves the address once read; a program too long for a link leaves none and says so', async () => {
  const long = `(* ${'x'.repeat(80000)} *)\nBEGIN WRITE 2 END.\n`; // a link of 107 kB
  const opened = await open(`#src=${Buffer.from(long).toString('base64url')}`);
  await waitText(opened, '#listing', 'Val 2');
  assert.equal(await opened.evaluate(() => location.hash), '');
  const page = await openGcd();
  const source = `(* ${'x'.repeat(1600000)} *)\nBEGIN WRITE 1 END.\n`; // a link of 2.1 MB
  await page.click('.cm-content');
  await page.keyboard.press('Control+A');
  await page.keyboard.insertText(source);
  await waitText(page, '#notice', 'No link: the program would make an address of 2,133,373 characters');
  assert.equal(await page.evaluate(() => location.hash), '');
  await waitText(page, '#listing', 'Val 1');
  assert.deepEqual(page.problems, []);
});

test('program text arriving by a link is only shown as text, under the page\'s policy', async () => {
  const page = await reopen('(* <script>window.owned = 1</script> <img src=x onerror="window.owned = 2"> *)\n'
    + 'VAR <b>: INTEGER;\nBEGIN WRITE 1 END.\n');
  await waitText(page, '#message', 'Prsr (2,5)');
  assert.match(await page.locator('.cm-content').textContent(), /<img src=x onerror="window.owned = 2">/);
  assert.equal(await page.evaluate(() => window.owned), undefined);
  assert.equal(await page.locator('main img, main script, .cm-content b').count(), 0);
  const header = page.response.headers()['content-security-policy'];
  assert.match(header, /script-src 'self' 'wasm-unsafe-eval'(;|$)/);
  // the page's own policy is the same, less what only a header can carry
  const meta = await page.locator('meta[http-equiv=Content-Security-Policy]').getAttribute('content');
  assert.equal(meta, header.replace(/; frame-ancestors 'none'/, ''));
  assert.deepEqual(page.problems, []);
});

test('source beside code: a command marks its token, a source line its commands, and the store its bytes', async () => {
  const page = await openGcd();
  // each command at its own token: an operand, the assigned variable, an operator, the keyword of a jump
  const from = Object.fromEntries(await page.locator('#listing .row').evaluateAll((rows) => rows.map((r) =>
    [parseInt(r.querySelector('.adr').textContent), `${r.querySelector('.txt').textContent} ${r.querySelector('.src').textContent}`])));
  assert.deepEqual([0, 5, 32, 49, 71, 93, 216, 233, 238, 243, 248, 250, 252].map((adr) => from[adr]), ['Val 1071 6:8 a',
    'Sto 0 6:3 x', 'Jpf 98 7:3 WHILE', 'Jpf 76 8:5 IF', 'Jmp 93 8:30 ELSE', 'Jmp 20 9:3 END', 'Jpt 238 15:17 |',
    'Jpf 125 15:3 UNTIL', 'Lod 0 16:9 x', 'Lod 1 16:13 y', 'Add 16:11 +', 'Wrt 16:3 WRITE', 'Hlt 17:1 END']);
  await page.locator('#listing .row', { hasText: '   5: Sto 0 (x)' }).hover();
  assert.equal(await page.locator('.cm-marked').textContent(), 'x');
  assert.equal(await page.locator('.cm-marked').evaluate((el) => el.closest('.cm-line').textContent), '  x := a; y := b;');
  await shot(page, 'tour-code');
  await page.locator('.cm-line >> text=WRITE x + y').click({ position: { x: 60, y: 5 } });
  assert.deepEqual(await page.locator('#listing .row.linked').evaluateAll((rows) => rows.map((r) => r.querySelector('.adr').textContent
    + r.querySelector('.txt').textContent + r.querySelector('.name').textContent)), [' 238: Lod 0 (x)', ' 243: Lod 1 (y)', ' 248: Add', ' 250: Wrt']);
  // choosing a command by keyboard marks its token and its bytes in the store
  await page.focus('#listing');
  await page.keyboard.press('Home');
  assert.equal(await page.locator('.cm-marked').textContent(), 'a');
  await page.keyboard.press('ArrowDown');
  assert.equal(await page.locator('.cm-marked').textContent(), 'x');
  await page.click('#tab-store');
  assert.deepEqual(await page.locator('.byte.chosen').allTextContents(), ['03', '00', '00', '00', '00']);
  await shot(page, 'tour-store');
  // the store is the listing encoded: an operation byte, then a 4-byte operand or a second byte
  const ops = 'Hlt Val Lod Sto - Jmp Jpf Jpt'.split(' ');
  const rest = 'Wrt WrC Neg Add Sub Mul Div Bus Vid Eql Neq Lss Leq Gtr Geq Not Or And'.split(' ');
  const want = lines(consoleRun([], gcd).stdout).flatMap((l) => {
    const [name, operand] = l.replace(/^ *\d+: /, '').trim().split(' ');
    const v = Number(operand) >>> 0;
    return ops.includes(name) ? [ops.indexOf(name), ...(operand ? [v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24] : [])] : [4, rest.indexOf(name)];
  }).map((b) => b.toString(16).toUpperCase().padStart(2, '0'));
  assert.deepEqual(await page.locator('.byte:not(.unused)').allTextContents(), want);
  assert.equal(await page.locator('.byte.unused').count(), 1024 - want.length);
});

test('the compiler replay shows gcd\'s pending jumps and their fix-ups in order', async () => {
  const page = await openGcd();
  await page.click('#tab-replay');
  await page.focus('#replay-slider');
  await page.keyboard.press('Home');
  const seen = [];
  for (let before = null, now; (now = await page.locator('#replay-event').textContent()) !== before; before = now) {
    await page.keyboard.press('ArrowRight');
    const fix = /Gen\.Dbg: (Fixup (\d+) with (\d+))$/.exec(await page.locator('#replay-event').textContent());
    if (!fix) continue;
    seen.push(`Gen.Dbg: ${fix[1]}`);
    if (seen.length === 2) await shot(page, 'tour-replay');
    // the jump whose field is patched was pending one event before, and now lands
    const row = page.locator('#replay-store .row', { hasText: ` ${String(fix[2] - 1).padStart(4)}: ` });
    assert.match(await row.textContent(), new RegExp(`J(mp|pf|pt) ${fix[3]}$`));
    await page.keyboard.press('ArrowLeft');
    assert.match(await row.textContent(), /pending/);
    await page.keyboard.press('ArrowRight');
  }
  assert.deepEqual(seen, lines(gcdRun.stderr).filter((l) => l.startsWith('Gen.Dbg: Fixup')));
});

// What the machine view shows: step, pc, cond, stack and variables.
const machine = (page) => page.evaluate(() => ({
  info: document.querySelector('#machine-info').textContent,
  stack: [...document.querySelectorAll('#machine-stack .entry')].map((e) => Number(e.textContent)),
  cells: Object.fromEntries([...document.querySelectorAll('#machine-cells .cell')]
    .map((c) => [c.querySelector('.cname').textContent, c.querySelector('.cval').textContent])),
}));

test('stepping shows each state of the console\'s trace, stepping back returns to it, and Run to cursor stops there', async () => {
  const page = await openGcd();
  await page.click('#tab-machine');
  const states = [];
  // the first press records the run and steps once, as every later press
  for (let k = 1; k < 30; k++) {
    await page.keyboard.press('F10');
    await waitText(page, '#machine-info', `Step ${k} of 214`);
    const m = await machine(page);
    // state k as the console traces it: pc, cond, depth and the two top entries
    const [, pc, cond, depth, under, top] = /^Comp\.Dbg: +(\d+): (TRUE |FALSE) +(\d+) (.{11}) (.{11}):/.exec(gcdExec[k]);
    assert.match(m.info, new RegExp(`pc ${pc} · cond ${cond.trim()}`), `step ${k}`);
    assert.deepEqual([m.stack.length, ...m.stack.slice(-2).reverse()], [Number(depth), ...[top, under].slice(0, depth).map(Number)], `step ${k}`);
    states[k] = m;
  }
  assert.deepEqual(states[29].cells, { x: '609', y: '462' });
  for (let k = 28; k >= 20; k--) {
    await page.keyboard.press('Shift+F10');
    await waitText(page, '#machine-info', `Step ${k} of`);
    assert.deepEqual(await machine(page), states[k]);
  }
  // the first command of the cursor's line: WRITE x, with x = y
  await page.locator('.cm-line >> text=WRITE x;').click({ position: { x: 60, y: 5 } });
  await page.getByRole('button', { name: 'Run to cursor' }).click();
  await waitText(page, '#machine-info', 'pc 98');
  assert.deepEqual((await machine(page)).cells, { x: '21', y: '21' });
  assert.equal(await page.locator('.cm-line.cm-step').textContent(), '  WRITE x;');
  await shot(page, 'tour-machine');
  await page.keyboard.press('F5');
  await waitText(page, '#machine-info', 'Step 214 of 214 · pc 253 · cond TRUE · ended');
  assert.equal(await page.locator('#machine-output').textContent(), '21\r\n21\r\n');
  await page.getByRole('button', { name: 'Reset' }).click();
  await waitText(page, '#machine-info', 'Step 0 of 214');
});

test('a run-time error is shown at the source line of the failing command, in a run and when stepping', async () => {
  const page = await open();
  const source = 'VAR a: INTEGER; b: INTEGER;\nBEGIN\n  a := 7;\n  WRITE a;\n  WRITE a / b;\n  WRITE b\nEND.\n';
  const want = lines(consoleRun(['-x'], source).stderr).at(-1);
  assert.equal(want, 'Comp: Division by zero.');
  await setSource(page, source);
  await waitListing(page, source);
  await page.click('#run');
  await waitText(page, '#run-error', `${want} (line 5)`);
  assert.equal(await page.locator('.cm-line.cm-fault').textContent(), '  WRITE a / b;');
  await page.click('#tab-machine');
  await page.keyboard.press('F5'); // the first press runs to the end
  await waitText(page, '#machine-error', `${want} (line 5)`);
  assert.equal(await page.locator('#listing .row.current .txt').textContent(), 'Div');
  assert.equal(await page.locator('#machine-output').textContent(), '7\r\n');
});

// The generator trace's lines in view, and those of the console.
const shownLines = (page) => page.locator('#panel-traces .line').allTextContents();
const genLines = lines(gcdRun.stderr).filter((l) => l.startsWith('Gen.Dbg: ') && !l.includes('lck  pos'));

test('the traces: each line under the line of its token, by kind, only fix-ups; Enter moves the replay and the machine there', async () => {
  const page = await openGcd();
  await page.click('#tab-traces');
  await waitText(page, '#trace-caption', `of ${genLines.length + 1} lines`);
  // line 9 is the WHILE's END: its jump back, and the fix-up of the WHILE's jump
  await page.fill('#trace-line', '9');
  await waitText(page, '#trace-caption', '(2 of');
  assert.deepEqual(await shownLines(page), ['Gen.Dbg:   0   93: Jmp 20', 'Gen.Dbg: Fixup 33 with 98']);
  await page.fill('#trace-line', '');
  await page.selectOption('#trace-kind', { label: 'Jpf' });
  await waitText(page, '#trace-caption', `(${genLines.filter((l) => / Jpf /.test(l)).length} of`);
  assert.deepEqual(await shownLines(page), genLines.filter((l) => / Jpf /.test(l)));
  await page.selectOption('#trace-kind', '');
  await page.check('#trace-fixups');
  await waitText(page, '#trace-caption', `(${genLines.filter((l) => l.includes('Fixup')).length} of`);
  assert.deepEqual(await shownLines(page), genLines.filter((l) => l.includes('Fixup')));
  // Enter on the marked line, as a click, moves the replay to its event
  await page.locator('#panel-traces .line').nth(1).click();
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Enter');
  await page.click('#tab-replay');
  assert.match(await page.locator('#replay-event').textContent(), new RegExp(`${genLines.filter((l) => l.includes('Fixup'))[2]}$`));
  // the execution trace: the console's lines, those of one source line, and a step to go to
  await page.click('#tab-traces');
  await page.uncheck('#trace-fixups');
  await page.selectOption('#trace-which', 'exec');
  await waitText(page, '#trace-caption', '(214 of 214 lines)');
  assert.equal((await page.locator('#trace-caption').textContent()).split('  (')[0], lines(gcdRun.stderr).find((l) => l.includes('pc  cond')));
  await page.waitForFunction(() => !document.querySelector('#panel-traces .line')?.textContent.includes('…'));
  const first = await shownLines(page);
  assert.deepEqual(first, gcdExec.slice(0, first.length));
  await page.fill('#trace-line', '16');
  await waitText(page, '#trace-caption', '(4 of 214');
  await page.waitForFunction(() => ![...document.querySelectorAll('#panel-traces .line')].some((l) => l.textContent === '…'));
  assert.deepEqual(await shownLines(page), gcdExec.slice(-5, -1));
  await page.locator('#panel-traces .line').nth(3).click();
  await page.keyboard.press('Enter');
  await page.click('#tab-machine');
  await waitText(page, '#machine-info', 'Step 212 of 214 · pc 250');
  assert.deepEqual(page.problems, []);
});

test('the replay marks the token a command comes from, and the one being parsed; a backward jump has its arrow', async () => {
  const page = await openGcd();
  await page.click('#tab-replay');
  await page.focus('#replay-slider');
  await page.keyboard.press('Home');
  while (!(await page.locator('#replay-event').textContent()).endsWith('Jmp 20')) await page.keyboard.press('ArrowRight');
  // the WHILE's END on line 9, not the IF's on line 8
  const token = page.locator('.cm-token');
  assert.equal(await token.textContent(), 'END');
  assert.equal(await token.evaluate((el) => el.closest('.cm-line').textContent), '  END;');
  assert.equal(await page.locator('.cm-parsing').textContent(), 'END');
  assert.equal(await page.locator('#panel-replay svg.arrows path[data-adr="93"]').count(), 1);
  // the fix-up that follows lands the WHILE's jump; its token is the same END
  await page.keyboard.press('ArrowRight');
  assert.match(await page.locator('#replay-event').textContent(), /Fixup 33 with 98$/);
  assert.equal(await page.locator('#panel-replay svg.arrows path[data-adr="32"]').count(), 1);
  assert.equal(await token.evaluate((el) => el.closest('.cm-line').textContent), '  END;');
});

test('the step limit takes whole numbers from 1 to its maximum and says so when it refuses one', async () => {
  const page = await openGcd();
  for (const bad of ['-1', '0', '0.5', 'text', '1e99', '10000001']) {
    await page.fill('#limit', bad);
    await page.click('#run');
    await waitText(page, '#limit-error', 'The step limit must be a whole number from 1 to 10,000,000.');
    await waitText(page, '#status', 'Not run');
    assert.equal(await page.locator('#limit').getAttribute('aria-invalid'), 'true', bad);
    assert.equal(await page.locator('#output').textContent(), '', bad);
  }
  await page.fill('#limit', '100');
  await page.click('#run');
  await waitText(page, '#status', 'Stopped at the step limit after 100 commands.');
  assert.equal(await page.locator('#limit-error').textContent(), '');
  await page.click('#tab-machine');
  await page.getByRole('button', { name: 'Run to end' }).click(); // one press on a fresh program
  await waitText(page, '#machine-info', 'Step 100 of 100');
});

test('every tab passes axe with no serious or critical violation; the store and a listing row by keyboard and in words', async () => {
  const page = await openGcd();
  await page.click('#run');
  await waitText(page, '#status', 'Finished');
  await page.evaluate(readFileSync(join(root, 'web/node_modules/axe-core/axe.min.js'), 'utf8'));
  for (const tab of ['output', 'console', 'machine', 'store', 'replay', 'traces']) {
    await page.click(`#tab-${tab}`);
    if (tab === 'machine') await page.keyboard.press('F10');
    await page.waitForFunction(() => !/Recording/.test(document.querySelector('#panel-traces .note')?.textContent ?? ''));
    const found = await page.evaluate(async () => (await axe.run(document, { resultTypes: ['violations'] })).violations
      .filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`));
    assert.deepEqual(found, [], tab);
  }
  await page.click('#tab-store');
  await page.focus('#store');
  await page.keyboard.press('End');
  assert.deepEqual(await page.locator('.byte.chosen').allTextContents(), ['00']); // the Hlt
  await page.keyboard.press('ArrowLeft');
  assert.deepEqual(await page.locator('.byte.chosen').allTextContents(), ['04', '00']); // Wrt
  assert.equal(await page.getByRole('option', { name: 'address 5: Sto 0, variable x, from x at line 6, column 3' }).count(), 1);
});

test('a long Run keeps its texts plainly cut, with their full size and a download of the whole', async () => {
  const page = await openGcd();
  // about 310,000 traced commands: 18 MB of standard error, beyond the 16 MiB kept
  const source = 'VAR i: INTEGER;\nBEGIN\n  i := 0;\n  WHILE i < 34444 DO i := i + 1 END;\n  WRITE i\nEND.\n';
  const want = consoleRun(['-x'], source);
  await setSource(page, source);
  await waitListing(page, source);
  await page.click('#run');
  await waitText(page, '#status', 'Finished');
  assert.equal(await page.locator('#output').textContent(), '34444\r\n');
  await page.click('#tab-console');
  await page.selectOption('#console-text', 'stderr');
  await waitText(page, '.toolbar .info', `Cut: the first 16,777,216 of ${want.stderr.length.toLocaleString('en')} bytes`);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('text=Download')]);
  assert.ok(readFileSync(await download.path(), 'latin1') === want.stderr, 'the whole of standard error');
  assert.deepEqual(page.problems, []);
});
