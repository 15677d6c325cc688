// The source editor: CodeMirror with the tov mode, the compile error as a diagnostic and
// decoration layers that the views use to point at source text.
import { EditorView, basicSetup } from 'codemirror';
import { EditorState, StateEffect, StateField, Compartment } from '@codemirror/state';
import { Decoration } from '@codemirror/view';
import { setDiagnostics } from '@codemirror/lint';
import { tovLanguage, tokenLength as lineTokenLength } from './lang.js';

// Document offset of a compiler position: lines count line feeds only, and every byte of
// the UTF-8 text counts one column, as the compiler counts them.
function offsetOf(doc, line, col) {
  if (line > doc.lines) return doc.length;
  const l = doc.line(Math.max(1, line));
  let bytes = 0, i = 0;
  while (i < l.text.length && bytes < col - 1) {
    const cp = l.text.codePointAt(i);
    bytes += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
    i += cp > 0xffff ? 2 : 1;
  }
  return l.from + i;
}

// Length of the token that starts at offset, as the language mode reads it.
export function tokenLength(state, at) {
  const line = state.doc.lineAt(at);
  return lineTokenLength(line.text, at - line.from);
}

const language = new Compartment();

// Colours the words the module names: keywords, type names, constants.
export function setWords(view, constants) {
  view.dispatch({ effects: language.reconfigure(tovLanguage(constants)) });
}

// A named set of decorations that a view replaces as a whole.
function layer() {
  const put = StateEffect.define();
  const field = StateField.define({
    create: () => Decoration.none,
    update(deco, tr) {
      deco = deco.map(tr.changes);
      for (const e of tr.effects) if (e.is(put)) deco = e.value;
      return deco;
    },
    provide: (f) => EditorView.decorations.from(f),
  });
  return { put, field };
}

const layers = {};
for (const name of ['colors', 'linked', 'mark', 'step', 'fault', 'token']) layers[name] = layer();

export function createEditor(parent, doc, onChange, onSelect) {
  const view = new EditorView({
    parent,
    state: EditorState.create({
      doc,
      extensions: [
        later.of([]),
        language.of(tovLanguage(null)),
        // The compiler ends lines at line feeds only; a lone carriage return stays a character.
        EditorState.lineSeparator.of('\n'),
        EditorView.contentAttributes.of({ 'aria-label': 'Program source', tabindex: '0' }),
        Object.values(layers).map((l) => l.field),
        EditorView.updateListener.of((u) => {
          if (u.docChanged) onChange(u.state.doc.toString());
          if (u.selectionSet || u.docChanged) onSelect(u.state);
        }),
      ],
    }),
  });
  // the rest of the editor's setup (gutters, history, keys, search…) in a later task:
  // CodeMirror's own setup and layout of all of it at once is a long task
  setTimeout(() => view.dispatch({ effects: later.reconfigure(basicSetup) }));
  return view;
}
const later = new Compartment();

export function setText(view, text) {
  view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: text } });
}

// Replaces layer `name` with decorations built from [{from, to, cls}] (a range) or
// [{line, cls}] (a whole line). Ranges must not be empty.
export function decorate(view, name, items) {
  const ranges = [];
  for (const it of items) {
    if (it.line !== undefined) {
      const l = view.state.doc.line(Math.min(Math.max(1, it.line), view.state.doc.lines));
      ranges.push(Decoration.line({ class: it.cls }).range(l.from));
    } else if (it.to > it.from) {
      ranges.push(Decoration.mark({ class: it.cls }).range(it.from, it.to));
    }
  }
  // the views decorate one after another on one change: the editor updates once
  if (!queued.has(view)) {
    queued.set(view, []);
    queueMicrotask(() => {
      const effects = queued.get(view);
      queued.delete(view);
      view.dispatch({ effects });
    });
  }
  queued.get(view).push(layers[name].put.of(Decoration.set(ranges, true)));
}
const queued = new Map();

// The source range of the token at a compiler position.
export function tokenRange(view, line, col) {
  const from = offsetOf(view.state.doc, line, col);
  return { from, to: from + tokenLength(view.state, from) };
}

export function reveal(view, from) {
  view.dispatch({ effects: EditorView.scrollIntoView(from, { y: 'nearest' }) });
}

// Shows the compile error (or none) as a diagnostic at its position.
export function showError(view, error) {
  const diags = [];
  if (error) {
    const { from, to } = tokenRange(view, error.line, error.col);
    diags.push({ from, to: Math.max(to, from), severity: 'error', message: error.text });
  }
  view.dispatch(setDiagnostics(view.state, diags));
}
