// What a command does, as the page tells it: the tooltip of every kind of command with
// the texts of the program's command table (the unit tests hold the guide's tables equal
// to it), by pointer and by keyboard in the listing, the store and the machine (the
// replay's in page.test.mjs); and the module's records behind it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { openAt, press, setup, tab, text, waitStep, waitText, withModule } from './harness.mjs';

setup();

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

test('the module gives every command\'s effect, and events their rules and records; pointing at a listing row, or choosing a command in the listing, the store or the machine, tells what it does', async () => {
  const [k, compiled] = await (await withModule()).evaluate((s) => [tov.constants, tov.compile(s)], source);
  const { commands } = compiled;
  assert.equal(k.functionEffects.length, k.functions.length);
  assert.equal(k.operationEffects.length, k.operations.length);
  for (const e of [...k.functionEffects, ...k.operationEffects]) assert.ok(e.stack && e.cond && e.pc);
  // the program's commands cover every function and all operations but three
  const kinds = new Set(commands.map((c) => c.name));
  assert.deepEqual(k.functions.filter((f) => f !== 'Opr' && !kinds.has(f)), []);
  assert.deepEqual(k.operations.filter((o) => !kinds.has(o)), ['Not', 'Or', 'And']);
  // every event lies within the program's rules; an emitted command and a patched jump
  // carry their bytes, the last of them those in the store
  const store = new Map(commands.map((c) => [c.adr, c.bytes]));
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

  const page = await openAt(source);
  // the first command of each kind
  const first = new Map();
  commands.forEach((c, i) => first.has(c.name) || first.set(c.name, i));
  for (const i of first.values()) {
    const c = commands[i];
    assert.deepEqual(await point(page, `#cmd-${i}`, c.adr), expected(k, c), c.text);
  }
  // the listing by keyboard: the chosen row is described by the tooltip (the pointer
  // away, or a row scrolled under it would take the tooltip)
  await page.mouse.move(0, 0);
  await page.focus('#listing');
  await press(page, 'Home', 'ArrowDown');
  assert.deepEqual(await tip(page), expected(k, commands[1]));
  assert.equal(await page.locator('#cmd-1').getAttribute('aria-describedby'), 'cmd-tip');
  await press(page, 'Escape');
  assert.equal(await page.locator('#cmd-tip').isHidden(), true);
  // the store: its chosen bytes are the tooltip's
  await tab(page, 'store');
  await page.focus('#store');
  await press(page, 'End');
  const hlt = commands.at(-1);
  assert.deepEqual(await tip(page), expected(k, hlt));
  assert.equal(await page.locator('#store').getAttribute('aria-describedby'), 'cmd-tip');
  await press(page, 'ArrowLeft');
  const bytes = (await page.locator('.byte.chosen').allTextContents()).join(' ');
  assert.ok((await tip(page))[0].endsWith(`bytes: ${bytes}`));
  // the machine's next command, two steps on
  await tab(page, 'machine');
  await press(page, 'F10');
  await waitStep(page, 1);
  await press(page, 'F10');
  await waitStep(page, 2);
  assert.equal(await text(page, '#machine-cmd'), `Next command: ${commands[2].adr}: ${commands[2].text}`);
  await page.focus('#machine-cmd');
  assert.deepEqual(await tip(page), expected(k, commands[2]));
  await press(page, 'F10');
  await waitText(page, '#machine-cmd', `Next command: ${commands[3].adr}: `);
  assert.deepEqual(await tip(page), expected(k, commands[3]));
});
