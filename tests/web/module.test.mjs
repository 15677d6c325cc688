// The module in the browser against the console program: run gives the same
// bytes and status for the same arguments, input and files; compile and the
// machine report what the console's texts say. Inputs reach the page as files
// it fetches, and large outputs are compared by length and SHA-256, so that a
// case of 16 MB costs what the two programs take to run it.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { consoleRun, consoleBatch, digest, e2e, example, gcd, property, root, setup, site, withModule } from './harness.mjs';

const data = mkdtempSync(join(tmpdir(), 'tov-data-'));
after(() => rmSync(data, { recursive: true, force: true }));
setup({ '/data/': data });
// The inputs go to the page in one file, which it fetches once per call: a fetch
// costs about 10 ms, a run of a small case far less.
const chunks = [];
let size = 0;
// The bytes (a latin1 string) staged: their [offset, length] in that file.
function stage(bytes) {
  const b = Buffer.from(bytes, 'latin1');
  chunks.push(b);
  size += b.length;
  return [size - b.length, b.length];
}
// Writes the staged inputs out; the path at which the page finds them.
function publish() {
  writeFileSync(join(data, 'inputs'), Buffer.concat(chunks));
  return `/data/inputs?${size}`;
}

const examples = readdirSync(join(root, 'examples')).filter((f) => f.endsWith('.tov'))
  .map((f) => ({ name: f, src: example(f.slice(0, -4)) }));

// The cases of the end-to-end groups and the huge hostile sources, as the
// driver reads them: {name, args, stdin, file, src}.
const groups = [...readdirSync(join(root, 'tests/e2e')).filter((f) => f.endsWith('.cases')).map((f) => `tests/e2e/${f}`),
  'tests/hostile/sources.cases'];
// The export (some 200 MB of JSON) is kept beside the site until the driver or a group changes.
const exported = join(site, '..', 'cases.jsonl');
const made = existsSync(exported) && statSync(exported).mtimeMs;
const fresh = made && [e2e, ...groups.map((g) => join(root, g))].every((f) => statSync(f).mtimeMs < made);
if (!fresh) {
  const r = spawnSync(e2e, ['-', 'export', ...groups.map((g) => join(root, g))], { maxBuffer: 1 << 29 });
  assert.equal(r.status, 0, r.stderr.toString());
  writeFileSync(exported, r.stdout);
}
const cases = readFileSync(exported, 'utf8').trim().split('\n').map((l) => JSON.parse(l))
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

// Runs each {args, stdin, files, limit} in the page, one after another, its input and
// files staged; the streams come back as digests.
const runAll = (page, runs) => page.evaluate(async ({ runs, inputs }) => {
  const all = new Uint8Array(await (await fetch(inputs)).arrayBuffer());
  const get = ([at, n]) => all.subarray(at, at + n);
  const hex = (b) => Array.from(new Uint8Array(b), (x) => x.toString(16).padStart(2, '0')).join('');
  const digest = async (u) => `${u.length}:${hex(await crypto.subtle.digest('SHA-256', u))}`;
  const out = [];
  for (const r of runs) {
    const files = {};
    for (const [k, v] of Object.entries(r.staged.files)) files[k] = get(v);
    const stdin = r.staged.stdin ? get(r.staged.stdin) : '';
    const x = tov.run(r.args, stdin, files, { limit: r.limit ?? 0 });
    const last = new TextDecoder('latin1').decode(x.stderr).split('\r\n').at(-2) ?? '';
    out.push({ status: x.status, stdout: await digest(x.stdout), stderr: await digest(x.stderr), limited: x.limited, end: x.end, last });
  }
  return out;
}, { runs: runs.map((r) => ({ ...r, stdin: undefined, files: undefined })), inputs: publish() });

// Stages a run's input and files once.
function staging(r) {
  r.staged ??= { stdin: r.stdin ? stage(r.stdin) : null,
    files: Object.fromEntries(Object.entries(r.files ?? {}).map(([k, v]) => [k, stage(v)])) };
  return r;
}

