// The page: the editor, the worker that compiles and runs, the program in the link, and
// the views, which render the shared state.
import { state, set, on } from './state.js';
import { examples } from './examples.js';
import * as link from './link.js';
import * as moment from './moment.js';

// The editor's module (with CodeMirror) and the views load after the first paint, in
// steps (see start).
let ed;
const $ = (id) => document.getElementById(id);

// ---- the worker ----
let worker = null, nextId = 1;
const pending = new Map();

function startWorker() {
  worker = new Worker(new URL('worker.js', location.href), { type: 'module' });
  worker.onmessage = (e) => {
    const { id, result, failure } = e.data;
    const p = pending.get(id);
    if (!p) return;
    pending.delete(id);
    if (failure !== undefined) p.reject(new Error(failure)); else p.resolve(result);
  };
  worker.onerror = (e) => { status(`The compiler could not start: ${e.message || 'unknown error'}`); };
}

function call(type, args = {}) {
  const id = nextId++;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject });
    worker.postMessage({ id, type, ...args });
  });
}

// Ends whatever the worker is doing by replacing it.
function restartWorker() {
  worker.terminate();
  for (const p of pending.values()) p.reject(new Error('stopped'));
  pending.clear();
  startWorker();
  recording = null;
  set({ machine: null });
  compileNow();
}

// The worker records the run of the current program once; the machine and trace views
// move through that recording. Resolves to false when there is no recording.
let recording = null;

function record() {
  if (recording) return recording;
  if (!state.compiled?.ok) return Promise.resolve(false);
  const steps = limit();
  if (steps === null) {
    status('Not run: the step limit is not valid.');
    return Promise.resolve(false);
  }
  recording = (async () => {
    set({ running: true });
    status('Recording the run…');
    try {
      const source = state.source;
      const machine = await call('record', { source, limit: steps });
      if (source !== state.source) return false;
      set({ machine });
      status('');
      return true;
    } catch (err) {
      recording = null;
      status(err.message === 'stopped' ? 'Stopped.' : `Recording failed: ${err.message}`);
      return false;
    } finally {
      set({ running: false });
    }
  })();
  return recording;
}

function status(text) { $('status').textContent = text; }

function tooLong(n) {
  $('notice').textContent = `No link: the program would make an address of ${n.toLocaleString('en')} characters, `
    + `more than browsers open (${link.maxLink.toLocaleString('en')}).`;
}

// ---- compiling on every change ----
let compileTimer = 0, compileSeq = 0;

async function compileNow() {
  const seq = ++compileSeq, source = state.source;
  try {
    const compiled = await call('compile', { source });
    if (seq !== compileSeq) return;
    recording = null;
    compiled.source = source; // which text it is of: a link's moment waits for it
    set({ compiled, selected: null, machine: null, replay: compiled.events.length });
  } catch (err) {
    if (err.message !== 'stopped') status(`Compiling failed: ${err.message}`);
  }
}

function sourceChanged(text) {
  if (text === state.source) return;
  set({ source: text, run: null });
  $('notice').textContent = '';
  link.store(text, false, tooLong);
  clearTimeout(compileTimer);
  compileTimer = setTimeout(compileNow, 150);
}

// ---- running ----
// The step limit: a whole number from 1 to maxLimit, which bounds what a run keeps.
const maxLimit = 10000000;

// The limit in the field, or null (and the field marked, and said why) when it is none.
function limit() {
  const field = $('limit'), text = field.value.trim();
  const n = /^[0-9]+$/.test(text) ? Number(text) : NaN;
  const ok = n >= 1 && n <= maxLimit;
  field.setAttribute('aria-invalid', String(!ok));
  $('limit-error').textContent = ok ? ''
    : `The step limit must be a whole number from 1 to ${maxLimit.toLocaleString('en')}.`;
  return ok ? n : null;
}

async function run() {
  const steps = limit();
  if (steps === null) { status('Not run: the step limit is not valid.'); return; }
  set({ running: true, run: null });
  status('Running…');
  const started = performance.now();
  try {
    const r = await call('run', { source: state.source, limit: steps });
    set({ run: { ...r, limit: steps } });
    const ms = Math.round(performance.now() - started);
    if (r.limited) status(`Stopped at the step limit after ${r.steps.toLocaleString('en')} commands.`);
    else if (r.status === 0) status(`Finished: ${r.steps.toLocaleString('en')} commands in ${ms} ms.`);
    else status(`Ended with status ${r.status}.`);
  } catch (err) {
    if (err.message === 'stopped') status('Stopped.');
    else status(`Running failed: ${err.message}`);
  } finally {
    set({ running: false });
  }
}

function stop() {
  if (!state.running) return;
  restartWorker();
}

