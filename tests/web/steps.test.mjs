// Stepping as the console's execution trace shows it: a command or a source line at a
// time, back again, breakpoints on listing rows and source lines, on until a variable
// changes, on to the cursor's line; each stop checked against the trace's state there.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execTrace, gcd, keys, openAt, press, setSource, setup, tab, text, waitStep, waitText } from './harness.mjs';

setup();
const gcdExec = execTrace(gcd);
// state k of the console's run: pc and condition
const trace = gcdExec.map((l) => /^Comp\.Dbg: +(\d+): (TRUE|FALSE)/.exec(l)).filter(Boolean)
  .map(([, pc, cond]) => ({ pc: Number(pc), cond }));

// gcd's page, with the source line of each address as the listing shows it
async function openGcd() {
  const page = await openAt();
  const lineOf = new Map(await page.evaluate(() => [...document.querySelectorAll('#listing .row')]
    .map((r) => [Number(r.querySelector('.adr').textContent.replace(':', '')), Number(r.querySelector('.src').textContent.split(':')[0])])));
  await tab(page, 'machine');
  return { page, line: (k) => lineOf.get(trace[k]?.pc) ?? 0 };
}

const info = (page) => text(page, '#machine-info');
const said = (page) => text(page, '#machine-said');
const bps = (page) => page.locator('.cm-breaks .bp-dot').count();
// What the machine view shows: step, pc, cond, stack and variables.
const machine = (page) => page.evaluate(() => ({
  info: document.querySelector('#machine-info').textContent,
  stack: [...document.querySelectorAll('#machine-stack .entry')].map((e) => Number(e.textContent)),
  cells: Object.fromEntries([...document.querySelectorAll('#machine-cells .cell')]
    .map((c) => [c.querySelector('.cname').textContent, c.querySelector('.cval').textContent])),
}));
// waits for the machine at step k, and checks it against the console's state k
async function at(page, k) {
  await waitStep(page, k);
  assert.match(await info(page), new RegExp(`^Step ${k} of 214 · pc ${trace[k].pc} · cond ${trace[k].cond}`));
}
async function runToCursor(page, line) {
  await page.locator(`.cm-line >> text=${line}`).click({ position: { x: 60, y: 5 } });
  await page.getByRole('button', { name: 'Run to cursor' }).click();
}

