// The page as a user works with it: typing, choosing, clicking, pressing keys,
// and reading what the page shows, against what the console writes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { audit, consoleRun, example, execTrace, gcd, lines, open, openAt, press, replayTo, setSource, setup, shot, tab,
  text, texts, waitListing, waitStep, waitText, withModule, row } from './harness.mjs';

setup();
const gcdRun = consoleRun(['-x'], gcd);
const gcdExec = execTrace(gcd);

test('a compile error is marked at its token with the console\'s message, mending it lists, and a run-time error is shown at its line', async () => {
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
  assert.equal(await text(page, '#message'), '');
  // at the failing command's line, in a run and when stepping
  const fails = 'VAR a: INTEGER; b: INTEGER;\nBEGIN\n  a := 7;\n  WRITE a;\n  WRITE a / b;\n  WRITE b\nEND.\n';
  const fault = lines(consoleRun(['-x'], fails).stderr).at(-1);
  assert.equal(fault, 'Comp: Division by zero.');
  await setSource(page, fails);
  await waitListing(page, fails);
  await page.click('#run');
  await waitText(page, '#run-error', `${fault} (line 5)`);
  assert.equal(await text(page, '.cm-line.cm-fault'), '  WRITE a / b;');
  await tab(page, 'machine');
  await press(page, 'F5'); // the first press runs to the end
  await waitText(page, '#machine-error', `${fault} (line 5)`);
  assert.equal(await text(page, '#listing .row.current .txt'), 'Div');
  assert.equal(await text(page, '#machine-output'), '7\r\n');
});

test('a run shows the program\'s output, its error and the console\'s texts; the step limit takes only whole numbers from 1 to its maximum', async () => {
  const page = await openAt();
  for (const bad of ['-1', '0', '0.5', 'text', '1e99', '10000001']) {
    await page.fill('#limit', bad);
    await page.click('#run');
    await waitText(page, '#limit-error', 'The step limit must be a whole number from 1 to 10,000,000.');
    await waitText(page, '#status', 'Not run');
    assert.equal(await page.locator('#limit').getAttribute('aria-invalid'), 'true', bad);
    assert.equal(await text(page, '#output'), '', bad);
  }
  await page.fill('#limit', '100');
  await page.click('#run');
  await waitText(page, '#status', 'Stopped at the step limit after 100 commands.');
  assert.equal(await text(page, '#limit-error'), '');
  await page.fill('#limit', '1000000');
  for (const file of ['gcd', 'overflow']) {
    const source = example(file);
    const want = consoleRun(['-x'], source);
    await page.selectOption('#examples', file);
    await waitListing(page, source);
    await page.click('#run');
    await page.waitForFunction(() => /Finished|Ended/.test(document.querySelector('#status').textContent));
    const output = lines(want.stdout.slice(consoleRun([], source).stdout.length));
    assert.deepEqual((await text(page, '#output')).split('\r\n').filter(Boolean), output, file);
    if (file === 'gcd') await shot(page, 'page'); // the README's picture
    if (want.status) assert.ok((await text(page, '#run-error')).startsWith(lines(want.stderr).at(-1)));
    // the console's stderr, whole and exact, as a download
    await tab(page, 'console');
    await page.selectOption('#console-text', 'stderr');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('text=Download')]);
    assert.equal(readFileSync(await download.path(), 'latin1'), want.stderr, file);
    await tab(page, 'output');
  }
});

