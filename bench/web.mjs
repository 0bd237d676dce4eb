// The web decoder's speed, as ratios against baselines measured in the same
// run, on one 4096 x 4096 24-bit picture:
//   Node: decode() to RGBA against the native core's row decoder
//         (QvxDecodeRows into RGBA, build/native/web_bench_native);
//   Chromium: decode() and putImageData on a canvas, read back with
//         getImageData, against createImageBitmap of the same picture as
//         BMP, drawn on a canvas and read back the same way.
// Run by bench/web.sh after a build; prints the fastest and median times.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { chromiumPath, launch, openPage, serve } from '../web/test/chromium.mjs';

const [packageDir, nativeBench] = process.argv.slice(2);
const RUNS = 15;
const SIDE = 4096;

// The picture: a BMP of smooth colour with some noise, and its QVX form
// (the headers and the pixel bytes before offset 100 complemented).
function pictures() {
  const stride = SIDE * 3, bmp = new Uint8Array(54 + stride * SIDE), view = new DataView(bmp.buffer);
  bmp.set([0x42, 0x4d]);
  view.setUint32(2, bmp.length, true);
  view.setUint32(10, 54, true);
  view.setUint32(14, 40, true);
  view.setInt32(18, SIDE, true);
  view.setInt32(22, SIDE, true);
  view.setUint16(26, 1, true);
  view.setUint16(28, 24, true);
  view.setUint32(34, stride * SIDE, true);
  let seed = 1;
  for (let y = 0; y < SIDE; y++) {
    for (let x = 0; x < SIDE; x++) {
      seed = (seed * 1103515245 + 12345) >>> 0;
      const at = 54 + y * stride + 3 * x, noise = seed >>> 28;
      bmp[at] = (x >> 4) + noise, bmp[at + 1] = (y >> 4) + noise, bmp[at + 2] = ((x + y) >> 5) + noise;
    }
  }
  const qvx = Uint8Array.from(bmp);
  for (let i = 0; i < 100; i++) qvx[i] = ~qvx[i];
  return { bmp, qvx };
}

function stats(times) {
  const sorted = [...times].sort((a, b) => a - b);
  return { min: sorted[0], median: sorted[sorted.length >> 1] };
}

const ms = (value) => `${value.toFixed(1)} ms`;

const dir = mkdtempSync(join(tmpdir(), 'tavko-web-bench-'));
try {
  const { bmp, qvx } = pictures();
  writeFileSync(join(dir, 'picture.qvx'), qvx);
  writeFileSync(join(dir, 'picture.bmp'), bmp);

  const native = JSON.parse(execFileSync(nativeBench, [join(dir, 'picture.qvx'), String(RUNS)]).toString());
  const { decode } = await import(join(packageDir, 'lib/node.js'));
  decode(qvx);
  const times = [];
  for (let run = 0; run < RUNS; run++) {
    const start = performance.now();
    decode(qvx);
    times.push(performance.now() - start);
  }
  const node = stats(times);
  console.log(`4096 x 4096, 24-bit, to RGBA (fastest of ${RUNS}; median)`);
  console.log(`  native QvxDecodeRows      ${ms(native.min)}; ${ms(native.median)}`);
  console.log(`  Node decode() (wasm)      ${ms(node.min)}; ${ms(node.median)}`);
  console.log(`  ratio Node / native       ${(node.min / native.min).toFixed(2)}; ${(node.median / native.median).toFixed(2)}`);

  if (!chromiumPath()) {
    console.log('  Chromium: not installed, not measured');
  } else {
    const page = `<!doctype html><canvas id="c" width="${SIDE}" height="${SIDE}"></canvas><script type="module">
      import { decode } from '/package/lib/browser.js';
      const [qvx, bmp] = await Promise.all(['picture.qvx', 'picture.bmp'].map(
        async (name) => new Uint8Array(await (await fetch('/pictures/' + name)).arrayBuffer())));
      const context = document.getElementById('c').getContext('2d', { willReadFrequently: true });
      const ways = {
        async qvx() {
          const picture = decode(qvx);
          context.putImageData(new ImageData(picture.data, picture.width, picture.height), 0, 0);
          return context.getImageData(0, 0, ${SIDE}, ${SIDE}).data[0];
        },
        async bmp() {
          const bitmap = await createImageBitmap(new Blob([bmp], { type: 'image/bmp' }));
          context.drawImage(bitmap, 0, 0);
          bitmap.close();
          return context.getImageData(0, 0, ${SIDE}, ${SIDE}).data[0];
        },
      };
      window.measure = async (runs) => {
        const times = { qvx: [], bmp: [] };
        for (let run = -1; run < runs; run++) {
          for (const way of ['qvx', 'bmp']) {
            const start = performance.now();
            await ways[way]();
            if (run >= 0) times[way].push(performance.now() - start);
          }
        }
        return times;
      };
    </script>`;
    const server = await serve({ '/package/': `${packageDir}/`, '/pictures/': `${dir}/` }, { '/bench.html': page });
    const browser = await launch();
    try {
      const tab = await openPage(browser, `${server.origin}/bench.html`);
      await tab.evaluate('new Promise((resolve) => { const wait = () => window.measure ? resolve() : setTimeout(wait, 50); wait(); })');
      const times = await tab.evaluate(`window.measure(${RUNS})`);
      const ours = stats(times.qvx), theirs = stats(times.bmp);
      console.log(`  Chromium decode + putImageData + read back      ${ms(ours.min)}; ${ms(ours.median)}`);
      console.log(`  Chromium BMP createImageBitmap + draw + read back ${ms(theirs.min)}; ${ms(theirs.median)}`);
      console.log(`  ratio QVX / BMP           ${(ours.min / theirs.min).toFixed(2)}; ${(ours.median / theirs.median).toFixed(2)}`);
    } finally {
      await browser.close();
      server.close();
    }
  }
} finally {
  rmSync(dir, { recursive: true, force: true });
}
