// The JavaScript side of the decoder: bytes into the WebAssembly memory,
// statuses into QvxError, RGBA rows out. The same text runs in Node, in a
// page and, inlined, in the viewer's worker.

// Pictures of more pixels are refused unless the caller allows them.
export const DEFAULT_MAX_PIXELS = 2 ** 28;

// The bytes info() copies: enough for every header form.
const HEADER_BYTES = 64;

const REASONS = { 2: 'not-qvx', 3: 'truncated', 4: 'no-memory' };
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
  if (typeof maxPixels !== 'number' || !(maxPixels >= 0))
    throw new TypeError('maxPixels must be a number of at least 0');
  return maxPixels;
}

// Pixels per metre as dots per inch, to a hundredth; null when not stored.
function dpiOf(ppm) {
  return ppm > 0 ? Math.round(ppm * 2.54) / 100 : null;
}

// The most bytes a picture's RGBA data may take: 4 GiB less a byte, which
// one typed array holds in every engine the package runs on.
const MAX_DATA_BYTES = 2 ** 32 - 1;

// The bytes copied into the instance before the headers are known.
const HEAD_PIECE = 64 * 1024;

// The decoder over an instance of qvx.wasm.
export function createQvx(instance) {
  const w = instance.exports;
  if (w._initialize) w._initialize();

  // A decoder dropped without end() or close() gives its memory back once
  // it is collected.
  const dropped =
    typeof FinalizationRegistry === 'function' ? new FinalizationRegistry((handle) => w.qvx_close(handle)) : null;

  function open() {
    const handle = w.qvx_open();
    if (!handle) throw new QvxError('no-memory');
    return handle;
  }

  // Copies bytes to the decode's input; false when no memory is left for them.
  function load(handle, bytes) {
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

  // A decode fed piece by piece; total is the file's whole length when it
  // is known, so that a short file is refused before its picture is made.
  function decoder(options, total) {
    const maxPixels = limitOf(options);
    const onHeader = options && options.onHeader;
    const onRows = options && options.onRows;
    let handle = open();
    let header = null, data = null, bytes = null, rowsDone = 0, piece = 0, failure = null;

    function release() {
      if (handle) w.qvx_close(handle);
      if (handle && dropped) dropped.unregister(api);
      handle = 0;
    }
    function fail(reason) {
      release();
      failure = new QvxError(reason);
      throw failure;
    }
    function check(status) {
      if (status !== 0) fail(reasonOf(status));
    }
    function usable() {
      if (failure) throw failure;
      if (!handle) throw new Error('the decoder has ended');
    }

    // The headers are in: the picture is refused, or made before any row.
    function begin() {
      const picture = describe(handle);
      const pixels = picture.width * picture.height;
      if (total !== undefined && w.qvx_picture_bytes(handle) > total) fail('truncated');
      if (pixels > maxPixels) fail('too-large');
      if (4 * pixels > MAX_DATA_BYTES) fail('no-memory');
      try {
        data = new Uint8ClampedArray(4 * pixels);
      } catch {
        fail('no-memory');
      }
      bytes = new Uint8Array(data.buffer);
      check(w.qvx_begin(handle));
      piece = w.qvx_piece_bytes(handle);
      header = picture;
      if (onHeader) onHeader({ ...header });
      collect();
    }

    // Copies the rows completed since the last look out of the ring.
    function collect() {
      const done = w.qvx_rows_done(handle);
      if (done === rowsDone) return;
      const rows = done - rowsDone, rowBytes = 4 * header.width;
      // Rows go top row first: a bottom-up file fills the picture from the bottom.
      const y = header.topDown ? rowsDone : header.height - done;
      const ring = w.qvx_ring(handle), ringRows = w.qvx_ring_rows(handle), memory = w.memory.buffer;
      for (let row = y; row < y + rows; ) {
        const slot = row % ringRows, run = Math.min(y + rows - row, ringRows - slot);
        bytes.set(new Uint8Array(memory, ring + slot * rowBytes, run * rowBytes), row * rowBytes);
        row += run;
      }
      rowsDone = done;
      if (onRows)
        onRows({ y, width: header.width, height: rows, data: data.slice(y * rowBytes, (y + rows) * rowBytes) });
    }

    const api = {
      get info() {
        return header && { ...header };
      },
      get rowsDone() {
        return rowsDone;
      },
      push(chunk) {
        usable();
        let rest = bytesOf(chunk);
        // Bytes after the last row are not taken.
        while (rest.length > 0 && !(header && rowsDone === header.height)) {
          const part = rest.subarray(0, header ? piece : HEAD_PIECE);
          if (!load(handle, part)) fail('no-memory');
          check(w.qvx_feed(handle, part.length));
          rest = rest.subarray(w.qvx_used(handle));
          if (header) collect();
          else if (w.qvx_known(handle)) begin();
        }
      },
      end() {
        usable();
        check(w.qvx_finish(handle));
        release();
        return { ...header, data };
      },
      close() {
        release();
      },
    };
    if (dropped) dropped.register(api, handle, api);
    return api;
  }

  function decode(input, options) {
    const bytes = bytesOf(input);
    const whole = decoder({ maxPixels: limitOf(options) }, bytes.length);
    whole.push(bytes);
    return whole.end();
  }

  function info(input) {
    const head = bytesOf(input).subarray(0, HEADER_BYTES);
    const handle = open();
    try {
      if (!load(handle, head)) throw new QvxError('no-memory');
      const status = w.qvx_info(handle, head.length);
      if (status !== 0) throw new QvxError(reasonOf(status));
      return describe(handle);
    } finally {
      w.qvx_close(handle);
    }
  }

  function createDecoder(options) {
    return decoder(options);
  }

  return { decode, info, createDecoder };
}