test('a runaway loop stops at the step limit, Stop ends a run at once, and a long run keeps its texts plainly cut', async () => {
  const page = await openAt('VAR i: INTEGER;\nBEGIN\n  WHILE TRUE DO i := i + 1 END\nEND.\n');
  await page.fill('#limit', '1000');
  await page.click('#run');
  await waitText(page, '#status', 'Stopped at the step limit after 1,000 commands.');
  await tab(page, 'console');
  await page.selectOption('#console-text', 'execTrace');
  await waitText(page, '.toolbar .info', '1,001 lines'); // the header and 1,000 commands
  await tab(page, 'machine'); // and stepping stops there too
  await press(page, 'F10');
  await waitStep(page, 1);
  await press(page, 'F5');
  await waitText(page, '#machine-info', 'Step 1,000 of 1,000');
  assert.match(await text(page, '#machine-info'), /stopped at the step limit$/);
  await page.fill('#limit', '10000000');
  await page.click('#run');
  await page.waitForFunction(() => !document.querySelector('#stop').disabled);
  await page.click('#stop');
  await waitText(page, '#status', 'Stopped.');
  assert.equal(await page.locator('#stop').isDisabled(), true);
  // the new worker compiles and runs the next program: about 310,000 traced commands,
  // 18 MB of standard error, beyond the 16 MiB kept
  const long = 'VAR i: INTEGER;\nBEGIN\n  i := 0;\n  WHILE i < 34444 DO i := i + 1 END;\n  WRITE i\nEND.\n';
  const want = consoleRun(['-x'], long);
  await setSource(page, long);
  await waitListing(page, long);
  await page.click('#run');
  await waitText(page, '#status', 'Finished');
  assert.equal(await text(page, '#output'), '34444\r\n');
  await tab(page, 'console');
  await page.selectOption('#console-text', 'stderr');
  await waitText(page, '.toolbar .info', `Cut: the first 16,777,216 of ${want.stderr.length.toLocaleString('en')} bytes`);
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('text=Download')]);
  assert.ok(readFileSync(await download.path(), 'latin1') === want.stderr, 'the whole of standard error');
});

test('a link keeps the program, only as text under the page\'s policy; a bad one gives an empty editor, a long one leaves the address', async () => {
  // typed, then opened afresh from the page's link
  const source = '(* <script>window.owned = 1</script> <img src=x onerror="window.owned = 2"> <b>b</b> *)\n'
    + 'CONST n = 7;\nBEGIN WRITE n * 6 END.\n';
  const first = await open();
  await setSource(first, source);
  await first.waitForFunction(() => location.hash.length > 5);
  const url = first.url();
  await first.close();
  const page = await open(url.slice(url.indexOf('#')));
  await waitText(page, '#listing', 'Val 42');
  assert.equal((await texts(page, '.cm-line')).join('\n'), source);
  assert.equal(await page.evaluate(() => window.owned), undefined);
  assert.equal(await page.locator('main img, main script, .cm-content b').count(), 0);
  const header = page.response.headers()['content-security-policy'];
  assert.match(header, /script-src 'self' 'wasm-unsafe-eval'(;|$)/);
  // the page's own policy is the same, less what only a header can carry
  const meta = await page.locator('meta[http-equiv=Content-Security-Policy]').getAttribute('content');
  assert.equal(meta, header.replace(/; frame-ancestors 'none'/, ''));
  // one that does not decode, opened afresh, then set in the same tab
  const p = await open('#src=%%%');
  await waitText(p, '#notice', 'editor starts empty');
  assert.equal(await text(p, '.cm-content'), '');
  for (const bad of ['#src=AAAAA', '#src=_-8', '#other']) {
    await p.evaluate(() => { location.hash = '#src=QkVHSU4gRU5ELg'; }); // BEGIN END.
    await waitText(p, '.cm-content', 'BEGIN END.');
    await p.evaluate((h) => { location.hash = h; }, bad);
    await waitText(p, '#notice', 'editor starts empty');
    assert.equal(await text(p, '.cm-content'), '', bad);
  }
  // a link over 100 kB leaves the address once read; a program too long for one leaves none
  const long = `(* ${'x'.repeat(80000)} *)\nBEGIN WRITE 2 END.\n`; // a link of 107 kB
  const opened = await open(`#src=${Buffer.from(long).toString('base64url')}`);
  await waitText(opened, '#listing', 'Val 2');
  assert.equal(await opened.evaluate(() => location.hash), '');
  await opened.click('.cm-content');
  await opened.keyboard.press('Control+A');
  await opened.keyboard.insertText(`(* ${'x'.repeat(1600000)} *)\nBEGIN WRITE 1 END.\n`); // a link of 2.1 MB
  await waitText(opened, '#notice', 'No link: the program would make an address of 2,133,373 characters');
  assert.equal(await opened.evaluate(() => location.hash), '');
  await waitText(opened, '#listing', 'Val 1');
});

