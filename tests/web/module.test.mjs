// The module in the browser against the console program: run gives the same
// bytes and status for the same arguments, input and files; compile and the
// machine report what the console's texts say.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { consoleRun, e2e, property, root, setup, withModule } from './harness.mjs';

setup();

const examples = readdirSync(join(root, 'examples')).filter((f) => f.endsWith('.tov'))
  .map((f) => ({ name: f, src: readFileSync(join(root, 'examples', f)) }));

// The end-to-end cases as the driver reads them: {name, args, stdin, file, src}.
function e2eCases() {
  const groups = readdirSync(join(root, 'tests/e2e')).filter((f) => f.endsWith('.cases'))
    .map((f) => join(root, 'tests/e2e', f));
  const r = spawnSync(e2e, ['-', 'export', ...groups], { maxBuffer: 1 << 28 });
  assert.equal(r.status, 0, r.stderr.toString());
  return r.stdout.toString().trim().split('\n').map((l) => JSON.parse(l)).map((c) => ({
    name: c.name, args: c.args, stdin: Buffer.from(c.stdin, 'latin1'),
    files: { [c.file]: Buffer.from(c.src, 'latin1') },
  }));
}

function propertyPrograms(count, seed) {
  const dir = mkdtempSync(join(tmpdir(), 'tov-prop-'));
  try {
    const r = spawnSync(property, ['--write', dir, String(count), String(seed)]);
    assert.equal(r.status, 0, `property --write: ${r.stderr}`);
    return readdirSync(dir).sort().map((f) => readFileSync(join(dir, f)));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// Sources a user or an attacker might type: token soup, stray bytes, broken
// examples, and the limits (nesting, lengths, sizes).
function hostileSources(count, seed) {
  let s = seed;
  const int = (n) => { s = (Math.imul(s, 1103515245) + 12345) >>> 0; return (s >>> 8) % n; };
  const pick = (a) => a[int(a.length)];
  const tokens = ('BEGIN END . ; := VAR CONST x y : INTEGER BOOLEAN IF THEN ELSIF ELSE WHILE DO REPEAT UNTIL WRITE ( ) '
    + '(* *) ~ & | + - * / = # <> < <= > >= 0 1 2147483647 2147483648 4294967296 TRUE FALSE').split(' ');
  const out = ['', 'BEGIN END.', `BEGIN WRITE ${'('.repeat(2000)}1${')'.repeat(2000)} END.`,
    `VAR b: BOOLEAN; BEGIN b := ${'~'.repeat(5000)}TRUE END.`, `VAR ${'v'.repeat(300)}: INTEGER; BEGIN END.`,
    `BEGIN (* ${'(* '.repeat(1000)} END.`, `BEGIN ${'WRITE 1; '.repeat(200)} END.`,
    `VAR ${Array.from({ length: 40 }, (_, i) => `v${i}: INTEGER;`).join(' ')} BEGIN END.`,
    `BEGIN (* ${'x'.repeat(1 << 20)} *) WRITE 1 END.`, 'BEGIN WRITE 2147483647 + 1 END.', 'BEGIN WRITE 1 / 0 END.',
    'BEGIN\rWRITE\r1\rEND.', `BEGIN IF FALSE THEN ${'WRITE 1; '.repeat(500)} END END.`].map((t) => Buffer.from(t, 'latin1'));
  while (out.length < count) {
    const kind = int(4);
    if (kind === 0) out.push(Buffer.from(Array.from({ length: int(200) }, () => int(256))));
    else if (kind === 1) out.push(Buffer.from(Array.from({ length: 1 + int(60) }, () => pick(tokens)).join(pick([' ', '', '\n', '\r\n']))));
    else {
      const b = Buffer.from(pick(examples).src);
      for (let k = 1 + int(4); k > 0; --k) b[int(b.length)] = kind === 2 ? int(256) : pick([0x28, 0x29, 0x2a, 0x3b, 0x2e, 0x20, 0x0a]);
      out.push(int(3) === 0 ? b.subarray(0, int(b.length)) : b);
    }
  }
  return out;
}

const b64 = (x) => Buffer.from(x).toString('base64');

// Runs each {args, stdin, files, limit} in the page, one after another.
async function runAll(page, runs) {
  const sent = runs.map((r) => ({ ...r, stdin: b64(r.stdin ?? ''), files: Object.entries(r.files ?? {}).map(([k, v]) => [k, b64(v)]) }));
  const got = await page.evaluate((runs) => {
    const bytes = (s) => Uint8Array.from(atob(s), (c) => c.charCodeAt(0));
    const text = (u) => {
      let s = '';
      for (let i = 0; i < u.length; i += 0x8000) s += String.fromCharCode(...u.subarray(i, i + 0x8000));
      return btoa(s);
    };
    return runs.map((r) => {
      const x = tov.run(r.args, bytes(r.stdin), Object.fromEntries(r.files.map(([k, v]) => [k, bytes(v)])), { limit: r.limit ?? 0 });
      return { ...x, stdout: text(x.stdout), stderr: text(x.stderr) };
    });
  }, sent);
  return got.map((g) => ({ ...g, stdout: Buffer.from(g.stdout, 'base64'), stderr: Buffer.from(g.stderr, 'base64') }));
}

function assertSame(name, page, con) {
  const diff = (a, b) => {
    const [x, y] = [a, b].map((s) => s.toString('latin1').split('\n'));
    let i = 0;
    while (i < x.length && x[i] === y[i]) ++i;
    return `line ${i + 1}: page ${JSON.stringify(x[i])}, console ${JSON.stringify(y[i])}`;
  };
  assert.equal(page.status, con.status, `${name}: status`);
  assert.ok(page.stdout.equals(con.stdout), `${name}: stdout, ${diff(page.stdout, con.stdout)}`);
  assert.ok(page.stderr.equals(con.stderr), `${name}: stderr, ${diff(page.stderr, con.stderr)}`);
}

describe('run equals the console program byte for byte', () => {
  test('every end-to-end case and example, with its arguments, input and file', async () => {
    const all = [...e2eCases(), ...examples.map((e) => ({ name: e.name, args: ['-x', e.name], files: { [e.name]: e.src } }))];
    const page = await withModule();
    // twice, the second time backwards: every run starts clean, whatever ran before
    const got = await runAll(page, [...all, ...all.slice().reverse()]);
    all.forEach((c, i) => {
      const con = consoleRun(c.args, c.stdin, c.files);
      assertSame(c.name, got[i], con);
      assertSame(`${c.name} (again)`, got[2 * all.length - 1 - i], con);
    });
    assert.ok(all.length > 250, `${all.length} cases`);
    assert.deepEqual(page.problems, []);
  });

  test('300 random programs: run from a file or standard input when they end, else listed', async () => {
    // a random program may loop for ever: one that the page's step limit
    // stops is compared by its listing alone
    const runs = propertyPrograms(300, 14).map((src, i) =>
      (i % 2 ? { args: ['-x', 'r.tov'], files: { 'r.tov': src } } : { args: ['-x'], stdin: src }));
    const page = await withModule();
    const first = await runAll(page, runs.map((r) => ({ ...r, limit: 200000 })));
    runs.forEach((r, i) => { if (first[i].limited) r.args = r.args.filter((a) => a !== '-x'); });
    const got = await runAll(page, runs);
    runs.forEach((r, i) => assertSame(`random program ${i} (${r.args.join(' ')})`, got[i], consoleRun(r.args, r.stdin, r.files)));
    const ended = first.filter((r) => !r.limited).length;
    assert.ok(ended > 200, `${ended} of 300 end`);
  });

  test('a step limit stops a run at the start of its trace, and the next run is whole again', async () => {
    const files = { 'p.tov': 'VAR i: INTEGER; BEGIN REPEAT i := i + 1 UNTIL i = 1000; WRITE i END.' };
    const page = await withModule();
    const [cut, whole] = await runAll(page, [{ args: ['-x', 'p.tov'], files, limit: 100 }, { args: ['-x', 'p.tov'], files }]);
    const con = consoleRun(['-x', 'p.tov'], '', files);
    assertSame('after the limit', whole, con);
    assert.deepEqual([cut.limited, cut.steps, cut.status], [true, 100, 9]);
    assert.ok(con.stderr.subarray(0, cut.stderr.length).equals(cut.stderr));
    assert.equal(cut.stderr.toString().split('\n').filter((l) => l.startsWith('Comp.Dbg:  ')).length, 101);
  });
});

describe('compile', () => {
  test('1,000 random and hostile sources in a row: each as the console, none breaks the next', async () => {
    const sources = [...hostileSources(700, 7), ...propertyPrograms(300, 15)];
    const canary = readFileSync(join(root, 'examples/gcd.tov'), 'latin1');
    const page = await withModule();
    const got = await page.evaluate(({ sources, canary }) => {
      const want = tov.compile(canary).listing;
      return sources.map((s) => {
        const r = tov.compile(Uint8Array.from(atob(s), (c) => c.charCodeAt(0)));
        return { ok: r.ok, listing: r.listing, trace: r.trace, error: r.error, next: tov.compile(canary).listing === want };
      });
    }, { sources: sources.map(b64), canary });
    sources.forEach((src, i) => {
      const con = consoleRun([], src);
      const [name, trace] = [`source ${i}`, con.stderr.toString('latin1')];
      assert.equal(got[i].next, true, `${name}: the compilation after it differs`);
      assert.equal(got[i].ok, con.status === 0, `${name}: status`);
      assert.equal(got[i].listing, con.stdout.toString('latin1'), `${name}: listing`);
      assert.equal(got[i].trace, trace, `${name}: trace`);
      if (!got[i].ok) assert.equal(`${got[i].error.text}\r\n`, trace.split(/(?<=\n)/).at(-1), name);
    });
    assert.ok(got.some((g) => g.ok) && got.some((g) => !g.ok));
  });

  test('commands, events, names, source spans and errors agree with the console texts', async () => {
    const page = await withModule();
    const srcs = examples.map((e) => e.src.toString('latin1'));
    const got = await page.evaluate((srcs) => srcs.map((s) => tov.compile(s)), srcs);
    got.forEach((r, k) => {
      const name = examples[k].name;
      const lines = srcs[k].split('\n');
      assert.equal(r.ok, true, name);
      assert.deepEqual(r.commands.map((c) => `${String(c.adr).padStart(4)}: ${c.text}`), r.listing.split('\r\n').filter(Boolean), name);
      let adr = 0;
      for (const c of r.commands) {
        assert.equal(c.adr, adr, name);
        assert.equal(c.bytes.length, c.bytes[0] === 0 ? 1 : c.bytes[0] === 4 ? 2 : 5, `${name} ${c.adr}`);
        adr += c.bytes.length;
        assert.ok(c.line >= 1 && c.line <= lines.length && c.col >= 1 && c.col <= lines[c.line - 1].length, `${name} ${c.adr}`);
      }
      // one event per trace line, with the line's own text
      assert.deepEqual(r.events.map((e) => `Gen.Dbg: ${e.text}`), r.trace.split('\r\n').filter(Boolean), name);
      for (const e of r.events.filter((e) => e.kind === 'fixup')) assert.equal(e.text, `Fixup ${e.at} with ${e.value}`);
    });
    // gcd: names, the bytes of a fixed-up jump, and where chosen commands come from
    const gcd = got[examples.findIndex((e) => e.name === 'gcd.tov')];
    assert.deepEqual(gcd.vars, [{ name: 'a', type: 'INTEGER', value: 1071, const: true },
      { name: 'b', type: 'INTEGER', value: 462, const: true }, { name: 'x', type: 'INTEGER', cell: 0 }, { name: 'y', type: 'INTEGER', cell: 1 }]);
    const fix = gcd.events.find((e) => e.kind === 'fixup');
    assert.deepEqual(gcd.commands.find((c) => c.adr + 1 === fix.at).bytes.slice(1), [fix.value & 255, fix.value >> 8, 0, 0]);
    // each command at its own token: an operand, the assigned variable, an operator, the keyword of a jump
    const from = Object.fromEntries(gcd.commands.map((c) => [c.adr, `${c.text} ${c.line}:${c.col}`]));
    assert.deepEqual([0, 5, 32, 49, 71, 93, 216, 233, 238, 243, 248, 250, 252].map((adr) => from[adr]), ['Val 1071 6:8',
      'Sto 0 6:3', 'Jpf 98 7:3', 'Jpf 76 8:5', 'Jmp 93 8:30', 'Jmp 20 9:3', 'Jpt 238 15:17', 'Jpf 125 15:3',
      'Lod 0 16:9', 'Lod 1 16:13', 'Add 16:11', 'Wrt 16:3', 'Hlt 17:1']);
    // the parser's place stays in the events: the Add comes once y is read
    const add = gcd.events.find((e) => e.kind === 'cmd' && e.pos === 248 && e.lck === 0);
    assert.deepEqual([add.line, add.col, add.from], [16, 13, { line: 16, col: 11 }]);
    // code under the lock: traced with its depth, not stored
    const [dead, bad] = await page.evaluate(() => [tov.compile('BEGIN IF FALSE THEN WRITE 1 END END.'),
      tov.compile('VAR x: INTEGER;\nBEGIN\n  x := TRUE\nEND.').error]);
    assert.deepEqual(dead.events.map((e) => [e.kind, e.lck]), [['lock', 1], ['head', 1], ['cmd', 1], ['cmd', 1], ['unlock', 0], ['cmd', 0]]);
    assert.deepEqual(dead.commands.map((c) => c.text), ['Hlt']);
    assert.deepEqual(bad, { line: 4, col: 1, text: 'Prsr (4,1): Incompatible types.' });
  });
});

describe('machine', () => {
  test('steps each example as -x runs it: output, steps, errors', async () => {
    const page = await withModule();
    for (const { name, src } of examples) {
      const con = consoleRun(['-x'], src);
      const m = await page.evaluate((src) => {
        const m = tov.machine(src);
        while (m.step(997) > 0);
        return { output: m.output, steps: m.steps, error: m.error, failPc: m.failPc, ended: m.ended, done: m.done };
      }, src.toString('latin1'));
      const [out, trace] = [con.stdout, con.stderr].map((b) => b.toString('latin1').split('\r\n'));
      const executed = trace.filter((l) => /^Comp\.Dbg: +\d+:/.test(l));
      assert.equal(m.output, out.filter((l) => !/^ {0,3}\d+: /.test(l)).join('\r\n'), `${name}: output`);
      assert.deepEqual([m.steps, m.done, m.ended], [executed.length, true, con.status === 0], name);
      if (con.status) assert.deepEqual([m.error, m.failPc], [trace.at(-2), Number(executed.at(-1).slice(10, 14))], name);
    }
  });

  test('stepping shows the state; snapshot, restore, reset and the limit', async () => {
    const page = await withModule();
    const r = await page.evaluate(() => {
      const src = 'VAR i: INTEGER; j: INTEGER; BEGIN i := 5; j := i * 2; WRITE i + j; WHILE TRUE DO i := i + 1 END END.';
      const m = tov.machine(src, 1000);
      const seen = [];
      const look = () => seen.push({ pc: m.pc, stack: m.stack, cells: Array.from(m.cells.slice(0, 2)), output: m.output, steps: m.steps });
      m.step(3); look(); // Val 5, Sto 0, Lod 0
      m.step(4); look(); // Val 2, Mul, Sto 1, Lod 0
      const snap = m.snapshot();
      m.step(3); look(); // Lod 1, Add, Wrt
      tov.run(['-x'], 'BEGIN WRITE 1 / 0 END.'); // another call, even a failing one, leaves the machine alone
      m.restore(snap); look();
      while (m.step(100) > 0);
      const end = [m.steps, m.done, m.limited, m.ended];
      m.reset(); look();
      return { bad: tov.machine('VAR i, j: INTEGER; BEGIN END.'), seen, end };
    });
    assert.equal(r.bad, null);
    assert.deepEqual(r.seen, [{ pc: 15, stack: [5], cells: [5, 0], output: '', steps: 3 },
      { pc: 32, stack: [5], cells: [5, 10], output: '', steps: 7 }, { pc: 41, stack: [], cells: [5, 10], output: '15\r\n', steps: 10 },
      { pc: 32, stack: [5], cells: [5, 10], output: '', steps: 7 }, { pc: 0, stack: [], cells: [0, 0], output: '', steps: 0 }]);
    assert.deepEqual(r.end, [1000, true, true, false]);
  });
});