// The console's runs of the same, two at a time while the page works; as digests.
const consoleAll = async (runs) => (await consoleBatch(runs)).map((c) =>
  ({ status: c.status, stdout: digest(c.stdout), stderr: digest(c.stderr) }));

const assertSame = (name, got, con) => ['status', 'stdout', 'stderr'].forEach((k) => assert.equal(got[k], con[k], `${name}: ${k}`));

test('every end-to-end case and example runs as the console program, with its arguments, input and file', async () => {
  const all = [...cases, ...examples.map((e) => ({ name: e.name, args: ['-x', e.name], files: { [e.name]: e.src } }))]
    .map(staging);
  const page = await withModule();
  const consoles = consoleAll(all);
  // twice, the second time backwards: every run starts clean, whatever ran before
  const got = await runAll(page, [...all, ...all.slice().reverse()]);
  const cons = await consoles;
  all.forEach((c, i) => {
    const con = cons[i];
    assertSame(c.name, got[i], con);
    assertSame(`${c.name} (again)`, got[2 * all.length - 1 - i], con);
    const { end, last, status } = got[i]; // the class of the end: what the last line says
    assert.ok(status ? end === 'error' || [`Comp: ${end}`, `${end} `, `${end}.`, `${end}:`].some((s) => last.startsWith(s)) : end === 'ok', `${c.name}: ${end}`);
  });
  const ends = new Set(got.map((g) => g.end));
  assert.ok(['ok', 'Prsr', 'Scnr', 'tov', 'Division by zero', 'Stack overflow'].every((e) => ends.has(e)), [...ends].join());
  assert.ok(all.length > 250, `${all.length} cases`);
  assert.deepEqual(page.problems, []);
});

test('300 random programs run as the console program, from a file or standard input when they end, else listed', async () => {
  // a random program may loop for ever: one that the page's step limit
  // stops is compared by its listing alone
  const runs = propertyPrograms(300, 14).map((src, i) =>
    (i % 2 ? { args: ['-x', 'r.tov'], files: { 'r.tov': src } } : { args: ['-x'], stdin: src })).map(staging);
  const page = await withModule();
  const first = await runAll(page, runs.map((r) => ({ ...r, limit: 200000 })));
  runs.forEach((r, i) => { if (first[i].limited) r.args = r.args.filter((a) => a !== '-x'); });
  const consoles = consoleAll(runs);
  const got = await runAll(page, runs);
  const cons = await consoles;
  runs.forEach((r, i) => assertSame(`random program ${i} (${r.args.join(' ')})`, got[i], cons[i]));
  const ended = first.filter((r) => !r.limited).length;
  assert.ok(ended > 200, `${ended} of 300 end`);
});

test('1,000 random and hostile sources compiled in a row: each as the console, none breaks the next', async () => {
  const sources = [...hostileSources(700, 7), ...propertyPrograms(300, 15)];
  const page = await withModule();
  const consoles = consoleBatch(sources.map((src) => ({ args: [], stdin: src }))).then((all) => all.map((c) =>
    ({ status: c.status, stdout: c.stdout.toString('latin1'), stderr: c.stderr.toString('latin1') })));
  const paths = sources.map(stage);
  const got = await page.evaluate(async ({ paths, canary, inputs }) => {
    const all = new Uint8Array(await (await fetch(inputs)).arrayBuffer());
    const want = tov.compile(canary).listing;
    const out = [];
    for (const [at, n] of paths) {
      const r = tov.compile(all.subarray(at, at + n));
      out.push({ ok: r.ok, listing: r.listing, trace: r.trace, error: r.error, next: tov.compile(canary).listing === want });
    }
    return out;
  }, { paths, canary: gcd, inputs: publish() });
  const cons = await consoles;
  sources.forEach((src, i) => {
    const con = cons[i];
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