test('source beside code: a command marks its token, a source line its commands, the store its bytes; jumps lead to their targets and back', async () => {
  const page = await openAt();
  // each command at its own token: an operand, the assigned variable, an operator, the keyword of a jump
  const from = Object.fromEntries(await page.locator('#listing .row').evaluateAll((rows) => rows.map((r) =>
    [parseInt(r.querySelector('.adr').textContent), `${r.querySelector('.txt').textContent} ${r.querySelector('.src').textContent}`])));
  assert.deepEqual([0, 5, 32, 49, 71, 93, 216, 233, 238, 243, 248, 250, 252].map((adr) => from[adr]), ['Val 1071 6:8 a',
    'Sto 0 6:3 x', 'Jpf 98 7:3 WHILE', 'Jpf 76 8:5 IF', 'Jmp 93 8:30 ELSE', 'Jmp 20 9:3 END', 'Jpt 238 15:17 |',
    'Jpf 125 15:3 UNTIL', 'Lod 0 16:9 x', 'Lod 1 16:13 y', 'Add 16:11 +', 'Wrt 16:3 WRITE', 'Hlt 17:1 END']);
  await page.locator('#listing .row', { hasText: '   5: Sto 0 (x)' }).hover();
  assert.equal(await text(page, '.cm-marked'), 'x');
  assert.equal(await page.locator('.cm-marked').evaluate((el) => el.closest('.cm-line').textContent), '  x := a; y := b;');
  await page.locator('.cm-line >> text=WRITE x + y').click({ position: { x: 60, y: 5 } });
  assert.deepEqual(await page.locator('#listing .row.linked').evaluateAll((rows) => rows.map((r) => r.querySelector('.adr').textContent
    + r.querySelector('.txt').textContent + r.querySelector('.name').textContent)), [' 238: Lod 0 (x)', ' 243: Lod 1 (y)', ' 248: Add', ' 250: Wrt']);
  // choosing a command by keyboard marks its token; a row says what it is in words
  await page.focus('#listing');
  await press(page, 'Home');
  assert.equal(await text(page, '.cm-marked'), 'a');
  await press(page, 'ArrowDown');
  assert.equal(await text(page, '.cm-marked'), 'x');
  assert.equal(await page.getByRole('option', { name: 'address 5: Sto 0, variable x, from x at line 6, column 3' }).count(), 1);
  // the chosen command's bytes in the store, and the store by keyboard
  await tab(page, 'store');
  assert.deepEqual(await texts(page, '.byte.chosen'), ['03', '00', '00', '00', '00']);
  await page.focus('#store');
  await press(page, 'End');
  assert.deepEqual(await texts(page, '.byte.chosen'), ['00']); // the Hlt
  await press(page, 'ArrowLeft');
  assert.deepEqual(await texts(page, '.byte.chosen'), ['04', '00']); // Wrt
  // the store is the listing encoded: an operation byte, then a 4-byte operand or a second byte
  const ops = 'Hlt Val Lod Sto - Jmp Jpf Jpt'.split(' ');
  const rest = 'Wrt WrC Neg Add Sub Mul Div Bus Vid Eql Neq Lss Leq Gtr Geq Not Or And'.split(' ');
  const want = lines(consoleRun([], gcd).stdout).flatMap((l) => {
    const [name, operand] = l.replace(/^ *\d+: /, '').trim().split(' ');
    const v = Number(operand) >>> 0;
    return ops.includes(name) ? [ops.indexOf(name), ...(operand ? [v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24] : [])] : [4, rest.indexOf(name)];
  }).map((b) => b.toString(16).toUpperCase().padStart(2, '0'));
  assert.deepEqual(await texts(page, '.byte:not(.unused)'), want);
  assert.equal(await page.locator('.byte.unused').count(), 1024 - want.length);
  // a jump's operand goes to its target and a target's "from" to its jumps, by click and by key
  const chosen = async () => parseInt(await text(page, '#listing .row.chosen .adr'));
  await row(page, '#listing', 49).locator('.go').click();
  assert.equal(await chosen(), 76);
  assert.deepEqual(await Promise.all([93, 98].map((a) => row(page, '#listing', a).locator('.tag').textContent())), [' from 71', ' from 32']);
  await row(page, '#listing', 93).locator('.tag .go').click();
  assert.equal(await chosen(), 71);
  const seen = [];
  for (const key of ['Enter', 'Enter', 'Shift+Enter']) {
    await press(page, key);
    seen.push(await chosen());
  }
  assert.deepEqual(seen, [93, 20, 93]);
  const said = (adr) => row(page, '#listing', adr).locator('.sr-only').textContent();
  assert.deepEqual(await Promise.all([93, 233].map(said)), [
    'address 93: Jmp 20, from END at line 9, column 3, unconditional jump, backward to address 20, jumped to from 71',
    'address 233: Jpf 125, from UNTIL at line 15, column 3, conditional jump (taken when false), backward to address 125']);
});

