// The npm package under Node: every sample and seed whole and streamed
// against `tavko decode`, mutated seeds, the reasons of refused files, the
// instance after a refusal, and the package as npm packs it.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { basename, join } from 'node:path';
import { test } from 'node:test';
import v8 from 'node:v8';
import vm from 'node:vm';

import { expectedPixels, packageDir, pictures, sourceDir, withSize } from './helpers.mjs';

const { decode, info, createDecoder, QvxError } = await import(join(packageDir, 'lib/node.js'));

const CHUNKS = [1, 7, 251, 4093, 65536];
const REASONS = ['not-qvx', 'truncated', 'too-large', 'no-memory'];
const card24 = readFileSync(join(sourceDir, 'samples/card24.qvx'));

// Feeds bytes in pieces of chunk bytes; the picture end() gives, and the
// same picture put together from the rows reported on the way.
function stream(bytes, chunk, options) {
  let drawn = null;
  const decoder = createDecoder({
    ...options,
    onHeader: ({ width, height }) => (drawn = new Uint8Array(width * height * 4)),
    onRows: ({ y, width, height, data }) => {
      assert.equal(data.length, width * height * 4);
      drawn.set(data, y * width * 4);
    },
  });
  for (let at = 0; at < bytes.length; at += chunk) decoder.push(bytes.subarray(at, at + chunk));
  const picture = decoder.end();
  return { picture, drawn };
}

// The QvxError a call throws; fails on anything else.
function refusal(call) {
  try {
    call();
  } catch (error) {
    assert.ok(error instanceof QvxError, `not a QvxError: ${error && error.stack}`);
    assert.ok(REASONS.includes(error.reason), `reason ${error.reason}`);
    return error.reason;
  }
  assert.fail('no QvxError');
}

function assertUsable() {
  assert.equal(decode(card24).data.length, 160 * 120 * 4);
}

test('every sample and seed, whole and streamed, as tavko decodes it', () => {
  const files = pictures();
  const expected = expectedPixels(files);
  assert.ok(expected.get(files[0]), 'tavko decoded the first sample');
  for (const file of files) {
    const bytes = readFileSync(file);
    const name = basename(file);
    const want = expected.get(file);
    if (want === null) {
      refusal(() => decode(bytes));
      for (const chunk of CHUNKS) refusal(() => stream(bytes, chunk));
      assertUsable();
      continue;
    }
    const whole = decode(bytes);
    assert.deepEqual([whole.width, whole.height], [want.width, want.height], name);
    assert.ok(Buffer.from(whole.data).equals(Buffer.from(want.rgba)), `${name}: pixels`);
    const head = info(bytes.subarray(0, 64));
    assert.deepEqual({ ...head, data: whole.data }, whole, `${name}: info`);
    for (const chunk of CHUNKS) {
      const { picture, drawn } = stream(bytes, chunk);
      assert.ok(Buffer.from(picture.data).equals(Buffer.from(want.rgba)), `${name} in pieces of ${chunk}: pixels`);
      assert.ok(Buffer.from(drawn).equals(Buffer.from(want.rgba)), `${name} in pieces of ${chunk}: rows`);
    }
  }
});

test('mutated seeds give a picture or a QvxError, the same whole and streamed', () => {
  let state = 7;
  const random = (n) => ((state = (Math.imul(state, 1103515245) + 12345) >>> 0) >>> 8) % n;
  const options = { maxPixels: 2 ** 22 };
  const outcome = (run) => {
    try {
      return createHash('sha256').update(run().data).digest('hex');
    } catch (error) {
      assert.ok(error instanceof QvxError, `not a QvxError: ${error && error.stack}`);
      return 'refused';
    }
  };
  for (const file of pictures()) {
    const original = readFileSync(file);
    for (let round = 0; round < 4; round++) {
      const bytes = Uint8Array.from(original);
      for (let flip = 0; flip < 3; flip++) bytes[random(Math.min(bytes.length, 128))] ^= 1 << random(8);
      const whole = outcome(() => decode(bytes, options));
      assert.equal(outcome(() => stream(bytes, 7, options).picture), whole, `${basename(file)}, round ${round}`);
    }
  }
  assertUsable();
});

