// The decoder in Node: the WebAssembly module read from beside this file.
import { readFile } from 'node:fs/promises';

import { createQvx } from './core.js';

const { instance } = await WebAssembly.instantiate(await readFile(new URL('./qvx.wasm', import.meta.url)));

export const { decode, info, createDecoder } = createQvx(instance);
export { QvxError, DEFAULT_MAX_PIXELS } from './core.js';
