// What a command does, as the page tells it: the tooltip of every kind of command with
// the texts of the program's command table (the unit tests hold the guide's tables equal
// to it), by pointer and by keyboard in the listing, the store, the replay and the
// machine; and the parser's rules at a replayed event.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { open, root, setSource, setup, waitListing, waitText, withModule } from './harness.mjs';

setup();
const wide = { viewport: { width: 1280, height: 720 } };

// Every kind of command the compiler emits: all functions, and all operations but the
// bitwise ones, which no source program reaches.
const source = `VAR i: INTEGER; b: BOOLEAN;
BEGIN
  i := 7; i := -i;
  i := (i + 1) * 2 - i / 3;
  i := i - (i + 1); i := i / (i + 1);
  b := i = 1; b := i # 1; b := i < 1; b := i <= 1; b := i > 1; b := i >= 1;
  WRITE b; WRITE i;
  IF b | (i > 0) THEN WRITE 1 END;
  WHILE i < 0 DO i := i + 1 END
END.
`;

// What the tooltip should say of a command record, with the module's constants k.
function expected(k, c) {
  const e = c.operand === 'operation' ? k.operationEffects[c.opd] : k.functionEffects[c.fct];
  const hex = c.bytes.map((b) => b.toString(16).toUpperCase().padStart(2, '0')).join(' ');
  return [`${c.adr}: ${c.text}, ${c.length} ${c.length === 1 ? 'byte' : 'bytes'}: ${hex}`,
    `stack: ${e.stack}`, `cond: ${e.cond}`, `pc: ${e.pc}`];
}
const tip = async (page) => (await page.locator('#cmd-tip').innerText()).split('\n');

// Points at an element until the tooltip names the command at adr: a view that scrolls
// late (the listing to the editor's cursor line) moves another row under the pointer.
async function point(page, selector, adr) {
  for (let tries = 0; tries < 3; tries++) {
    await page.hover(selector);
    const ok = await page.waitForFunction((a) => document.querySelector('#cmd-tip .tip-cmd')?.textContent
      .startsWith(`${a}: `), adr, { timeout: 1000 }).then(() => true, () => false);
    if (ok) break;
  }
  return tip(page);
}

test('the module gives every command\'s effect, and events their rules and records', async () => {
  const page = await withModule();
  const { constants: k, compiled } = await page.evaluate((s) => ({ constants: tov.constants, compiled: tov.compile(s) }), source);
  assert.equal(k.functionEffects.length, k.functions.length);
  assert.equal(k.operationEffects.length, k.operations.length);
  for (const e of [...k.functionEffects, ...k.operationEffects]) assert.ok(e.stack && e.cond && e.pc);
  // the program's commands cover every function and all operations but three
  const kinds = new Set(compiled.commands.map((c) => c.name));
  assert.deepEqual(k.functions.filter((f) => f !== 'Opr' && !kinds.has(f)), []);
  assert.deepEqual(k.operations.filter((o) => !kinds.has(o)), ['Not', 'Or', 'And']);
  // every event lies within the program's rules; an emitted command and a patched jump
  // carry their bytes, the last of them those in the store
  const store = new Map(compiled.commands.map((c) => [c.adr, c.bytes]));
  const last = new Map();
  for (const e of compiled.events) {
    assert.equal(e.rules[0], 'program', e.text);
    assert.ok(e.rules.every((r) => k.rules.includes(r)), e.text);
    const c = e.kind === 'fixup' ? e.jump : e.cmd;
    if (c && e.lck === 0) last.set(c.adr, c.bytes);
  }
  assert.deepEqual(last, store);
  // a jump not resolved yet holds the end mark, unsigned as every operand word
  assert.equal(compiled.events.find((e) => e.cmd?.text.endsWith('<fixme>')).cmd.opd, k.store.endMark);
});

