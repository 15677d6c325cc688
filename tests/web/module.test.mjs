// The module in the browser against the console program: run gives the same
// bytes and status for the same arguments, input and files; compile and the
// machine report what the console's texts say. Bytes travel as latin1 strings.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { consoleRun, e2e, property, root, setup, withModule } from './harness.mjs';

setup();

const read = (...path) => readFileSync(join(root, ...path), 'latin1');
const examples = readdirSync(join(root, 'examples')).filter((f) => f.endsWith('.tov'))
  .map((f) => ({ name: f, src: read('examples', f) }));

// The cases of the end-to-end groups and the huge hostile sources, as the
// driver reads them: {name, args, stdin, file, src}.
const groups = [...readdirSync(join(root, 'tests/e2e')).filter((f) => f.endsWith('.cases')).map((f) => `tests/e2e/${f}`),
  'tests/hostile/sources.cases'];
const r = spawnSync(e2e, ['-', 'export', ...groups.map((g) => join(root, g))], { maxBuffer: 1 << 28 });
assert.equal(r.status, 0, r.stderr.toString());
const cases = r.stdout.toString().trim().split('\n').map((l) => JSON.parse(l))
  .map((c) => ({ name: c.name, args: c.args, stdin: c.stdin, files: { [c.file]: c.src } }));

function propertyPrograms(count, seed) {
  const dir = mkdtempSync(join(tmpdir(), 'tov-prop-'));
  try {
    const r = spawnSync(property, ['--write', dir, String(count), String(seed)]);
    assert.equal(r.status, 0, `property --write: ${r.stderr}`);
    return readdirSync(dir).sort().map((f) => readFileSync(join(dir, f), 'latin1'));
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// Sources a user or an attacker might type: the huge hostile sources, then
// token soup, stray bytes and broken examples.
function hostileSources(count, seed) {
  let s = seed;
  const int = (n) => { s = (Math.imul(s, 1103515245) + 12345) >>> 0; return (s >>> 8) % n; };
  const pick = (a) => a[int(a.length)];
  const tokens = ('BEGIN END . ; := VAR CONST x y : INTEGER BOOLEAN IF THEN ELSIF ELSE WHILE DO REPEAT UNTIL WRITE ( ) '
    + '(* *) ~ & | + - * / = # <> < <= > >= 0 1 2147483647 2147483648 4294967296 TRUE FALSE').split(' ');
  const out = cases.filter((c) => c.name.startsWith('sources/')).map((c) => Object.values(c.files)[0]);
  while (out.length < count) {
    const kind = int(4);
    if (kind === 0) out.push(String.fromCharCode(...Array.from({ length: int(200) }, () => int(256))));
    else if (kind === 1) out.push(Array.from({ length: 1 + int(60) }, () => pick(tokens)).join(pick([' ', '', '\n', '\r\n'])));
    else {
      const b = [...pick(examples).src];
      for (let k = 1 + int(4); k > 0; --k) b[int(b.length)] = kind === 2 ? String.fromCharCode(int(256)) : pick('();*. \n');
      out.push(b.slice(0, int(3) === 0 ? int(b.length) : b.length).join(''));
    }
  }
  return out;
}

// Runs each {args, stdin, files, limit} in the page, one after another.
const runAll = (page, runs) => page.evaluate((runs) => {
  const bytes = (s) => Uint8Array.from(s, (c) => c.charCodeAt(0));
  const text = (u) => {
    let s = '';
    for (let i = 0; i < u.length; i += 0x8000) s += String.fromCharCode(...u.subarray(i, i + 0x8000));
    return s;
  };
  return runs.map((r) => {
    const files = Object.fromEntries(Object.entries(r.files ?? {}).map(([k, v]) => [k, bytes(v)]));
    const x = tov.run(r.args, bytes(r.stdin ?? ''), files, { limit: r.limit ?? 0 });
    return { status: x.status, stdout: text(x.stdout), stderr: text(x.stderr), limited: x.limited };
  });
}, runs);

const assertSame = (name, got, con) => ['status', 'stdout', 'stderr'].forEach((k) => assert.equal(got[k], con[k], `${name}: ${k}`));

test('every end-to-end case and example runs as the console program, with its arguments, input and file', async () => {
  const all = [...cases, ...examples.map((e) => ({ name: e.name, args: ['-x', e.name], files: { [e.name]: e.src } }))];
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

test('300 random programs run as the console program, from a file or standard input when they end, else listed', async () => {
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

test('1,000 random and hostile sources compiled in a row: each as the console, none breaks the next', async () => {
  const sources = [...hostileSources(700, 7), ...propertyPrograms(300, 15)];
  const canary = read('examples/gcd.tov');
  const page = await withModule();
  const got = await page.evaluate(({ sources, canary }) => {
    const want = tov.compile(canary).listing;
    return sources.map((s) => {
      const r = tov.compile(Uint8Array.from(s, (c) => c.charCodeAt(0)));
      return { ok: r.ok, listing: r.listing, trace: r.trace, error: r.error, next: tov.compile(canary).listing === want };
    });
  }, { sources, canary });
  sources.forEach((src, i) => {
    const con = consoleRun([], src);
    const g = got[i];
    assert.deepEqual([g.next, g.ok, g.listing, g.trace], [true, con.status === 0, con.stdout, con.stderr], `source ${i}`);
    if (!g.ok) assert.equal(`${g.error.text}\r\n`, con.stderr.split(/(?<=\n)/).at(-1), `source ${i}`);
  });
  assert.ok(got.some((g) => g.ok) && got.some((g) => !g.ok));
});

test('the machine steps each example as -x runs it: output, steps, errors', async () => {
  const page = await withModule();
  for (const { name, src } of examples) {
    const con = consoleRun(['-x'], src);
    const m = await page.evaluate((src) => {
      const m = tov.machine(src);
      while (m.step(997) > 0);
      return { output: m.output, steps: m.steps, error: m.error, failPc: m.failPc, ended: m.ended, done: m.done };
    }, src);
    const [out, trace] = [con.stdout, con.stderr].map((b) => b.split('\r\n'));
    const executed = trace.filter((l) => /^Comp\.Dbg: +\d+:/.test(l));
    assert.equal(m.output, out.filter((l) => !/^ {0,3}\d+: /.test(l)).join('\r\n'), `${name}: output`);
    assert.deepEqual([m.steps, m.done, m.ended], [executed.length, true, con.status === 0], name);
    if (con.status) assert.deepEqual([m.error, m.failPc], [trace.at(-2), Number(executed.at(-1).slice(10, 14))], name);
  }
});
