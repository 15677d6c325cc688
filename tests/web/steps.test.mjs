// Stepping in the learner's terms: a source line at a time, breakpoints on listing rows
// and source lines, on until a variable changes, on to the cursor's line; each stop
// checked against the state the console's execution trace shows there.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { consoleRun, lines, open, root, setSource, setup, waitListing, waitText } from './harness.mjs';

setup();
const gcd = readFileSync(join(root, 'examples/gcd.tov'), 'latin1');
// state k of the console's run: pc and condition
const trace = lines(consoleRun(['-x'], gcd).stderr).filter((l) => l.startsWith('Comp.Dbg: ')).slice(1)
  .map((l) => /^Comp\.Dbg: +(\d+): (TRUE|FALSE)/.exec(l)).filter(Boolean)
  .map(([, pc, cond]) => ({ pc: Number(pc), cond }));
const wide = { viewport: { width: 1280, height: 720 } };

async function openGcd() {
  const page = await open('', wide);
  await waitText(page, '#listing', '252: Hlt');
  // the source line of each address, as the listing shows it
  const lineOf = new Map(await page.evaluate(() => [...document.querySelectorAll('#listing .row')]
    .map((r) => [Number(r.querySelector('.adr').textContent.replace(':', '')), Number(r.querySelector('.src').textContent.split(':')[0])])));
  return { page, line: (k) => lineOf.get(trace[k]?.pc) ?? 0 };
}

const info = (page) => page.locator('#machine-info').textContent();
const said = (page) => page.locator('#machine-said').textContent();
const cell = (page, name) => page.evaluate((name) => [...document.querySelectorAll('#machine-cells .cell')]
  .find((c) => c.querySelector('.cname').textContent === name).querySelector('.cval').textContent, name);
// waits for the machine at step k, and checks it against the console's state k
async function at(page, k) {
  await waitText(page, '#machine-info', `Step ${k.toLocaleString('en')} of`);
  assert.match(await info(page), new RegExp(`^Step ${k} of 214 · pc ${trace[k].pc} · cond ${trace[k].cond}`));
}

// Clicks the editor's breakpoint gutter beside source line n.
async function gutterClick(page, n) {
  const [x, y] = await page.evaluate((n) => {
    const g = document.querySelector('.cm-breaks').getBoundingClientRect();
    const l = document.querySelectorAll('.cm-line')[n - 1].getBoundingClientRect();
    return [g.x + g.width / 2, l.y + l.height / 2];
  }, n);
  await page.mouse.click(x, y);
}

test('Step line runs a source line\'s commands at once, Line back returns, and Run to cursor says when a line is not reached again', async () => {
  const { page, line } = await openGcd();
  await page.click('#tab-machine');
  assert.equal(await page.getByRole('button', { name: 'Step line' }).getAttribute('aria-keyshortcuts'), 'F11 Alt+F10');
  // the steps the console's trace gives: each the first state on another line
  const starts = [0];
  for (let k = 1; k < trace.length; k++) if (line(k) !== line(k - 1)) starts.push(k);
  for (let s = 1; s <= 12; s++) {
    await page.keyboard.press(s % 2 ? 'F11' : 'Alt+F10'); // the first press records the run, and steps
    await at(page, starts[s]);
    assert.deepEqual(await page.evaluate(() => [...document.querySelectorAll('.cm-line')].flatMap((l, i) => (l.classList.contains('cm-step') ? [i + 1] : []))),
      [line(starts[s])], `line step ${s}`);
  }
  // one command in, Line back returns to where the line began, then to the line before
  await page.keyboard.press('F10');
  await at(page, starts[12] + 1);
  await page.keyboard.press('Shift+F11');
  await at(page, starts[12]);
  await page.keyboard.press('Shift+F11');
  await at(page, starts[11]);
  // the WHILE line is reached no more once the REPEAT runs: the machine stays
  await page.locator('.cm-line >> text=WRITE x;').click();
  await page.getByRole('button', { name: 'Run to cursor' }).click();
  await waitText(page, '#machine-info', 'pc 98');
  const k = trace.findIndex((s) => s.pc === 98);
  await at(page, k);
  await page.locator('.cm-line >> text=WHILE x # y DO').click();
  await page.getByRole('button', { name: 'Run to cursor' }).click();
  await waitText(page, '#machine-said', `Line 7 is not reached again after step ${k}.`);
  await at(page, k);
  // a step clears what the page said; the last line step ends the run
  await page.keyboard.press('F10');
  await at(page, k + 1);
  assert.equal(await said(page), '');
  for (const s of starts.filter((s) => s > k + 1)) {
    await page.keyboard.press('F11');
    await at(page, s);
  }
  await page.keyboard.press('F11');
  await waitText(page, '#machine-info', 'Step 214 of 214 · pc 253 · cond TRUE · ended');
  assert.deepEqual(page.problems, []);
});

