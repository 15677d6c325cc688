// The module in the browser against the console program: run gives the same
// bytes and status for the same arguments, input and files; compile and the
// machine report what the console's texts say.
import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { native, property, root, setup, withModule } from './harness.mjs';

setup();

// ---- the console program ---------------------------------------------------

// Runs the console program in a fresh directory holding the files.
function consoleRun(args, stdin, files) {
  const dir = mkdtempSync(join(tmpdir(), 'tov-web-'));
  try {
    for (const [name, content] of Object.entries(files)) {
      mkdirSync(dirname(join(dir, name)), { recursive: true });
      writeFileSync(join(dir, name), content);
    }
    const r = spawnSync(native, args, { cwd: dir, input: stdin, maxBuffer: 1 << 30 });
    return { status: r.status, stdout: r.stdout, stderr: r.stderr };
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// The cases of the end-to-end suite and the examples, as runs: NAME.tov,
// NAME.args ("{src}" for the source's name, "{none}" for no arguments;
// default -x NAME.tov), NAME.stdin. A directory beside the cases is made too.
function cases() {
  const dirs = [join(root, 'examples'), join(root, 'docs/examples')];
  const e2e = join(root, 'tests/e2e');
  for (const d of readdirSync(e2e)) dirs.push(join(e2e, d));
  const all = [];
  for (const dir of dirs) {
    const names = new Set(readdirSync(dir).filter((f) => /\.(tov|args)$/.test(f)).map((f) => f.replace(/\.\w+$/, '')));
    const subdirs = readdirSync(dir).filter((f) => statSync(join(dir, f)).isDirectory());
    for (const name of names) {
      const read = (ext) => (existsSync(join(dir, name + ext)) ? readFileSync(join(dir, name + ext)) : null);
      const src = read('.tov');
      const argText = read('.args');
      let args = ['-x', `${name}.tov`];
      if (argText !== null) {
        const lines = argText.toString('utf8').replace(/\r?\n$/, '').split(/\r?\n/);
        args = lines.length === 1 && lines[0] === '{none}' ? [] : lines.map((a) => (a === '{src}' ? `${name}.tov` : a));
      }
      const files = {};
      if (src !== null) files[`${name}.tov`] = src;
      for (const s of subdirs) files[`${s}/.keep`] = '';
      all.push({ name: `${dir.slice(root.length + 1)}/${name}`, args, stdin: read('.stdin') ?? Buffer.alloc(0), files });
    }
  }
  return all;
}

// ---- the same in the page ------------------------------------------------

const b64 = (x) => Buffer.from(x).toString('base64');

// Runs each {args, stdin, files} in the page, one after another, in one go.
async function runAll(page, runs) {
  const sent = runs.map((r) => ({
    args: r.args,
    stdin: b64(r.stdin),
    files: Object.fromEntries(Object.entries(r.files).map(([k, v]) => [k, b64(v)])),
    limit: r.limit ?? 0,
  }));
  const got = await page.evaluate((runs) => {
    const bytes = (s) => Uint8Array.from(atob(s), (c) => c.charCodeAt(0));
    const text = (u) => {
      let s = '';
      for (let i = 0; i < u.length; i += 0x8000) s += String.fromCharCode(...u.subarray(i, i + 0x8000));
      return btoa(s);
    };
    return runs.map((r) => {
      const files = Object.fromEntries(Object.entries(r.files).map(([k, v]) => [k, bytes(v)]));
      const x = tov.run(r.args, bytes(r.stdin), files, { limit: r.limit });
      return { status: x.status, stdout: text(x.stdout), stderr: text(x.stderr), steps: x.steps, limited: x.limited };
    });
  }, sent);
  return got.map((g) => ({ ...g, stdout: Buffer.from(g.stdout, 'base64'), stderr: Buffer.from(g.stderr, 'base64') }));
}

// The first line where two outputs differ, for a readable failure.
function firstDiff(a, b) {
  const x = a.toString('latin1').split('\n');
  const y = b.toString('latin1').split('\n');
  let i = 0;
  while (i < x.length && x[i] === y[i]) ++i;
  return `line ${i + 1}: page ${JSON.stringify(x[i])}, console ${JSON.stringify(y[i])}`;
}

function assertSame(name, page, con) {
  assert.equal(page.status, con.status, `${name}: status`);
  assert.ok(page.stdout.equals(con.stdout), `${name}: stdout, ${firstDiff(page.stdout, con.stdout)}`);
  assert.ok(page.stderr.equals(con.stderr), `${name}: stderr, ${firstDiff(page.stderr, con.stderr)}`);
}

// A small deterministic generator, so that a failure can be repeated.
function random(seed) {
  let s = seed >>> 0;
  const next = () => {
    s = (s + 0x6d2b79f5) >>> 0;
    let t = s;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const int = (n) => Math.floor(next() * n);
  return { int, pick: (a) => a[int(a.length)] };
}

function propertyPrograms(count, seed) {
  const dir = mkdtempSync(join(tmpdir(), 'tov-prop-'));
  try {
    const r = spawnSync(property, ['--write', dir, String(count), String(seed)]);
    assert.equal(r.status, 0, `property --write: ${r.stderr}`);
    return readdirSync(dir)
      .sort()
      .map((f) => readFileSync(join(dir, f)));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// The independent model's random programs for seeds "seed-0" and on.
function modelPrograms(count, seed) {
  const py = `import base64, sys
sys.path.insert(0, ${JSON.stringify(join(root, 'tools/model'))})
import randprog
for i in range(${count}):
    print(base64.b64encode(randprog.generate("${seed}-%d" % i)[1]).decode())`;
  const r = spawnSync('python3', ['-c', py], { maxBuffer: 1 << 28 });
  assert.equal(r.status, 0, `randprog: ${r.stderr}`);
  return r.stdout.toString().trim().split('\n').map((l) => Buffer.from(l, 'base64'));
}

// Sources a user or an attacker might type: token soup, broken examples,
// stray bytes, and the limits (nesting, lengths, sizes).
function hostileSources(count, seed) {
  const { int, pick } = random(seed);
  const examples = readdirSync(join(root, 'examples'))
    .filter((f) => f.endsWith('.tov'))
    .map((f) => readFileSync(join(root, 'examples', f)));
  const tokens = ['BEGIN', 'END', '.', ';', ':=', 'VAR', 'CONST', 'x', 'y', ':', 'INTEGER', 'BOOLEAN', 'IF', 'THEN',
    'ELSIF', 'ELSE', 'WHILE', 'DO', 'REPEAT', 'UNTIL', 'WRITE', '(', ')', '(*', '*)', '~', '&', '|', '+', '-', '*',
    '/', '=', '#', '<>', '<', '<=', '>', '>=', '0', '1', '2147483647', '2147483648', '4294967296', 'TRUE', 'FALSE'];
  const fixed = [
    '',
    'BEGIN END.',
    `BEGIN WRITE ${'('.repeat(2000)}1${')'.repeat(2000)} END.`,
    `VAR b: BOOLEAN; BEGIN b := ${'~'.repeat(5000)}TRUE END.`,
    `VAR ${'v'.repeat(300)}: INTEGER; BEGIN END.`,
    `BEGIN (* ${'(* '.repeat(1000)} END.`,
    `BEGIN ${'WRITE 1; '.repeat(200)} END.`,
    `VAR ${Array.from({ length: 40 }, (_, i) => `v${i}: INTEGER;`).join(' ')} BEGIN END.`,
    `BEGIN (* ${'x'.repeat(1 << 20)} *) WRITE 1 END.`,
    'BEGIN WRITE 2147483647 + 1 END.',
    'BEGIN WRITE 1 / 0 END.',
    'VAR i: INTEGER; BEGIN WHILE TRUE DO i := i + 1 END END.',
    'BEGIN\rWRITE\r1\rEND.',
    `BEGIN IF FALSE THEN ${'WRITE 1; '.repeat(500)} END END.`,
  ];
  const out = fixed.map((s) => Buffer.from(s, 'latin1'));
  while (out.length < count) {
    const kind = int(4);
    if (kind === 0) {
      out.push(Buffer.from(Array.from({ length: int(200) }, () => int(256))));
    } else if (kind === 1) {
      out.push(Buffer.from(Array.from({ length: 1 + int(60) }, () => pick(tokens)).join(pick([' ', '', '\n', '\r\n']))));
    } else {
      const b = Buffer.from(pick(examples));
      for (let k = 1 + int(4); k > 0; --k) {
        const at = int(b.length);
        if (kind === 2) b[at] = int(256);
        else b[at] = pick([0x28, 0x29, 0x2a, 0x3b, 0x2e, 0x20, 0x0a]);
      }
      out.push(int(3) === 0 ? b.subarray(0, int(b.length)) : b);
    }
  }
  return out;
}

// ---- run -------------------------------------------------------------------

describe('run equals the console program byte for byte', () => {
  test('every end-to-end case and example, with its arguments, input and files', async () => {
    const all = cases();
    const page = await withModule();
    // twice, the second time backwards: every run starts clean, whatever ran before
    const got = await runAll(page, [...all, ...all.slice().reverse()]);
    all.forEach((c, i) => {
      const con = consoleRun(c.args, c.stdin, c.files);
      assertSame(c.name, got[i], con);
      assertSame(`${c.name} (again)`, got[2 * all.length - 1 - i], con);
    });
    assert.ok(all.length > 100, `${all.length} cases`);
    assert.deepEqual(page.problems, []);
  });

  test('400 random programs, run from a named file or standard input, or listed', async () => {
    // programs that end (and a share broken on purpose) from the model's generator;
    // the property generator's programs may loop for ever, so they are only listed
    const runs = modelPrograms(300, 14).map((src, i) =>
      i % 2 ? { args: ['-x', `r${i}.tov`], stdin: Buffer.alloc(0), files: { [`r${i}.tov`]: src } } : { args: ['-x'], stdin: src, files: {} },
    );
    for (const src of propertyPrograms(100, 14)) runs.push({ args: [], stdin: src, files: {} });
    const page = await withModule();
    const got = await runAll(page, runs);
    runs.forEach((r, i) => assertSame(`random program ${i} (${r.args.join(' ')})`, got[i], consoleRun(r.args, r.stdin, r.files)));
  });

  test('a step limit stops a run, and the next run is whole again', async () => {
    const src = 'VAR i: INTEGER; BEGIN REPEAT i := i + 1 UNTIL i = 1000; WRITE i END.';
    const files = { 'p.tov': src };
    const page = await withModule();
    const [cut, whole] = await runAll(page, [
      { args: ['-x', 'p.tov'], stdin: '', files, limit: 100 },
      { args: ['-x', 'p.tov'], stdin: '', files },
    ]);
    const con = consoleRun(['-x', 'p.tov'], '', files);
    assertSame('after the limit', whole, con);
    assert.equal(cut.limited, true);
    assert.equal(cut.steps, 100);
    assert.equal(cut.status, 9);
    // what the cut run wrote is the start of the whole run's trace: 100 trace lines
    assert.ok(con.stderr.subarray(0, cut.stderr.length).equals(cut.stderr));
    assert.equal(cut.stderr.toString().split('\n').filter((l) => l.startsWith('Comp.Dbg:  ')).length, 101);
  });
});

// ---- compile ---------------------------------------------------------------

describe('compile', () => {
  test('1,000 random and hostile sources in a row: each as the console, none breaks the next', async () => {
    const sources = [...hostileSources(700, 7), ...propertyPrograms(300, 15)];
    const canary = readFileSync(join(root, 'examples/gcd.tov'), 'latin1');
    const page = await withModule();
    const got = await page.evaluate(
      ({ sources, canary }) => {
        const bytes = (s) => Uint8Array.from(atob(s), (c) => c.charCodeAt(0));
        const want = tov.compile(canary).listing;
        return sources.map((s) => {
          const r = tov.compile(bytes(s));
          const next = tov.compile(canary).listing === want;
          return { ok: r.ok, listing: r.listing, trace: r.trace, error: r.error, next };
        });
      },
      { sources: sources.map(b64), canary },
    );
    sources.forEach((src, i) => {
      const con = consoleRun([], src, {});
      const name = `source ${i}`;
      assert.equal(got[i].next, true, `${name}: the compilation after it differs`);
      assert.equal(got[i].ok, con.status === 0, `${name}: status`);
      assert.equal(got[i].listing, con.stdout.toString('latin1'), `${name}: listing`);
      assert.equal(got[i].trace, con.stderr.toString('latin1'), `${name}: trace`);
      if (!got[i].ok) assert.equal(`${got[i].error.text}\r\n`, con.stderr.toString('latin1').split(/(?<=\n)/).at(-1), name);
    });
    assert.ok(got.some((g) => g.ok) && got.some((g) => !g.ok));
  });

  test('commands, events, names and errors agree with the console texts', async () => {
    const page = await withModule();
    const srcs = Object.fromEntries(
      readdirSync(join(root, 'examples'))
        .filter((f) => f.endsWith('.tov'))
        .map((f) => [f, readFileSync(join(root, 'examples', f), 'latin1')]),
    );
    const got = await page.evaluate((srcs) => Object.fromEntries(Object.entries(srcs).map(([k, s]) => [k, tov.compile(s)])), srcs);
    for (const [name, r] of Object.entries(got)) {
      assert.equal(r.ok, true, name);
      const lines = srcs[name].split('\n');
      // the listing, command by command, with bytes that follow one another
      const listed = r.listing.split('\r\n').filter(Boolean);
      assert.deepEqual(r.commands.map((c) => `${String(c.adr).padStart(4)}: ${c.text}`), listed, name);
      let adr = 0;
      for (const c of r.commands) {
        assert.equal(c.adr, adr, name);
        assert.equal(c.bytes.length, c.bytes[0] === 0 ? 1 : c.bytes[0] === 4 ? 2 : 5, `${name} ${c.adr}`);
        adr += c.bytes.length;
        // the token that produced it exists in the source
        assert.ok(c.line >= 1 && c.line <= lines.length && c.col >= 1 && c.col <= lines[c.line - 1].length, `${name} ${c.adr}`);
      }
      // one event per trace line, with the line's own text
      const trace = r.trace.split('\r\n').filter(Boolean);
      assert.deepEqual(r.events.map((e) => `Gen.Dbg: ${e.text}`), trace, name);
      for (const e of r.events.filter((e) => e.kind === 'fixup')) assert.equal(e.text, `Fixup ${e.at} with ${e.value}`);
      for (const e of r.events.filter((e) => e.kind === 'cmd')) assert.ok(e.text.startsWith(`${String(e.lck).padStart(3)} ${String(e.pos).padStart(4)}: `));
    }
    // gcd: names, and the store's bytes of a fixed-up jump
    const gcd = got['gcd.tov'];
    assert.deepEqual(gcd.vars, [
      { name: 'a', type: 'INTEGER', value: 1071, const: true },
      { name: 'b', type: 'INTEGER', value: 462, const: true },
      { name: 'x', type: 'INTEGER', cell: 0 },
      { name: 'y', type: 'INTEGER', cell: 1 },
    ]);
    const fix = gcd.events.find((e) => e.kind === 'fixup');
    const jump = gcd.commands.find((c) => c.adr + 1 === fix.at);
    assert.deepEqual(jump.bytes.slice(1), [fix.value & 255, fix.value >> 8, 0, 0]);
    // positions: "x := a" on line 6 makes Val 1071 and Sto 0 at the "a"
    assert.deepEqual(
      gcd.commands.slice(0, 2).map((c) => [c.text, c.line, c.col]),
      [['Val 1071', 6, 8], ['Sto 0', 6, 8]],
    );
    // code under the lock: traced with its depth, not stored
    const dead = await page.evaluate(() => tov.compile('BEGIN IF FALSE THEN WRITE 1 END END.'));
    assert.deepEqual(
      dead.events.map((e) => [e.kind, e.lck, e.pos]),
      [['lock', 1, 0], ['head', 1, 0], ['cmd', 1, 0], ['cmd', 1, 0], ['unlock', 0, 0], ['cmd', 0, 0]],
    );
    assert.deepEqual(dead.commands.map((c) => c.text), ['Hlt']);
    const bad = await page.evaluate(() => tov.compile('VAR x: INTEGER;\nBEGIN\n  x := TRUE\nEND.').error);
    assert.deepEqual(bad, { line: 4, col: 1, text: 'Prsr (4,1): Incompatible types.' });
  });
});

// ---- machine ---------------------------------------------------------------

describe('machine', () => {
  test('steps each example as -x runs it: output, steps, errors', async () => {
    const page = await withModule();
    const names = readdirSync(join(root, 'examples')).filter((f) => f.endsWith('.tov'));
    names.push(...readdirSync(join(root, 'docs/examples')).filter((f) => /^err_comp_.*\.tov$/.test(f)).map((f) => `../docs/examples/${f}`));
    for (const name of names) {
      const src = readFileSync(join(root, 'examples', name), 'latin1');
      const con = consoleRun(['-x', 'p.tov'], '', { 'p.tov': src });
      const m = await page.evaluate((src) => {
        const m = tov.machine(src);
        if (m === null) return null;
        while (m.step(997) > 0);
        return { output: m.output, steps: m.steps, error: m.error, failPc: m.failPc, ended: m.ended, done: m.done };
      }, src);
      const trace = con.stderr.toString('latin1').split('\r\n');
      const executed = trace.filter((l) => /^Comp\.Dbg: +\d+:/.test(l));
      if (m === null) {
        assert.ok(!con.stdout.includes('Hlt'), `${name}: compiles`);
        continue;
      }
      const listing = con.stdout.toString('latin1').split('\r\n').filter((l) => /^ {0,3}\d+: /.test(l)).length;
      assert.equal(m.output, con.stdout.toString('latin1').split('\r\n').slice(listing).join('\r\n'), `${name}: output`);
      assert.equal(m.steps, executed.length, `${name}: steps`);
      assert.equal(m.done, true, name);
      if (con.status === 0) {
        assert.equal(m.ended, true, name);
      } else {
        assert.equal(m.error, trace.at(-2), `${name}: error`);
        assert.equal(m.failPc, Number(executed.at(-1).slice(10, 14)), `${name}: failPc`);
      }
    }
  });

  test('stepping shows the state; snapshot, restore, reset and the limit', async () => {
    const page = await withModule();
    const r = await page.evaluate(() => {
      const src = 'VAR i, j: INTEGER; BEGIN i := 5; j := i * 2; WRITE i + j; WHILE TRUE DO i := i + 1 END END.';
      const fixed = 'VAR i: INTEGER; j: INTEGER; BEGIN i := 5; j := i * 2; WRITE i + j; WHILE TRUE DO i := i + 1 END END.';
      const seen = [];
      const bad = tov.machine(src); // "i, j" is not the language
      const m = tov.machine(fixed, 1000);
      const look = () => ({ pc: m.pc, cond: m.cond, stack: m.stack, cells: Array.from(m.cells.slice(0, 2)), output: m.output, steps: m.steps });
      m.step(3); // Val 5, Sto 0, Lod 0
      seen.push(look());
      m.step(4); // Val 2, Mul, Sto 1, Lod 0
      seen.push(look());
      const snap = m.snapshot();
      m.step(3); // Lod 1, Add, Wrt
      seen.push(look());
      tov.run(['-x'], 'BEGIN WRITE 1 / 0 END.'); // another call, even a failing one, leaves the machine alone
      m.restore(snap);
      seen.push(look());
      m.step(3);
      seen.push(look());
      const later = m.snapshot();
      m.reset();
      m.restore(later); // forwards again
      seen.push(look());
      while (m.step(100) > 0);
      seen.push({ ...look(), done: m.done, limited: m.limited, ended: m.ended });
      m.reset();
      seen.push(look());
      return { bad, seen };
    });
    assert.equal(r.bad, null);
    const [a, b, c, d, e, e2, f, g] = r.seen;
    assert.deepEqual(a, { pc: 15, cond: false, stack: [5], cells: [5, 0], output: '', steps: 3 });
    assert.deepEqual(b, { pc: 32, cond: false, stack: [5], cells: [5, 10], output: '', steps: 7 });
    assert.deepEqual(c, { pc: 41, cond: false, stack: [], cells: [5, 10], output: '15\r\n', steps: 10 });
    assert.deepEqual(d, b);
    assert.deepEqual(e, c);
    assert.deepEqual(e2, c);
    assert.equal(f.steps, 1000);
    assert.deepEqual([f.done, f.limited, f.ended], [true, true, false]);
    assert.deepEqual(g, { pc: 0, cond: false, stack: [], cells: [0, 0], output: '', steps: 0 });
  });
});
