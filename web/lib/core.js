// The JavaScript side of the decoder: bytes into the WebAssembly memory,
// statuses into QvxError, RGBA rows out. The same text runs in Node, in a
// page and, inlined, in the viewer's worker.

// Pictures of more pixels are refused unless the caller allows them.
export const DEFAULT_MAX_PIXELS = 2 ** 28;

// The bytes info() copies: enough for every header form.
const HEADER_BYTES = 64;

const REASONS = { 2: 'not-qvx', 3: 'truncated', 4: 'no-memory', 16: 'too-large' };
const MESSAGES = {
  'not-qvx': 'not a QVX picture',
  truncated: 'the picture data ends before its last row',
  'no-memory': 'not enough memory for the picture',
  'too-large': 'the picture has more pixels than allowed',
};

// Any other status means the core stopped on data it could not take.
function reasonOf(status) {
  return REASONS[status] || 'not-qvx';
}

export class QvxError extends Error {
  constructor(reason) {
    super(MESSAGES[reason] || reason);
    this.name = 'QvxError';
    this.reason = reason;
  }
}

function bytesOf(input) {
  if (input instanceof Uint8Array) return input;
  if (input instanceof ArrayBuffer) return new Uint8Array(input);
  if (ArrayBuffer.isView(input)) return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  throw new TypeError('expected a Uint8Array, an ArrayBuffer or another view of bytes');
}

function limitOf(options) {
  const maxPixels = options && options.maxPixels !== undefined ? options.maxPixels : DEFAULT_MAX_PIXELS;
  if (typeof maxPixels !== 'number' || !(maxPixels >= 0)) throw new TypeError('maxPixels must be a number of at least 0');
  return maxPixels;
}

// Pixels per metre as dots per inch, to a hundredth; null when not stored.
function dpiOf(ppm) {
  return ppm > 0 ? Math.round(ppm * 2.54) / 100 : null;
}

// The decoder over an instance of qvx.wasm.
export function createQvx(instance) {
  const w = instance.exports;
  if (w._initialize) w._initialize();

  function open(maxPixels, streamed) {
    const handle = w.qvx_open(maxPixels, streamed ? 1 : 0);
    if (!handle) throw new QvxError('no-memory');
    return handle;
  }

  // Copies bytes to the decode's input; false when no memory is left for them.
  function load(handle, bytes) {
    if (bytes.length > 0xffffffff) return false;
    const at = w.qvx_input(handle, bytes.length);
    if (!at && bytes.length > 0) return false;
    new Uint8Array(w.memory.buffer, at, bytes.length).set(bytes);
    return true;
  }

  function describe(handle) {
    const x = w.qvx_x_ppm(handle), y = w.qvx_y_ppm(handle);
    return {
      width: w.qvx_width(handle),
      height: w.qvx_height(handle),
      depth: w.qvx_bits(handle),
      topDown: w.qvx_top_down(handle) !== 0,
      dpi: x > 0 || y > 0 ? { x: dpiOf(x), y: dpiOf(y) } : null,
    };
  }

  // Copies rows [y, y + rows) of the decoded pixels out of the instance.
  function rowsOf(handle, width, y, rows) {
    const start = w.qvx_pixels(handle) + 4 * width * y;
    return new Uint8ClampedArray(w.memory.buffer, start, 4 * width * rows).slice();
  }

  function picture(handle) {
    const result = describe(handle);
    result.data = rowsOf(handle, result.width, 0, result.height);
    return result;
  }

  function decode(input, options) {
    const bytes = bytesOf(input);
    const handle = open(limitOf(options), false);
    try {
      if (!load(handle, bytes)) throw new QvxError('no-memory');
      const status = w.qvx_decode(handle, bytes.length);
      if (status !== 0) throw new QvxError(reasonOf(status));
      return picture(handle);
    } finally {
      w.qvx_close(handle);
    }
  }

  function info(input) {
    const bytes = bytesOf(input);
    const handle = open(0, false);
    try {
      const head = bytes.subarray(0, HEADER_BYTES);
      if (!load(handle, head)) throw new QvxError('no-memory');
      const status = w.qvx_info(handle, head.length);
      if (status !== 0) throw new QvxError(reasonOf(status));
      return describe(handle);
    } finally {
      w.qvx_close(handle);
    }
  }

  function createDecoder(options) {
    const onHeader = options && options.onHeader;
    const onRows = options && options.onRows;
    let handle = open(limitOf(options), true);
    let header = null, rowsDone = 0, failure = null;

    function release() {
      if (handle) w.qvx_close(handle);
      handle = 0;
    }
    function fail(reason) {
      release();
      failure = new QvxError(reason);
      throw failure;
    }
    function usable() {
      if (failure) throw failure;
      if (!handle) throw new Error('the decoder has ended');
    }
    // Tells the caller what the last piece completed.
    function report() {
      if (!header && w.qvx_known(handle)) {
        header = describe(handle);
        if (onHeader) onHeader(header);
      }
      const done = w.qvx_rows_done(handle);
      if (done === rowsDone) return;
      const rows = done - rowsDone;
      // Rows go top row first: a bottom-up file fills the picture from the bottom.
      const y = header.topDown ? rowsDone : header.height - done;
      rowsDone = done;
      if (onRows) onRows({ y, width: header.width, height: rows, data: rowsOf(handle, header.width, y, rows) });
    }

    return {
      get info() {
        return header;
      },
      get rowsDone() {
        return rowsDone;
      },
      push(chunk) {
        usable();
        const bytes = bytesOf(chunk);
        if (!load(handle, bytes)) fail('no-memory');
        const status = w.qvx_feed(handle, bytes.length);
        if (status !== 0) fail(reasonOf(status));
        report();
      },
      end() {
        usable();
        const status = w.qvx_finish(handle);
        if (status !== 0) fail(reasonOf(status));
        const result = picture(handle);
        release();
        return result;
      },
      close() {
        release();
      },
    };
  }

  return { decode, info, createDecoder };
}