test('breakpoints on a listing row and on a source line stop Run to end there, the page says which, and a new program keeps them', async () => {
  const { page, line } = await openGcd();
  await page.click('#tab-machine');
  assert.equal(await page.getByRole('button', { name: 'Run to end' }).getAttribute('aria-keyshortcuts'), 'F5');
  // a breakpoint at Sto 1 of y := y - x, by its marker
  await page.locator('#listing .row', { hasText: '88: Sto 1' }).locator('.bp').click();
  await page.getByRole('button', { name: 'Continue' }).waitFor();
  const hits88 = trace.flatMap((s, k) => (s.pc === 88 ? [k] : []));
  assert.ok(hits88.length >= 2);
  await page.keyboard.press('F5'); // one press on a fresh program: recorded and run on
  await at(page, hits88[0]);
  assert.equal(await said(page), `Stopped at the breakpoint at address 88 (line 8), step ${hits88[0]}.`);
  await page.getByRole('button', { name: 'Continue' }).click();
  await at(page, hits88[1]);
  assert.equal(await page.locator('#listing .row.current.break').count(), 1);
  // off again by the key B on the chosen row, and one on line 13 by the editor's gutter
  await page.locator('#listing .row', { hasText: '88: Sto 1' }).locator('.txt').click();
  await page.keyboard.press('b');
  assert.equal(await page.locator('#listing .row.break').count(), 0);
  await gutterClick(page, 13);
  assert.equal(await page.locator('.cm-breaks .bp-dot').count(), 1);
  const entries = trace.flatMap((s, k) => (line(k) === 13 && line(k - 1) !== 13 ? [k] : []));
  assert.ok(entries.length >= 2);
  await page.keyboard.press('F5');
  await at(page, entries[0]);
  assert.equal(await said(page), `Stopped at the breakpoint on line 13, step ${entries[0]}.`);
  assert.equal(await page.locator('.cm-line.cm-step').textContent(), '    x := x - x / y * y;  (* x mod y *)');
  // F9 on the cursor's line sets one there too, and Continue stops at whichever is next
  await page.locator('.cm-line >> text=WRITE x + y').click();
  await page.keyboard.press('F9');
  assert.equal(await page.locator('.cm-breaks .bp-dot').count(), 2);
  await page.keyboard.press('F5');
  await at(page, entries[1]);
  for (const k of entries.slice(2)) { await page.keyboard.press('F5'); await at(page, k); }
  await page.keyboard.press('F5');
  await waitText(page, '#machine-said', 'on line 16');
  await at(page, trace.findIndex((s) => s.pc === 238));
  await page.keyboard.press('F5'); // none left: the end
  await waitText(page, '#machine-info', 'ended');
  // the same lines compile again: the breakpoints stay; line 16 losing its code drops its own
  await page.locator('.cm-line >> text=CONST a = 1071').click();
  await page.keyboard.press('End');
  await page.keyboard.type(' ');
  await page.waitForFunction(() => document.querySelector('#machine-info').textContent.startsWith('Press'));
  assert.equal(await page.locator('.cm-breaks .bp-dot').count(), 2);
  const changed = gcd.replace('  WRITE x + y\n', '\n  WRITE x + y\n');
  await setSource(page, changed);
  await waitText(page, '#listing', '17:3 WRITE'); // the same commands, a line lower
  assert.equal(await page.locator('.cm-breaks .bp-dot').count(), 1);
  assert.deepEqual(page.problems, []);
});

test('Run until a variable changes stops at the step that changes its cell, or says it never changed', async () => {
  const page = await open('', wide);
  const source = 'VAR i: INTEGER; n: INTEGER;\nBEGIN\n  n := 3; i := 0;\n  WHILE i < n DO i := i + 1; n := n END;\n  WRITE i\nEND.\n';
  await setSource(page, source);
  await waitListing(page, source);
  const exec = lines(consoleRun(['-x'], source).stderr).filter((l) => l.startsWith('Comp.Dbg: ')).slice(1);
  await page.click('#tab-machine');
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 1 of');
  const steps = Number(/of (\d+)/.exec(await info(page))[1]);
  assert.equal(steps, exec.length);
  // i changes at each i := i + 1 (0 stays 0 at i := 0); n := n touches n but keeps it
  const runs = [];
  for (let v = 1; v <= 3; v++) {
    await page.getByRole('button', { name: 'Run i until changed' }).click();
    await waitText(page, '#machine-said', `to ${v} at step`);
    runs.push(Number(/step (\d+)/.exec(await said(page))[1]));
    assert.equal(await said(page), `i changed from ${v - 1} to ${v} at step ${runs.at(-1)}.`);
    assert.equal(await cell(page, 'i'), String(v));
    // the step before holds the old value: the change is the last command run
    await page.keyboard.press('Shift+F10');
    await waitText(page, '#machine-info', `Step ${runs.at(-1) - 1} of`);
    assert.equal(await cell(page, 'i'), String(v - 1));
    assert.match(exec[runs.at(-1) - 1], /Sto 0$/);
    await page.keyboard.press('F10');
    await waitText(page, '#machine-info', `Step ${runs.at(-1)} of`);
  }
  // by keyboard, and the control keeps the focus when the box is drawn anew
  await page.getByRole('button', { name: 'Run n until changed' }).focus();
  await page.keyboard.press('Enter');
  await waitText(page, '#machine-said', 'never changed');
  assert.equal(await said(page), `n never changed after step ${runs.at(-1)}; the run is at its end.`);
  assert.match(await info(page), new RegExp(`^Step ${steps} of ${steps} .* ended$`));
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Run n until changed');
  // a breakpoint on the loop's one line stops at each turn: where it is come to, then
  // at each jump back to its first command
  await page.getByRole('button', { name: 'Reset' }).click();
  await page.locator('.cm-line >> text=WHILE i < n').click();
  await page.keyboard.press('Control+B');
  const pcs = exec.map((l) => Number(/^Comp\.Dbg: +(\d+):/.exec(l)[1]));
  const loop = pcs[4];
  const turns = [4, ...pcs.flatMap((pc, k) => (k > 4 && pc === loop && pcs[k - 1] > pc ? [k] : []))];
  assert.equal(turns.length, 4); // three turns and the test that ends the loop
  for (const k of turns) {
    await page.keyboard.press('F5');
    await waitText(page, '#machine-said', `on line 4, step ${k}.`);
  }
  assert.deepEqual(page.problems, []);
});