test('pointing at a listing row, or choosing a command in the listing, the store or the machine, tells what it does', async () => {
  const mod = await withModule();
  const [k, commands] = await mod.evaluate((s) => [tov.constants, tov.compile(s).commands], source);
  const page = await open('', wide);
  await waitText(page, '#listing', 'Hlt');
  await setSource(page, source);
  await waitListing(page, source);
  // the first command of each kind
  const kinds = new Map();
  commands.forEach((c, i) => kinds.has(c.name) || kinds.set(c.name, i));
  for (const i of kinds.values()) {
    const c = commands[i];
    assert.deepEqual(await point(page, `#cmd-${i}`, c.adr), expected(k, c), c.text);
  }
  // the listing by keyboard: the chosen row is described by the tooltip
  await page.focus('#listing');
  await page.keyboard.press('Home');
  await page.keyboard.press('ArrowDown');
  assert.deepEqual(await tip(page), expected(k, commands[1]));
  assert.equal(await page.locator('#cmd-1').getAttribute('aria-describedby'), 'cmd-tip');
  await page.keyboard.press('Escape');
  assert.equal(await page.locator('#cmd-tip').isHidden(), true);
  // the store: its chosen bytes are the tooltip's
  await page.click('#tab-store');
  await page.focus('#store');
  await page.keyboard.press('End');
  const hlt = commands.at(-1);
  assert.deepEqual(await tip(page), expected(k, hlt));
  assert.equal(await page.locator('#store').getAttribute('aria-describedby'), 'cmd-tip');
  await page.keyboard.press('ArrowLeft');
  const bytes = (await page.locator('.byte.chosen').allTextContents()).join(' ');
  assert.ok((await tip(page))[0].endsWith(`bytes: ${bytes}`));
  // the machine's next command, two steps on
  await page.click('#tab-machine');
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 1 of');
  await page.keyboard.press('F10');
  await waitText(page, '#machine-info', 'Step 2 of');
  assert.equal(await page.locator('#machine-cmd').textContent(), `Next command: ${commands[2].adr}: ${commands[2].text}`);
  await page.focus('#machine-cmd');
  assert.deepEqual(await tip(page), expected(k, commands[2]));
  await page.keyboard.press('F10');
  await waitText(page, '#machine-cmd', `Next command: ${commands[3].adr}: `);
  assert.deepEqual(await tip(page), expected(k, commands[3]));
  assert.deepEqual(page.problems, []);
});

test('the replay shows gcd\'s rules at each event, and its rows\' bytes as they stand', async () => {
  const mod = await withModule();
  const gcd = readFileSync(join(root, 'examples/gcd.tov'), 'latin1');
  const [k, events] = await mod.evaluate((s) => [tov.constants, tov.compile(s).events], gcd);
  const page = await open('', wide);
  await waitText(page, '#listing', '252: Hlt');
  await page.click('#tab-replay');
  await page.focus('#replay-slider');
  await page.keyboard.press('Home');
  assert.equal(await page.locator('#replay-rules').textContent(), '');
  const to = async (k) => {
    for (let n = Number(await page.locator('#replay-slider').inputValue()); n < k; n++) await page.keyboard.press('ArrowRight');
  };
  // the IF's comparison inside the WHILE: the parser is in its condition
  await to(events.findIndex((e) => e.text.endsWith('47: Gtr')) + 1);
  const rules = ['program', 'StatementSequence', 'Statement', 'WhileStatement', 'StatementSequence', 'Statement',
    'IfStatement', 'Expression'];
  assert.equal(await page.locator('#replay-rules [aria-hidden]').textContent(), `Parsing: ${rules.join(' → ')}`);
  assert.equal(await page.locator('#replay-rules .sr-only').textContent(),
    `The parser is in ${rules.reverse().join(', in ')}.`);
  // the WHILE's exit: pending, then patched
  const row = page.locator('#replay-store .row', { hasText: '  32: ' });
  await row.hover();
  assert.deepEqual((await tip(page)).slice(0, 1), ['32: Jpf <fixme>, 5 bytes: 06 FF FF FF FF']);
  await page.focus('#replay-slider');
  await to(events.findIndex((e) => e.text.endsWith('Fixup 33 with 98')) + 1);
  assert.equal(await page.locator('#replay-rules [aria-hidden]').textContent(), 'Parsing: program → StatementSequence → Statement → WhileStatement');
  await row.hover();
  const jpf = k.functionEffects[k.functions.indexOf('Jpf')];
  assert.deepEqual(await tip(page), ['32: Jpf 98, 5 bytes: 06 62 00 00 00', `stack: ${jpf.stack}`,
    `cond: ${jpf.cond}`, `pc: ${jpf.pc}`]);
  assert.deepEqual(page.problems, []);
});
