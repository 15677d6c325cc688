// Predict mode and lesson links, as a learner uses them: guesses typed and sent by the
// keyboard, marked against what the console's run and trace show, the score kept by
// the browser, and links that open the page at one moment.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { audit as auditAll, execTrace, gcd, open, openAt, press, setup, tab, text, texts, waitStep, waitText } from './harness.mjs';

setup();
const gcdExec = execTrace(gcd);
const gcdLink = `#src=${Buffer.from(gcd, 'utf8').toString('base64url')}`;
const verdict = (view) => `#predict-${view}-verdict`;
const score = (page) => text(page, '#predict-score');

const audit = (page) => auditAll(page, { include: [['.predict-bar'], ['.predict:not([hidden])']] });

// Sends the guess in the form that has the focus and waits for its verdict.
async function guess(page, view, keys, want) {
  for (const k of keys) {
    if (k.select) await page.selectOption(`#predict-${view} select[name=${k.select}]`, k.value);
    else if (k.check) await page.check(`#predict-${view} label:has-text("${k.check}") input`);
    else if (k.fill) await page.fill(`#predict-${view} input[name=${k.fill}]`, k.value);
    else if (k.press) await page.keyboard.press(k.press);
    else await page.keyboard.type(k);
  }
  await page.keyboard.press(keys.skip ? 'Escape' : 'Enter');
  await waitText(page, verdict(view), want);
}

test('predict mode marks guesses of the machine\'s steps and the compiler\'s events, and keeps the score', async () => {
  const page = await openAt();
  await page.check('#predict-mode');
  await tab(page, 'machine');
  await press(page, 'F10'); // records the run and asks about its first step
  await waitText(page, '#predict-machine', 'At 0: Val 1071. What is on top of the stack after it?');
  assert.equal(await page.evaluate(() => document.activeElement.name), 'top');
  await guess(page, 'machine', ['1071'], 'Right: the top of the stack is 1071.');
  await waitStep(page, 1);
  // the variable comes first in its list: x, cell 0
  await waitText(page, '#predict-machine', 'At 5: Sto 0. Which variable does it write');
  assert.deepEqual(await audit(page), []);
  await guess(page, 'machine', [{ press: 'Tab' }, '5'], 'Wrong: you said x := 5; it writes 1071 to x (cell 0).');
  assert.equal(await page.locator('.cell .cval').first().textContent(), '1071');
  await guess(page, 'machine', Object.assign([], { skip: true }), 'Shown: the top of the stack is 462.');
  await waitStep(page, 3);
  assert.equal(await score(page), 'Score: 1 of 2 right');
  assert.equal(await page.getAttribute(verdict('machine'), 'role'), 'status');

  // the score stays in the browser; the replay asks about commands and fix-ups
  await page.reload();
  await waitText(page, '#listing', '252: Hlt');
  assert.equal(await score(page), 'Score: 1 of 2 right');
  await page.check('#predict-mode');
  await tab(page, 'replay');
  await page.click('#panel-replay >> text=First');
  await page.click('#panel-replay >> text=Next'); // the trace's head is shown, not asked
  await waitText(page, '#predict-replay', 'Which command does the compiler emit next?');
  await guess(page, 'replay', [{ select: 'name', value: 'Val' }, { press: 'Tab' }, '1071'], 'Right: it emits Val 1071 at 0.');
  await waitText(page, '#replay-event', '2/');
  await press(page, ...Array(16).fill('Escape'));
  await waitText(page, '#predict-replay', 'A fix-up comes next');
  assert.deepEqual(await texts(page, '#predict-replay fieldset label'),
    [' 32: Jpf <fixme>', ' 49: Jpf <fixme>', ' 71: Jmp <fixme>']);
  assert.deepEqual(await audit(page), []);
  await guess(page, 'replay', [{ check: '49:' }, { fill: 'address', value: '76' }], 'Right: it patches the jump at 49 with 76.');
  assert.match(await text(page, '#replay-event'), /^19\/\d+ {2}Gen\.Dbg: Fixup 50 with 76$/);
  await press(page, ...Array(4).fill('Escape'));
  await guess(page, 'replay', [{ check: '32:' }, { check: '71:' }, { fill: 'address', value: '93' }],
    'Wrong: you said the jumps at 32, 71 with 93; it patches the jump at 71 with 93.');
  assert.equal(await score(page), 'Score: 3 of 5 right');
  await page.click('#predict-clear');
  assert.equal(await score(page), 'Score: 0 of 0 right');
});

test('a lesson link opens the machine or the replay at its moment, with the selection and predict mode', async () => {
  // the machine at step 6 (Neq), predicting; the selection on `x := a; y := b;`
  const from = gcd.indexOf('x := a'), to = gcd.indexOf('\n', from);
  const link = `${gcdLink}&tab=machine&step=6&predict=1&sel=${from}-${to}`;
  const page = await open(link);
  await waitStep(page, 6);
  const [, pc, cond] = gcdExec[6].match(/^Comp\.Dbg: +(\d+): (\w+) /);
  assert.match(await text(page, '#machine-info'), new RegExp(`pc ${pc} · cond ${cond}`));
  assert.deepEqual(await texts(page, '#machine-stack .entry'), ['1071', '462']);
  assert.equal(await page.isChecked('#predict-mode'), true);
  await page.focus('.cm-content'); // the editor's selection, as the browser holds it once focused
  assert.equal(await page.evaluate(() => getSelection().toString()), 'x := a; y := b;');
  assert.deepEqual(await page.locator('#listing .row.linked').locator('.txt').allTextContents(),
    ['Val 1071', 'Sto 0', 'Val 462', 'Sto 1']);
  // Copy link writes the same moment
  await page.click('#share');
  await waitText(page, '#status', 'ink');
  assert.equal(await page.evaluate(() => location.hash), link);
  // the condition, then where the pc goes
  await waitText(page, '#predict-machine', 'At 30: Neq. What is the condition after it?');
  await page.focus('#predict-machine select');
  await guess(page, 'machine', [{ select: 'cond', value: '1' }], 'Right: the condition is TRUE.');
  await guess(page, 'machine', [{ select: 'pc', value: '98' }], 'Wrong: you said 98; the pc goes to 37 (the jump is not taken).');
  await waitStep(page, 8);

  // set in the same tab: the replay at event 19, not predicting
  await page.evaluate((h) => { location.hash = h; }, `${gcdLink}&tab=replay&event=19`);
  await waitText(page, '#replay-event', '19/');
  assert.equal(await page.getAttribute('#tab-replay', 'aria-selected'), 'true');
  assert.equal(await page.isChecked('#predict-mode'), false);
  assert.equal(await page.isHidden('#predict-replay'), true);
  assert.match(await text(page, '#replay-event'), /Fixup 50 with 76$/);
});
