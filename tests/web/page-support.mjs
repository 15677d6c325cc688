// What the page tests share: the console program's results, and acting on the editor.
import { spawnSync } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { native, root } from './harness.mjs';

// A picture for the tour in docs/playground.md: written to build-web/shots/, and with
// TOV_SHOTS=1 to docs/img/ (then commit it).
export async function shot(page, name) {
  const dir = process.env.TOV_SHOTS === '1' ? join(root, 'docs/img') : join(root, 'build-web/shots');
  mkdirSync(dir, { recursive: true });
  await page.screenshot({ path: join(dir, `${name}.png`) });
}

// Runs the console program on a source; its three results as text.
export function console_(source, args = []) {
  const r = spawnSync(native, args, { input: source });
  return { status: r.status, stdout: r.stdout.toString('latin1'), stderr: r.stderr.toString('latin1') };
}

// Replaces the editor's text as a paste does.
export async function setSource(page, text) {
  await page.click('.cm-content');
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  if (text) await page.keyboard.insertText(text);
}

export async function waitText(page, selector, want) {
  await page.waitForFunction(([s, w]) => document.querySelector(s)?.textContent.includes(w),
    [selector, want]);
}

// Waits until the listing is that of source, as the console lists it.
export async function waitListing(page, source) {
  const rows = lines(console_(source).stdout);
  await page.waitForFunction(([n, last]) => {
    const all = document.querySelectorAll('#listing .row');
    return all.length === n && all[n - 1].textContent.startsWith(last);
  }, [rows.length, rows.at(-1)]);
}

export const editorText = (page) => page.locator('.cm-line').allTextContents().then((l) => l.join('\n'));

export const lines = (s) => s.split('\r\n').filter((l, i, a) => i < a.length - 1 || l !== '');
