// The benchmark's worker: runs a program with -x through the module, as the
// page's worker does, once for each limit, and reports the time each run took
// inside the worker.
import { load } from '/tov.mjs';

const ready = load();

self.onmessage = async ({ data: { source, limits } }) => {
  const tov = await ready;
  const runs = [];
  for (const limit of limits) {
    const t0 = performance.now();
    const r = tov.run(['-x', 'p.tov'], '', { 'p.tov': source }, { limit });
    const ms = performance.now() - t0;
    runs.push({ ms, steps: r.steps, status: r.status, limited: r.limited, traceBytes: r.stderr.length });
  }
  self.postMessage(runs);
};
