// The viewer page in a real headless Chromium, served from 127.0.0.1:
// pictures opened through the file input and by a drop, each canvas's
// pixels against `tavko decode`, the message for bad files, a PNG saved
// with one click, no request beyond the page's own files, a screenshot; and
// the page opened from its folder on disk; and the package's browser module.
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createHash } from 'node:crypto';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { chromiumPath, launch, openPage, serve } from './chromium.mjs';
import { expectedPixels, outDir, packageDir, sourceDir } from './helpers.mjs';

const samples = readdirSync(join(sourceDir, 'samples')).filter((name) => name.endsWith('.qvx')).sort();

// Resolves once the page shows count cards and none is still decoding.
const SETTLED = (count) => `new Promise((resolve) => {
  const check = () => {
    const cards = [...document.querySelectorAll('.card')];
    if (cards.length >= ${count} && cards.every((card) => card.dataset.state !== 'decoding')) resolve(true);
    else setTimeout(check, 50);
  };
  check();
})`;

// Every card: its name, state, texts and a digest of its canvas's pixels.
const CARDS = `Promise.all([...document.querySelectorAll('.card')].map(async (card) => {
  const canvas = card.querySelector('canvas');
  let digest = null, size = null;
  if (canvas) {
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    const hash = new Uint8Array(await crypto.subtle.digest('SHA-256', data));
    digest = [...hash].map((b) => b.toString(16).padStart(2, '0')).join('');
    size = [canvas.width, canvas.height];
  }
  const message = card.querySelector('.message');
  return { name: card.dataset.name, state: card.dataset.state, facts: card.querySelector('.facts').textContent,
    message: message && message.textContent, digest, size };
}))`;

// Drops files made in the page from the given bytes on the drop zone.
const DROP = (files) => `(() => {
  const transfer = new DataTransfer();
  for (const [name, base64] of ${JSON.stringify(files)})
    transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
  const zone = document.getElementById('drop');
  zone.dispatchEvent(new DragEvent('dragover', { dataTransfer: transfer, bubbles: true, cancelable: true }));
  zone.dispatchEvent(new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true }));
})()`;

test('the viewer and the browser module in Chromium', { skip: !chromiumPath() && 'chromium is not installed', timeout: 300000 }, async () => {
  const scratch = mkdtempSync(join(tmpdir(), 'tavko-viewer-'));
  const card24 = readFileSync(join(sourceDir, 'samples/card24.qvx'));
  writeFileSync(join(scratch, 'cut.qvx'), card24.subarray(0, 30000));
  writeFileSync(join(scratch, 'notes.qvx'), 'not a picture at all\n');
  const opened = [...samples.map((name) => join(sourceDir, 'samples', name)), join(scratch, 'cut.qvx')];
  const dropped = [
    ['dropped-card2.qvx', readFileSync(join(sourceDir, 'samples/card2.qvx')).toString('base64')],
    ['notes.qvx', readFileSync(join(scratch, 'notes.qvx')).toString('base64')],
  ];
  const expected = expectedPixels(samples.map((name) => join(sourceDir, 'samples', name)));
  const digestOf = (name) =>
    createHash('sha256').update(expected.get(join(sourceDir, 'samples', name)).rgba).digest('hex');

  // The package's browser module, as a page imports it.
  const modulePage = `<script type="module">
    import { decode } from '/package/lib/browser.js';
    const bytes = new Uint8Array(await (await fetch('/samples/card24.qvx')).arrayBuffer());
    const hash = new Uint8Array(await crypto.subtle.digest('SHA-256', decode(bytes).data));
    window.digest = [...hash].map((b) => b.toString(16).padStart(2, '0')).join('');
  </script>`;
  const server = await serve({ '/package/': `${packageDir}/`, '/samples/': `${join(sourceDir, 'samples')}/`,
    '/': `${join(packageDir, 'viewer')}/` }, { '/module.html': modulePage });
  const browser = await launch();
  try {
    const page = await openPage(browser, `${server.origin}/index.html`);
    const { result } = await browser.send('Runtime.evaluate', { expression: "document.getElementById('files')" },
      page.session);
    await browser.send('DOM.setFileInputFiles', { files: opened, objectId: result.objectId }, page.session);
    await page.evaluate(SETTLED(opened.length));
    await page.evaluate(DROP(dropped));
    await page.evaluate(SETTLED(opened.length + dropped.length));

    const cards = new Map((await page.evaluate(CARDS)).map((card) => [card.name, card]));
    assert.equal(cards.size, opened.length + dropped.length);
    for (const name of [...samples, 'dropped-card2.qvx']) {
      const card = cards.get(name);
      assert.equal(card.state, 'done', name);
      assert.deepEqual(card.size, [160, 120], name);
      assert.equal(card.digest, digestOf(name.replace('dropped-', '')), `${name}: canvas pixels`);
      assert.match(card.facts, /^160 × 120 pixels, \d+-bit, [\d.]+ KiB$/, name);
    }
    assert.match(cards.get('cut.qvx').message, /ends before the picture does/);
    assert.match(cards.get('notes.qvx').message, /not a QVX picture/);

    // One click on a card's button saves its picture as PNG.
    const downloads = join(scratch, 'downloads');
    await browser.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    await page.evaluate(`document.querySelector('.card[data-name="card8.qvx"] button.save').click()`);
    const saved = join(downloads, 'card8.png');
    for (let wait = 0; wait < 100 && !existsSync(saved); wait++) await new Promise((r) => setTimeout(r, 100));
    const png = readFileSync(saved);
    assert.equal(png.subarray(1, 4).toString(), 'PNG');
    assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [160, 120]);

    const foreign = page.requests.filter((url) => !url.startsWith(`${server.origin}/`) && !url.startsWith('blob:'));
    assert.deepEqual(foreign, []);

    // The whole page, for the documentation.
    const height = await page.evaluate('document.documentElement.scrollHeight');
    const metrics = { width: 1280, height, deviceScaleFactor: 1, mobile: false };
    await browser.send('Emulation.setDeviceMetricsOverride', metrics, page.session);
    const { data } = await browser.send('Page.captureScreenshot', { format: 'png' }, page.session);
    writeFileSync(join(outDir, 'viewer.png'), Buffer.from(data, 'base64'));

    const module = await openPage(browser, `${server.origin}/module.html`);
    const digest = await module.evaluate(`new Promise((resolve) => {
      const wait = () => (window.digest ? resolve(window.digest) : setTimeout(wait, 50));
      wait();
    })`);
    assert.equal(digest, digestOf('card24.qvx'), 'the browser module');

    // Opened from its folder, with no server, it works the same.
    const local = await openPage(browser, `file://${join(packageDir, 'viewer/index.html')}`);
    const input = await browser.send('Runtime.evaluate', { expression: "document.getElementById('files')" },
      local.session);
    await browser.send('DOM.setFileInputFiles', { files: [join(sourceDir, 'samples/card24.qvx')],
      objectId: input.result.objectId }, local.session);
    await local.evaluate(SETTLED(1));
    const [card] = await local.evaluate(CARDS);
    assert.equal(card.digest, digestOf('card24.qvx'), 'from a folder: canvas pixels');
  } finally {
    await browser.close();
    server.close();
    rmSync(scratch, { recursive: true, force: true });
  }
});