test('the replay of gcd: each fix-up lands a pending jump in the console\'s order; the tokens, the parser\'s rules and the store as they stand', async () => {
  const k = await (await withModule()).evaluate(() => tov.constants);
  const jpf = k.functionEffects[k.functions.indexOf('Jpf')];
  const tip = async () => (await page.locator('#cmd-tip').innerText()).split('\n');
  const page = await openAt();
  await tab(page, 'replay');
  await replayTo(page, 0);
  assert.equal(await text(page, '#replay-rules'), '');
  const token = page.locator('.cm-token');
  const seen = [];
  for (let before = null, now; (now = await text(page, '#replay-event')) !== before; before = now) {
    await press(page, 'ArrowRight');
    const event = await text(page, '#replay-event');
    if (event.endsWith('47: Gtr')) {
      // the IF's comparison inside the WHILE: the parser is in its condition
      const rules = ['program', 'StatementSequence', 'Statement', 'WhileStatement', 'StatementSequence', 'Statement',
        'IfStatement', 'Expression'];
      assert.equal(await text(page, '#replay-rules [aria-hidden]'), `Parsing: ${rules.join(' → ')}`);
      assert.equal(await text(page, '#replay-rules .sr-only'), `The parser is in ${rules.reverse().join(', in ')}.`);
    }
    if (event.endsWith('Jmp 20')) {
      // the WHILE's END on line 9, not the IF's on line 8, and its backward arrow
      assert.equal(await token.textContent(), 'END');
      assert.equal(await token.evaluate((el) => el.closest('.cm-line').textContent), '  END;');
      assert.equal(await text(page, '.cm-parsing'), 'END');
      assert.equal(await page.locator('#panel-replay svg.arrows path[data-adr="93"]').count(), 1);
    }
    const fix = /Gen\.Dbg: (Fixup (\d+) with (\d+))$/.exec(event);
    if (!fix) continue;
    seen.push(`Gen.Dbg: ${fix[1]}`);
    // the jump whose field is patched was pending one event before, and now lands
    const jump = row(page, '#replay-store', fix[2] - 1);
    assert.match(await jump.textContent(), new RegExp(`J(mp|pf|pt) ${fix[3]}$`));
    if (fix[1] === 'Fixup 33 with 98') {
      // the WHILE's exit: its token the same END; the parser back in the WHILE; the patched bytes
      assert.equal(await token.evaluate((el) => el.closest('.cm-line').textContent), '  END;');
      assert.equal(await page.locator('#panel-replay svg.arrows path[data-adr="32"]').count(), 1);
      assert.equal(await text(page, '#replay-rules [aria-hidden]'), 'Parsing: program → StatementSequence → Statement → WhileStatement');
      await jump.hover();
      assert.deepEqual(await tip(), ['32: Jpf 98, 5 bytes: 06 62 00 00 00', `stack: ${jpf.stack}`, `cond: ${jpf.cond}`, `pc: ${jpf.pc}`]);
      await page.focus('#replay-slider');
    }
    await press(page, 'ArrowLeft');
    assert.match(await jump.textContent(), /pending/);
    if (fix[1] === 'Fixup 33 with 98') {
      await jump.hover();
      assert.deepEqual((await tip()).slice(0, 1), ['32: Jpf <fixme>, 5 bytes: 06 FF FF FF FF']);
      await page.focus('#replay-slider');
    }
    await press(page, 'ArrowRight');
  }
  assert.deepEqual(seen, lines(gcdRun.stderr).filter((l) => l.startsWith('Gen.Dbg: Fixup')));
});

