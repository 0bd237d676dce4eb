// What the web tests share: where things are, the pictures, and the pixels
// that `tavko decode` gives for them.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const sourceDir = process.env.TAVKO_SOURCE_DIR || resolve(fileURLToPath(import.meta.url), '../../..');
export const packageDir = process.env.TAVKO_WEB_PACKAGE || join(sourceDir, 'build/native/web/package');
export const outDir = process.env.TAVKO_WEB_OUT || join(sourceDir, 'build/native/web');
export const tool = process.env.TAVKO_TOOL || join(sourceDir, 'build/native/tavko');

// The samples, and every seed of the fuzzers: the BMP Suite's pictures as
// QVX files (good and bad) and the edge cases.
export function pictures() {
  const list = (dir, skip) =>
    readdirSync(dir)
      .filter((name) => name.endsWith('.qvx') && !skip.test(name))
      .sort()
      .map((name) => join(dir, name));
  return [...list(join(sourceDir, 'samples'), /^$/), ...list(join(sourceDir, 'fuzz/seeds'), /^sample-/)];
}

// A 24-bit or paletted BMP as `tavko decode --format bmp` writes it, as RGBA
// top row first.
export function readBmp(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const offBits = view.getUint32(10, true), headerSize = view.getUint32(14, true);
  const width = view.getInt32(18, true), stored = view.getInt32(22, true), bits = view.getUint16(28, true);
  const height = Math.abs(stored), stride = Math.ceil((width * bits) / 32) * 4;
  const rgba = new Uint8Array(width * height * 4);
  for (let y = 0; y < height; y++) {
    const row = offBits + (stored < 0 ? y : height - 1 - y) * stride;
    for (let x = 0; x < width; x++) {
      let b, g, r;
      if (bits === 24) {
        [b, g, r] = bytes.subarray(row + 3 * x, row + 3 * x + 3);
      } else {
        const index = (bytes[row + ((x * bits) >> 3)] >> (8 - bits - ((x * bits) & 7))) & ((1 << bits) - 1);
        [b, g, r] = bytes.subarray(14 + headerSize + 4 * index, 14 + headerSize + 4 * index + 3);
      }
      rgba.set([r, g, b, 255], 4 * (y * width + x));
    }
  }
  return { width, height, rgba };
}

// What `tavko decode` makes of each file: its RGBA pixels, or null when it
// refuses the file.
export function expectedPixels(files) {
  const dir = mkdtempSync(join(tmpdir(), 'tavko-web-'));
  try {
    try {
      execFileSync(tool, ['decode', '-q', '--format', 'bmp', '-d', dir, ...files], { stdio: 'ignore' });
    } catch {
      // Some files are refused; each one's output is missing below.
    }
    const expected = new Map();
    for (const file of files) {
      const out = join(dir, basename(file).replace(/\.qvx$/, '.bmp'));
      expected.set(file, existsSync(out) ? readBmp(readFileSync(out)) : null);
    }
    return expected;
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// A copy of a QVX file whose header says another size (the header is
// stored complemented).
export function withSize(bytes, width, height) {
  const copy = Uint8Array.from(bytes);
  const view = new DataView(copy.buffer);
  view.setInt32(18, ~width, true);
  view.setInt32(22, ~height, true);
  return copy;
}
