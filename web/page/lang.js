// Highlighting for tov sources, the editor's one tokenizer: its tokens give both the
// colours and, through the syntax tree, the length of the token at a compiler position.
// Comments nest, so the mode keeps the comment depth across lines. Which words are
// keywords, type names and constants comes from the module (words()).
import { StreamLanguage, StringStream } from '@codemirror/language';

// Consumes comment text up to the close of the outermost open comment or the end of the line.
function comment(stream, state) {
  while (!stream.eol()) {
    if (stream.match('(*')) state.depth++;
    else if (stream.match('*)')) { if (--state.depth === 0) break; }
    else stream.next();
  }
  return 'comment';
}

// The tokenizer for the module's constants (null: before they arrive, every word a name).
function parser(constants) {
  const keywords = new Set(constants?.keywords ?? []);
  const types = new Set(Object.keys(constants?.typeNames ?? {}));
  const consts = new Set(Object.keys(constants?.constNames ?? {}));
  return {
    name: 'tov',
    startState: () => ({ depth: 0 }),
    copyState: (s) => ({ depth: s.depth }),
    token(stream, state) {
      if (state.depth > 0) return comment(stream, state);
      // Every control byte, the blank, DEL and every non-ASCII character count as white space.
      if (stream.eatWhile(/[\u0000-\u0020\u007f-\uffff]/)) return null;
      if (stream.match('(*')) { state.depth = 1; return comment(stream, state); }
      // A number runs on over letters, as the compiler reads it.
      if (stream.match(/^[0-9][A-Za-z0-9]*/)) return 'number';
      const word = stream.match(/^[A-Za-z][A-Za-z0-9]*/);
      if (word) {
        const w = word[0];
        if (keywords.has(w)) return 'keyword';
        if (types.has(w)) return 'typeName';
        if (consts.has(w)) return 'bool';
        return 'variableName';
      }
      if (stream.match(/^(:=|<=|>=|<>|[#&*+\-/<=>|~])/)) return 'operator';
      if (stream.match(/^[():;.]/)) return 'punctuation';
      stream.next();
      return 'invalid';
    },
    languageData: { commentTokens: { block: { open: '(*', close: '*)' } } },
  };
}

export const tovLanguage = (constants) => StreamLanguage.define(parser(constants));

const plain = parser(null);

// The length of the token at offset `at` of the line `text`, as the same tokenizer reads
// it outside a comment (the compiler names no token inside one); 1 where it has none.
export function tokenLength(text, at) {
  const stream = new StringStream(text, 4, 2);
  stream.pos = stream.start = at;
  if (at >= text.length) return 0;
  const style = plain.token(stream, plain.startState());
  return style && stream.pos > at ? stream.pos - at : 1;
}