// The generator trace's lines in view, and those of the console.
const shownLines = (page) => texts(page, '#panel-traces .line');
const genLines = lines(gcdRun.stderr).filter((l) => l.startsWith('Gen.Dbg: ') && !l.includes('lck  pos'));

test('the traces: each line under the line of its token, by kind, only fix-ups; Enter moves the replay and the machine there', async () => {
  const page = await openAt();
  await tab(page, 'traces');
  await waitText(page, '#trace-caption', `of ${genLines.length + 1} lines`);
  // line 9 is the WHILE's END: its jump back, and the fix-up of the WHILE's jump
  await page.fill('#trace-line', '9');
  await waitText(page, '#trace-caption', '(2 of');
  assert.deepEqual(await shownLines(page), ['Gen.Dbg:   0   93: Jmp 20', 'Gen.Dbg: Fixup 33 with 98']);
  await page.fill('#trace-line', '');
  for (const [set, only] of [[() => page.selectOption('#trace-kind', { label: 'Jpf' }), (l) => / Jpf /.test(l)],
    [async () => { await page.selectOption('#trace-kind', ''); await page.check('#trace-fixups'); }, (l) => l.includes('Fixup')]]) {
    await set();
    await waitText(page, '#trace-caption', `(${genLines.filter(only).length} of`);
    assert.deepEqual(await shownLines(page), genLines.filter(only));
  }
  // Enter on the marked line, as a click, moves the replay to its event
  await page.locator('#panel-traces .line').nth(1).click();
  await press(page, 'ArrowDown', 'Enter');
  await tab(page, 'replay');
  assert.match(await text(page, '#replay-event'), new RegExp(`${genLines.filter((l) => l.includes('Fixup'))[2]}$`));
  // the execution trace: the console's lines, those of one source line, and a step to go to
  await tab(page, 'traces');
  await page.uncheck('#trace-fixups');
  await page.selectOption('#trace-which', 'exec');
  await waitText(page, '#trace-caption', '(214 of 214 lines)');
  assert.equal((await text(page, '#trace-caption')).split('  (')[0], lines(gcdRun.stderr).find((l) => l.includes('pc  cond')));
  await page.waitForFunction(() => !document.querySelector('#panel-traces .line')?.textContent.includes('…'));
  const first = await shownLines(page);
  assert.deepEqual(first, gcdExec.slice(0, first.length));
  await page.fill('#trace-line', '16');
  await waitText(page, '#trace-caption', '(4 of 214');
  await page.waitForFunction(() => ![...document.querySelectorAll('#panel-traces .line')].some((l) => l.textContent === '…'));
  assert.deepEqual(await shownLines(page), gcdExec.slice(-5, -1));
  await page.locator('#panel-traces .line').nth(3).click();
  await press(page, 'Enter');
  await tab(page, 'machine');
  await waitText(page, '#machine-info', 'Step 212 of 214 · pc 250');
});

test('every tab passes axe with no serious or critical violation', async () => {
  const page = await openAt();
  await page.click('#run');
  await waitText(page, '#status', 'Finished');
  for (const name of ['output', 'console', 'machine', 'store', 'replay', 'traces']) {
    await tab(page, name);
    if (name === 'machine') await press(page, 'F10');
    await page.waitForFunction(() => !/Recording/.test(document.querySelector('#panel-traces .note')?.textContent ?? ''));
    assert.deepEqual(await audit(page), [], name);
  }
});