test('stepping shows each state of the console\'s trace, by command and by line, back again, and on to the cursor\'s line', async () => {
  const { page, line } = await openGcd();
  assert.equal(await keys(page, 'Step line'), 'F11 Alt+F10');
  // the line steps the console's trace gives: each the first state on another line
  const starts = [0];
  for (let k = 1; k < trace.length; k++) if (line(k) !== line(k - 1)) starts.push(k);
  const stepLine = () => page.evaluate(() => [...document.querySelectorAll('.cm-line')].flatMap((l, i) => (l.classList.contains('cm-step') ? [i + 1] : [])));
  await press(page, 'F11'); // the first press records the run, and steps
  await at(page, starts[1]);
  await press(page, 'Shift+F11');
  await at(page, 0);
  const states = [];
  for (let k = 1; k < 30; k++) {
    await press(page, 'F10');
    await waitStep(page, k);
    const m = await machine(page);
    // state k as the console traces it: pc, cond, depth and the two top entries
    const [, pc, cond, depth, under, top] = /^Comp\.Dbg: +(\d+): (TRUE |FALSE) +(\d+) (.{11}) (.{11}):/.exec(gcdExec[k]);
    assert.match(m.info, new RegExp(`pc ${pc} · cond ${cond.trim()}`), `step ${k}`);
    assert.deepEqual([m.stack.length, ...m.stack.slice(-2).reverse()], [Number(depth), ...[top, under].slice(0, depth).map(Number)], `step ${k}`);
    states[k] = m;
  }
  assert.deepEqual(states[29].cells, { x: '609', y: '462' });
  for (let k = 28; k >= 20; k--) {
    await press(page, 'Shift+F10');
    await waitStep(page, k);
    assert.deepEqual(await machine(page), states[k]);
  }
  const from = starts.findIndex((s) => s > 20);
  for (let s = from; s < from + 8; s++) {
    await press(page, s % 2 ? 'F11' : 'Alt+F10');
    await at(page, starts[s]);
    assert.deepEqual(await stepLine(), [line(starts[s])], `line step ${s}`);
  }
  // one command in, Line back returns to where the line began, then to the line before
  await press(page, 'F10');
  await at(page, starts[from + 7] + 1);
  await press(page, 'Shift+F11');
  await at(page, starts[from + 7]);
  await press(page, 'Shift+F11');
  await at(page, starts[from + 6]);
  // the first command of the cursor's line: WRITE x, with x = y
  await runToCursor(page, 'WRITE x;');
  await waitText(page, '#machine-info', 'pc 98');
  const k = trace.findIndex((s) => s.pc === 98);
  await at(page, k);
  assert.deepEqual((await machine(page)).cells, { x: '21', y: '21' });
  assert.equal(await text(page, '.cm-line.cm-step'), '  WRITE x;');
  // the WHILE line is reached no more once the REPEAT runs: the machine stays
  await runToCursor(page, 'WHILE x # y DO');
  await waitText(page, '#machine-said', `Line 7 is not reached again after step ${k}.`);
  await at(page, k);
  // a step clears what the page said; the last line step ends the run
  await press(page, 'F10');
  await at(page, k + 1);
  assert.equal(await said(page), '');
  for (const s of starts.filter((s) => s > k + 1)) {
    await press(page, 'F11');
    await at(page, s);
  }
  await press(page, 'F11');
  await waitText(page, '#machine-info', 'Step 214 of 214 · pc 253 · cond TRUE · ended');
  assert.equal(await text(page, '#machine-output'), '21\r\n21\r\n');
  await page.getByRole('button', { name: 'Reset' }).click();
  await waitText(page, '#machine-info', 'Step 0 of 214');
});

// Clicks the editor's breakpoint gutter beside source line n.
async function gutterClick(page, n) {
  const [x, y] = await page.evaluate((n) => {
    const g = document.querySelector('.cm-breaks').getBoundingClientRect();
    const l = document.querySelectorAll('.cm-line')[n - 1].getBoundingClientRect();
    return [g.x + g.width / 2, l.y + l.height / 2];
  }, n);
  await page.mouse.click(x, y);
}

test('breakpoints on a listing row and on a source line stop Run to end there, the page says which, and a new program keeps them', async () => {
  const { page, line } = await openGcd();
  assert.equal(await keys(page, 'Run to end'), 'F5');
  // a breakpoint at Sto 1 of y := y - x, by its marker
  const sto = page.locator('#listing .row', { hasText: '88: Sto 1' });
  await sto.locator('.bp').click();
  await page.getByRole('button', { name: 'Continue' }).waitFor();
  const hits88 = trace.flatMap((s, k) => (s.pc === 88 ? [k] : []));
  assert.ok(hits88.length >= 2);
  await press(page, 'F5'); // one press on a fresh program: recorded and run on
  await at(page, hits88[0]);
  assert.equal(await said(page), `Stopped at the breakpoint at address 88 (line 8), step ${hits88[0]}.`);
  await page.getByRole('button', { name: 'Continue' }).click();
  await at(page, hits88[1]);
  assert.equal(await page.locator('#listing .row.current.break').count(), 1);
  // off again by the key B on the chosen row, and one on line 13 by the editor's gutter
  await sto.locator('.txt').click();
  await press(page, 'b');
  assert.equal(await page.locator('#listing .row.break').count(), 0);
  await gutterClick(page, 13);
  assert.equal(await bps(page), 1);
  const entries = trace.flatMap((s, k) => (line(k) === 13 && line(k - 1) !== 13 ? [k] : []));
  assert.ok(entries.length >= 2);
  await press(page, 'F5');
  await at(page, entries[0]);
  assert.equal(await said(page), `Stopped at the breakpoint on line 13, step ${entries[0]}.`);
  assert.equal(await text(page, '.cm-line.cm-step'), '    x := x - x / y * y;  (* x mod y *)');
  // F9 on the cursor's line sets one there too, and Continue stops at whichever is next
  await page.locator('.cm-line >> text=WRITE x + y').click();
  await press(page, 'F9');
  assert.equal(await bps(page), 2);
  for (const k of entries.slice(1)) { await press(page, 'F5'); await at(page, k); }
  await press(page, 'F5');
  await waitText(page, '#machine-said', 'on line 16');
  await at(page, trace.findIndex((s) => s.pc === 238));
  await press(page, 'F5'); // none left: the end
  await waitText(page, '#machine-info', 'ended');
  // the same lines compile again: the breakpoints stay; line 16 losing its code drops its own
  await page.locator('.cm-line >> text=CONST a = 1071').click();
  await press(page, 'End');
  await page.keyboard.type(' ');
  await page.waitForFunction(() => document.querySelector('#machine-info').textContent.startsWith('Press'));
  assert.equal(await bps(page), 2);
  await setSource(page, gcd.replace('  WRITE x + y\n', '\n  WRITE x + y\n'));
  await waitText(page, '#listing', '17:3 WRITE'); // the same commands, a line lower
  assert.equal(await bps(page), 1);
});

