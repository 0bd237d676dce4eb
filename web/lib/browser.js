// The decoder in a browser: the WebAssembly module fetched from beside this
// file, compiled while it arrives where the server names its type.
import { createQvx } from './core.js';

async function instantiate(url) {
  if (WebAssembly.instantiateStreaming) {
    try {
      return (await WebAssembly.instantiateStreaming(fetch(url))).instance;
    } catch (error) {
      // A server that sends another type than application/wasm: compiled
      // from the whole bytes below.
    }
  }
  const response = await fetch(url);
  if (!response.ok) throw new Error(`qvx.wasm could not be loaded: ${response.status}`);
  return (await WebAssembly.instantiate(await response.arrayBuffer())).instance;
}

const instance = await instantiate(new URL('./qvx.wasm', import.meta.url));

export const { decode, info, createDecoder } = createQvx(instance);
export { QvxError, DEFAULT_MAX_PIXELS } from './core.js';
