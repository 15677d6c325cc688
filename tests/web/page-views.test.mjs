// The learning views as a user works with them, checked against what the console
// program writes for the same source.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { setup, open, root } from './harness.mjs';
import { console_, setSource, waitText, waitListing, lines, shot } from './page-support.mjs';

setup();
const gcd = readFileSync(join(root, 'examples/gcd.tov'), 'latin1');
const gcdRun = console_(gcd, ['-x']);
const gcdExec = lines(gcdRun.stderr).filter((l) => l.startsWith('Comp.Dbg: ')).slice(1);

// The page starts with gcd.
async function openGcd(options = { viewport: { width: 1280, height: 720 } }) {
  const page = await open('', options);
  await waitText(page, '#listing', '252: Hlt');
  return page;
}

const rowTexts = (page, selector) => page.locator(selector).evaluateAll(
  (rows) => rows.map((r) => r.querySelector('.adr').textContent + r.querySelector('.txt').textContent
    + r.querySelector('.name').textContent));

test('source beside code: a command marks its token, the source line marks its commands', async () => {
  const page = await openGcd();
  // x := a; y := b on line 6: the store of x follows the token a
  const row = page.locator('#listing .row', { hasText: '   5: Sto 0 (x)' });
  assert.equal(await row.locator('.src').textContent(), '6:8 a');
  await row.hover();
  assert.equal(await page.locator('.cm-marked').textContent(), 'a');
  assert.equal(await page.locator('.cm-marked').evaluate((el) => el.closest('.cm-line').textContent), '  x := a; y := b;');
  await shot(page, 'tour-code');
  // the cursor on WRITE x + y marks its four commands
  await page.locator('.cm-line >> text=WRITE x + y').click({ position: { x: 60, y: 5 } });
  assert.deepEqual(await rowTexts(page, '#listing .row.linked'),
    [' 238: Lod 0 (x)', ' 243: Lod 1 (y)', ' 248: Add', ' 250: Wrt']);
  // choosing a command by keyboard marks its token and its bytes in the store
  await page.focus('#listing');
  await page.keyboard.press('Home');
  await page.keyboard.press('ArrowDown');
  assert.equal(await page.locator('.cm-marked').textContent(), 'a');
  await page.click('#tab-store');
  assert.deepEqual(await page.locator('.byte.chosen').allTextContents(), ['03', '00', '00', '00', '00']);
  await shot(page, 'tour-store');
  await page.close();
});

// The bytes of a listing, encoded as the machine's commands are.
function encode(listing) {
  const fct = { Hlt: 0, Val: 1, Lod: 2, Sto: 3, Jmp: 5, Jpf: 6, Jpt: 7 };
  const ops = ['Wrt', 'WrC', 'Neg', 'Add', 'Sub', 'Mul', 'Div', 'Bus', 'Vid', 'Eql', 'Neq', 'Lss',
    'Leq', 'Gtr', 'Geq', 'Not', 'Or', 'And'];
  const bytes = [];
  for (const line of lines(listing)) {
    const [name, operand] = line.replace(/^ *\d+: /, '').trim().split(' ');
    if (name in fct) bytes.push(fct[name]); else bytes.push(4, ops.indexOf(name));
    if (operand !== undefined) {
      const v = Number(operand) >>> 0;
      bytes.push(v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24);
    }
  }
  return bytes.map((b) => b.toString(16).toUpperCase().padStart(2, '0'));
}

test('the store shows the encoded program and its unused part', async () => {
  const page = await openGcd();
  await page.click('#tab-store');
  const want = encode(console_(gcd).stdout);
  assert.deepEqual(await page.locator('.byte:not(.unused)').allTextContents(), want);
  assert.equal(await page.locator('.byte.unused').count(), 1024 - want.length);
  assert.match(await page.locator('#store .note').textContent(), /^253 of 1024 bytes used/);
  await page.close();
});