test('refused files say why, whole and streamed, and the next decode works', () => {
  const card8 = readFileSync(join(sourceDir, 'samples/card8.qvx'));
  const huge = withSize(card24, 40000, 30000);
  const cases = [
    // name, bytes, options, whole decode's reason, streamed reason
    ['empty', new Uint8Array(0), {}, 'not-qvx', 'not-qvx'],
    ['PNG', readFileSync(join(sourceDir, 'docs/card8.png')), {}, 'not-qvx', 'not-qvx'],
    ['plain BMP', readFileSync(join(sourceDir, 'tests/data/bmpsuite/g/pal8.bmp')), {}, 'not-qvx', 'not-qvx'],
    ['ends in the header', card24.subarray(0, 40), {}, 'not-qvx', 'not-qvx'],
    ['ends in the colour table', card8.subarray(0, 300), {}, 'truncated', 'truncated'],
    ['ends in the rows', card24.subarray(0, card24.length - 1), {}, 'truncated', 'truncated'],
    ['over maxPixels', card24, { maxPixels: 160 * 120 - 1 }, 'too-large', 'too-large'],
    ['over the default limit', withSize(card24, 20000, 20000), {}, 'truncated', 'too-large'],
    ['more than memory holds', huge, { maxPixels: Infinity }, 'truncated', 'no-memory'],
  ];
  for (const [name, bytes, options, whole, streamed] of cases) {
    assert.equal(refusal(() => decode(bytes, options)), whole, name);
    assertUsable();
    for (const chunk of [1, 4093]) assert.equal(refusal(() => stream(bytes, chunk, options)), streamed, name);
    assertUsable();
  }
  assert.equal(refusal(() => info(new Uint8Array(17))), 'not-qvx');
  assert.equal(decode(card24, { maxPixels: 160 * 120 }).width, 160);
  assert.throws(() => decode('card24.qvx'), TypeError);
});

test('a decoder after a refusal repeats it, and one that ended says so', () => {
  const decoder = createDecoder();
  const first = refusal(() => decoder.push(new Uint8Array(64)));
  assert.equal(refusal(() => decoder.push(card24)), first);
  const done = createDecoder();
  done.push(card24);
  done.end();
  assert.throws(() => done.push(card24), /ended/);
});

test('decodes, refusals and abandoned decoders leave no memory taken in the instance', async () => {
  const { createQvx } = await import(join(packageDir, 'lib/core.js'));
  const { instance } = await WebAssembly.instantiate(readFileSync(join(packageDir, 'lib/qvx.wasm')));
  const qvx = createQvx(instance);
  const round = () => {
    for (let i = 0; i < 50; i++) {
      qvx.decode(card24);
      assert.throws(() => qvx.decode(card24.subarray(0, 5000)), QvxError);
      qvx.createDecoder().push(card24.subarray(0, 9000));
      qvx.info(card24);
    }
  };
  // The dropped decoders are collected between rounds.
  v8.setFlagsFromString('--expose-gc');
  const collect = vm.runInNewContext('gc');
  const settle = async () => {
    collect();
    await new Promise((resolve) => setTimeout(resolve, 20));
  };
  round();
  await settle();
  const taken = instance.exports.memory.buffer.byteLength;
  for (let i = 0; i < 4; i++) {
    round();
    await settle();
  }
  assert.equal(instance.exports.memory.buffer.byteLength, taken);
});

test('npm packs the package with its module', { skip: !hasNpm() && 'npm is not installed' }, () => {
  const [packed] = JSON.parse(execFileSync('npm', ['pack', '--dry-run', '--json'], { cwd: packageDir }).toString());
  const files = new Map(packed.files.map((file) => [file.path, file.size]));
  const wanted = ['package.json', 'index.d.ts', 'lib/node.js', 'lib/browser.js', 'lib/core.js', 'viewer/qvx-worker.js'];
  for (const path of wanted) assert.ok(files.has(path), path);
  assert.ok(files.get('lib/qvx.wasm') <= 96 * 1024, `qvx.wasm: ${files.get('lib/qvx.wasm')} bytes`);
  console.log(`${packed.filename}: ${packed.size} bytes packed, ${packed.unpackedSize} unpacked, ` +
    `qvx.wasm ${files.get('lib/qvx.wasm')} bytes`);
});

function hasNpm() {
  try {
    execFileSync('npm', ['--version'], { stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
}