// ---- tabs ----
function showTab(name) {
  for (const tab of document.querySelectorAll('[role=tab]')) {
    const on = tab.dataset.tab === name;
    tab.setAttribute('aria-selected', String(on));
    tab.tabIndex = on ? 0 : -1;
    $(tab.getAttribute('aria-controls')).hidden = !on;
  }
  set({ tab: name });
}

function tabKeys(e) {
  const tabs = [...document.querySelectorAll('[role=tab]')];
  const i = tabs.indexOf(document.activeElement);
  if (i < 0) return;
  let j = -1;
  if (e.key === 'ArrowRight') j = (i + 1) % tabs.length;
  else if (e.key === 'ArrowLeft') j = (i + tabs.length - 1) % tabs.length;
  else if (e.key === 'Home') j = 0;
  else if (e.key === 'End') j = tabs.length - 1;
  if (j < 0) return;
  e.preventDefault();
  tabs[j].focus();
  showTab(tabs[j].dataset.tab);
}

// ---- start ----
const tick = () => new Promise((resume) => setTimeout(resume));
const page = { call, status, showTab, limit, record, editor: null };

async function start() {
  startWorker();
  const select = $('examples');
  select.append(...Object.keys(examples).map((name) => new Option(name, name)));

  let text = examples.gcd;
  const shared = link.read();
  if (shared.error) {
    text = '';
    $('notice').textContent = shared.error;
  } else if (shared.text !== null) {
    text = shared.text;
  }
  link.settle();
  state.source = text;
  const constants = call('constants');
  constants.then((c) => set({ constants: c }));

  // CodeMirror's parts and then the editor in tasks of their own, after the page's first
  // paint, so that evaluating them never holds the page's thread long
  for (const load of [() => import('@codemirror/state'), () => import('@codemirror/view'),
    () => import('@codemirror/language'), () => import('@codemirror/commands'),
    () => import('@codemirror/search'), () => import('@codemirror/autocomplete'),
    () => import('@codemirror/lint'), () => import('./editor.js')]) {
    await tick();
    ed = await load();
  }
  await tick();
  page.editor = ed.createEditor($('editor'), text, sourceChanged, (s) => {
    const line = s.doc.lineAt(s.selection.main.head).number;
    const a = s.doc.lineAt(s.selection.main.from).number, b = s.doc.lineAt(s.selection.main.to).number;
    set({ cursorLine: line, selLines: [a, b] });
  });

  constants.then((c) => ed.setWords(page.editor, c));

  select.addEventListener('change', () => {
    if (!select.value) return;
    ed.setText(page.editor, examples[select.value]);
    select.value = '';
  });
  // a new limit asks for a new recording of the run
  $('limit').addEventListener('change', () => {
    limit();
    if (state.running) return;
    recording = null;
    set({ machine: null });
  });
  // a program link set in this tab (the address bar, location.hash) loads
  window.addEventListener('hashchange', async () => {
    const shared = link.read();
    if (shared.error) ed.setText(page.editor, '');
    else if (shared.text !== null && shared.text !== state.source) ed.setText(page.editor, shared.text);
    $('notice').textContent = shared.error ?? '';
    link.settle();
    // a lesson link's moment, once its program is compiled
    if (shared.moment && Object.keys(shared.moment).length) {
      if (!state.compiled || state.compiled.source !== state.source) { clearTimeout(compileTimer); await compileNow(); }
      await moment.show(page, shared.moment);
    }
  });
  $('run').addEventListener('click', run);
  $('stop').addEventListener('click', stop);
  $('share').addEventListener('click', async () => {
    if (!link.store(state.source, true, tooLong, moment.current(page))) return;
    try { await navigator.clipboard.writeText(location.href); status('Link copied.'); }
    catch { status('The link is in the address bar.'); }
  });
  document.querySelector('[role=tablist]').addEventListener('keydown', tabKeys);
  for (const tab of document.querySelectorAll('[role=tab]')) {
    tab.addEventListener('click', () => showTab(tab.dataset.tab));
  }

  on((keys) => {
    if (keys.has('compiled')) {
      const c = state.compiled;
      ed.showError(page.editor, c && !c.ok ? c.error : null);
      $('message').textContent = c && !c.ok ? c.error.text : '';
      $('run').disabled = state.running || !c || !c.ok;
    }
    if (keys.has('running')) {
      $('run').disabled = state.running || !state.compiled?.ok;
      $('stop').disabled = !state.running;
    }
  });

  // the views in tasks of their own, so that loading the page never holds its thread long
  await tick();
  const views = await Promise.all([import('./views/listing.js'), import('./views/output.js'),
    import('./views/console.js'), import('./views/machine.js'), import('./views/store.js'),
    import('./views/replay.js'), import('./views/traces.js'), import('./views/predict.js'),
    import('./views/cmdinfo.js')]); // last: it hooks into the views before it
  for (const v of views) {
    await tick();
    v.mount(page);
  }
  showTab('output');
  await compileNow();
  if (shared.moment) await moment.show(page, shared.moment);
}

start();