test('the compiler replay shows pending jumps and their fix-ups in order', async () => {
  const page = await openGcd();
  await page.click('#tab-replay');
  await page.focus('#replay-slider');
  await page.keyboard.press('Home');
  const want = lines(gcdRun.stderr).filter((l) => l.startsWith('Gen.Dbg: Fixup'));
  const seen = [];
  for (;;) {
    const before = await page.locator('#replay-event').textContent();
    await page.keyboard.press('ArrowRight');
    const now = await page.locator('#replay-event').textContent();
    if (now === before) break;
    const fix = /Gen\.Dbg: (Fixup (\d+) with (\d+))$/.exec(now);
    if (!fix) continue;
    seen.push(`Gen.Dbg: ${fix[1]}`);
    if (seen.length === 2) await shot(page, 'tour-replay');
    // the jump whose field is patched was pending one event before, and now lands
    const jump = ` ${String(Number(fix[2]) - 1).padStart(4)}: `;
    const row = page.locator('#replay-store .row', { hasText: jump });
    assert.match(await row.textContent(), new RegExp(`J(mp|pf|pt) ${fix[3]}$`));
    await page.keyboard.press('ArrowLeft');
    assert.match(await row.textContent(), /pending/);
    assert.equal(await row.evaluate((r) => r.classList.contains('pending')), true);
    await page.keyboard.press('ArrowRight');
  }
  assert.deepEqual(seen, want);
  await page.close();
});

// What the machine view shows: step, pc, cond, stack and variables.
async function machine(page) {
  return page.evaluate(() => ({
    info: document.querySelector('#machine-info').textContent,
    stack: [...document.querySelectorAll('#machine-stack .entry')].map((e) => Number(e.textContent)),
    cells: Object.fromEntries([...document.querySelectorAll('#machine-cells .cell')]
      .map((c) => [c.querySelector('.cname').textContent, c.querySelector('.cval').textContent])),
  }));
}

test('stepping shows each state of the console\'s trace, and stepping back returns to it', async () => {
  const page = await openGcd();
  await page.click('#tab-machine');
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 0 of 214');
  const states = [];
  for (let k = 0; k < 30; k++) {
    if (k) await page.keyboard.press('F10');
    await waitText(page, '#machine-info', `Step ${k} of`);
    const m = await machine(page);
    // the trace line of state k, from the console: pc, cond and the two top entries
    const t = /^Comp\.Dbg: +(\d+): (TRUE |FALSE) +(\d+) (.{11}) (.{11}):/.exec(gcdExec[k]);
    assert.match(m.info, new RegExp(`pc ${t[1]} · cond ${t[2].trim()}`), `step ${k}`);
    assert.equal(m.stack.length, Number(t[3]));
    if (m.stack.length) assert.equal(m.stack.at(-1), Number(t[5]));
    if (m.stack.length > 1) assert.equal(m.stack.at(-2), Number(t[4]));
    states.push(m);
  }
  assert.deepEqual(states[29].cells, { x: '609', y: '462' });
  for (let k = 28; k >= 20; k--) {
    await page.keyboard.press('Shift+F10');
    await waitText(page, '#machine-info', `Step ${k} of`);
    assert.deepEqual(await machine(page), states[k]);
  }
  // Run to cursor stops at the first command of the cursor's line: WRITE x, with x = y
  await page.locator('.cm-line >> text=WRITE x;').click({ position: { x: 60, y: 5 } });
  await page.getByRole('button', { name: 'Run to cursor' }).click();
  await waitText(page, '#machine-info', 'pc 98');
  assert.deepEqual((await machine(page)).cells, { x: '21', y: '21' });
  assert.equal(await page.locator('#listing .row.current').textContent().then((t) => t.slice(0, 9)), '  98: Lod');
  assert.equal(await page.locator('.cm-line.cm-step').textContent(), '  WRITE x;');
  await shot(page, 'tour-machine');
  await page.keyboard.press('F5');
  await waitText(page, '#machine-info', 'Step 214 of 214 · pc 253 · cond TRUE · ended');
  assert.equal(await page.locator('#machine-output').textContent(), '21\r\n21\r\n');
  await page.getByRole('button', { name: 'Reset' }).click();
  await waitText(page, '#machine-info', 'Step 0 of 214');
  assert.equal(await page.locator('#machine-output').textContent(), '');
  await page.close();
});

test('a run-time error is shown at the source line of the failing command', async () => {
  const page = await open();
  const source = 'VAR a: INTEGER; b: INTEGER;\nBEGIN\n  a := 7;\n  WRITE a;\n  WRITE a / b;\n  WRITE b\nEND.\n';
  const want = lines(console_(source, ['-x']).stderr).at(-1);
  assert.equal(want, 'Comp: Division by zero.');
  await setSource(page, source);
  await waitListing(page, source);
  await page.click('#run');
  await waitText(page, '#run-error', `${want} (line 5)`);
  assert.equal(await page.locator('.cm-line.cm-fault').textContent(), '  WRITE a / b;');
  await page.click('#tab-machine');
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 0');
  await page.keyboard.press('F5');
  await waitText(page, '#machine-error', `${want} (line 5)`);
  assert.equal(await page.locator('#listing .row.current .txt').textContent(), 'Div');
  assert.equal(await page.locator('#machine-output').textContent(), '7\r\n');
  await page.close();
});

