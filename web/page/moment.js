// A lesson's moment, which a link holds besides the program (link.js): the open view,
// the machine's step, the replay's event, predict mode and the editor's selection.
import { state, set } from './state.js';

// The moment the page shows now.
export function current(page) {
  const m = { tab: state.tab };
  if (state.machine) m.step = state.machine.step;
  const events = state.compiled?.ok ? state.compiled.events.length : null;
  // the replay stands at the end unless moved
  if (events !== null && (state.replay !== events || state.tab === 'replay')) m.event = state.replay;
  if (state.predict) m.predict = true;
  const s = page.editor?.state.selection.main;
  if (s && (s.anchor || s.head)) m.sel = [s.anchor, s.head];
  return m;
}

// Shows moment m of the program just compiled: the selection (which marks its commands
// in the listing), the mode, the view, the replay at its event and the machine recorded
// and at its step.
export async function show(page, m) {
  // no selection in the link: the cursor at the start, as on a page opened afresh
  const [anchor, head] = m.sel ?? [0, 0], n = page.editor.state.doc.length;
  page.editor.dispatch({ selection: { anchor: Math.min(anchor, n), head: Math.min(head, n) },
    scrollIntoView: true });
  set({ predict: m.predict === true });
  if (m.tab && document.getElementById(`tab-${m.tab}`)) page.showTab(m.tab);
  if (!state.compiled?.ok) return;
  if (m.event !== undefined) set({ replay: Math.min(m.event, state.compiled.events.length) });
  if (m.step !== undefined && await page.record()) set({ machine: await page.call('goto', { step: m.step }) });
}
