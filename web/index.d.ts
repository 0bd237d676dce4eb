// The QVX decoder: QVX pictures into RGBA pixels, whole or while they arrive.

/** Why a picture was refused. */
export type QvxReason = 'not-qvx' | 'truncated' | 'too-large' | 'no-memory';

export class QvxError extends Error {
  readonly name: 'QvxError';
  readonly reason: QvxReason;
}

/** Pictures of more pixels than this are refused unless maxPixels says otherwise: 2 ** 28. */
export const DEFAULT_MAX_PIXELS: number;

export interface QvxInfo {
  width: number;
  height: number;
  /** Stored bits per pixel: 1, 2, 4, 8, 16, 24 or 32. */
  depth: number;
  /** The file stores its top row first (the pixels come top row first either way). */
  topDown: boolean;
  /** The stored density in dots per inch, or null when the file stores none. */
  dpi: { x: number | null; y: number | null } | null;
}

export interface QvxPicture extends QvxInfo {
  /** RGBA, 4 bytes a pixel, top row first: ready for new ImageData(data, width, height). */
  data: Uint8ClampedArray;
}

export interface QvxOptions {
  /** The most pixels (width * height) accepted; DEFAULT_MAX_PIXELS when not given. */
  maxPixels?: number;
}

/** Rows just completed: rows y .. y + height - 1 of the picture, top row first. */
export interface QvxRows {
  y: number;
  width: number;
  height: number;
  data: Uint8ClampedArray;
}

export interface QvxDecoderOptions extends QvxOptions {
  /** Called once, as soon as the headers are in. */
  onHeader?: (info: QvxInfo) => void;
  /** Called after each piece that completed rows; a bottom-up file fills the picture from the bottom. */
  onRows?: (rows: QvxRows) => void;
}

export interface QvxDecoder {
  /** The picture's description once its headers are in, else null. */
  readonly info: QvxInfo | null;
  /** Rows completed so far. */
  readonly rowsDone: number;
  /** Takes the next piece of the file, of any size; throws QvxError for a bad picture. */
  push(chunk: Uint8Array | ArrayBuffer | ArrayBufferView): void;
  /** The file has ended: the whole picture, or QvxError when it is incomplete. */
  end(): QvxPicture;
  /** Gives up the decode and its memory. */
  close(): void;
}

/** Decodes a whole QVX file; throws QvxError for a file that is not a decodable QVX picture. */
export function decode(bytes: Uint8Array | ArrayBuffer | ArrayBufferView, options?: QvxOptions): QvxPicture;

/** Describes a QVX picture from its first bytes (its headers) alone. */
export function info(bytes: Uint8Array | ArrayBuffer | ArrayBufferView): QvxInfo;

/** A decoder fed piece by piece, for pictures that arrive over time. */
export function createDecoder(options?: QvxDecoderOptions): QvxDecoder;