test('filtered traces equal the console\'s lines, and a click moves the other views', async () => {
  const page = await openGcd({ viewport: { width: 1400, height: 1400 } });
  await page.click('#tab-traces');
  await page.check('#trace-fixups');
  await waitText(page, '#panel-traces .note', '6 of 68 lines');
  const shown = () => page.locator('#panel-traces .line').allTextContents();
  assert.deepEqual(await shown(),
    lines(gcdRun.stderr).filter((l) => l.startsWith('Gen.Dbg: Fixup')));
  await page.selectOption('#trace-which', 'exec');
  await page.selectOption('#trace-kind', 'Jmp');
  await waitText(page, '#panel-traces .note', '19 of 214 lines');
  assert.deepEqual(await shown(), gcdExec.filter((l) => l.includes(':  Jmp ')));
  await page.selectOption('#trace-kind', '');
  await page.fill('#trace-line', '16');
  await waitText(page, '#panel-traces .note', '4 of 214 lines');
  await page.locator('#panel-traces .line').nth(2).click();
  await page.click('#tab-machine');
  await waitText(page, '#machine-info', 'Step 211 of 214 · pc 248');
  assert.equal(await page.locator('.cm-line.cm-step').textContent(), '  WRITE x + y');
  await page.close();
});

test('every control can be reached by keyboard and has a name', async () => {
  const page = await openGcd();
  const nameless = await page.evaluate(() => [...document.querySelectorAll(
    'button, input, select, [tabindex="0"], [role=tab]')].filter((el) => {
    const name = el.getAttribute('aria-label') || el.getAttribute('aria-labelledby')
      || el.labels?.[0]?.textContent || el.textContent;
    return !name.trim() || (el.tabIndex < 0 && el.getAttribute('role') !== 'tab');
  }).map((el) => el.outerHTML.slice(0, 80)));
  assert.deepEqual(nameless, []);
  await page.close();
});

// Starts measuring, in the page, the time from each key press to the change it makes
// in the element at selector; the returned function ends it and gives the times sorted.
async function latency(page, selector) {
  await page.evaluate((sel) => {
    const times = [];
    let down = 0;
    const key = () => { down = performance.now(); };
    document.addEventListener('keydown', key, true);
    const seen = new MutationObserver(() => times.push(performance.now() - down));
    seen.observe(document.querySelector(sel), { childList: true, characterData: true, subtree: true });
    window.measured = () => {
      seen.disconnect();
      document.removeEventListener('keydown', key, true);
      return times.sort((a, b) => a - b);
    };
  }, selector);
  return async () => {
    const times = await page.evaluate(() => window.measured());
    return `median ${times[times.length >> 1].toFixed(1)} ms, worst ${times.at(-1).toFixed(1)} ms`;
  };
}

test('speed: stepping at the end of a run of a million commands, the replay of a full store (figures, not checks)', async (t) => {
  const page = await open();
  const source = 'VAR i: INTEGER;\nBEGIN\n  REPEAT i := i + 1 UNTIL i = 142857\nEND.\n';
  await setSource(page, source);
  await waitListing(page, source);
  await page.click('#tab-machine');
  const t0 = Date.now();
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 0 of 1,000,000');
  const record = Date.now() - t0;
  await page.keyboard.press('F5');
  await waitText(page, '#machine-info', 'Step 1,000,000 of');
  let done = await latency(page, '#machine-info');
  for (let k = 1; k <= 30; k++) {
    await page.keyboard.press(k % 2 ? 'Shift+F10' : 'F10');
    await waitText(page, '#machine-info', `Step ${(1000000 - (k % 2)).toLocaleString('en')} of`);
  }
  t.diagnostic(`recording 1,000,000 steps: ${record} ms; a step back or forth at step 1,000,000: ${await done()}`);
  // 30 IF statements of 34 bytes fill the store
  const big = `VAR i: INTEGER;\nBEGIN\n${'  IF i < 1 THEN i := i + 1 END;\n'.repeat(30)}END.\n`;
  await setSource(page, big);
  await waitListing(page, big);
  await page.click('#tab-replay');
  await page.focus('#replay-slider');
  await page.keyboard.press('Home');
  const events = Number(await page.locator('#replay-slider').getAttribute('max'));
  done = await latency(page, '#replay-event');
  for (let k = 0; k < events; k++) await page.keyboard.press('ArrowRight');
  t.diagnostic(`replay of the ${events} events of a program that fills the store: one event forward ${await done()}`);
  await page.close();
});