test('Run until a variable changes stops at the step that changes its cell, or says it never changed', async () => {
  const source = 'VAR i: INTEGER; n: INTEGER;\nBEGIN\n  n := 3; i := 0;\n  WHILE i < n DO i := i + 1; n := n END;\n  WRITE i\nEND.\n';
  const page = await openAt(source);
  const exec = execTrace(source);
  const cell = (name) => page.evaluate((name) => [...document.querySelectorAll('#machine-cells .cell')]
    .find((c) => c.querySelector('.cname').textContent === name).querySelector('.cval').textContent, name);
  await tab(page, 'machine');
  await press(page, 'F10');
  await waitStep(page, 1);
  const steps = Number(/of (\d+)/.exec(await info(page))[1]);
  assert.equal(steps, exec.length);
  // i changes at each i := i + 1 (0 stays 0 at i := 0); n := n touches n but keeps it
  let step;
  for (let v = 1; v <= 3; v++) {
    await page.getByRole('button', { name: 'Run i until changed' }).click();
    await waitText(page, '#machine-said', `to ${v} at step`);
    step = Number(/step (\d+)/.exec(await said(page))[1]);
    assert.equal(await said(page), `i changed from ${v - 1} to ${v} at step ${step}.`);
    assert.equal(await cell('i'), String(v));
    // the step before holds the old value: the change is the last command run
    await press(page, 'Shift+F10');
    await waitStep(page, step - 1);
    assert.equal(await cell('i'), String(v - 1));
    assert.match(exec[step - 1], /Sto 0$/);
    await press(page, 'F10');
    await waitStep(page, step);
  }
  // by keyboard, and the control keeps the focus when the box is drawn anew
  await page.getByRole('button', { name: 'Run n until changed' }).focus();
  await press(page, 'Enter');
  await waitText(page, '#machine-said', 'never changed');
  assert.equal(await said(page), `n never changed after step ${step}; the run is at its end.`);
  assert.match(await info(page), new RegExp(`^Step ${steps} of ${steps} .* ended$`));
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), 'Run n until changed');
  // a breakpoint on the loop's one line stops at each turn: where it is come to, then
  // at each jump back to its first command
  await page.getByRole('button', { name: 'Reset' }).click();
  await page.locator('.cm-line >> text=WHILE i < n').click();
  await press(page, 'Control+B');
  const pcs = exec.map((l) => Number(/^Comp\.Dbg: +(\d+):/.exec(l)[1]));
  const turns = [4, ...pcs.flatMap((pc, k) => (k > 4 && pc === pcs[4] && pcs[k - 1] > pc ? [k] : []))];
  assert.equal(turns.length, 4); // three turns and the test that ends the loop
  for (const k of turns) {
    await press(page, 'F5');
    await waitText(page, '#machine-said', `on line 4, step ${k}.`);
  }
});
