"""QVX pictures for Python: NumPy arrays straight from the decoder, and Pillow.

A QVX picture is a Windows bitmap whose headers, colour table and first
pixel bytes are stored bitwise complemented. This package reads and writes
them through the same decoding core as the tavko command:

>>> import qvx
>>> pixels = qvx.read("picture.qvx")            # height x width x 3, uint8, RGB
>>> indices, palette = qvx.read_indexed("p.qvx")  # paletted pictures
>>> qvx.info("picture.qvx").dpi
>>> qvx.write("copy.qvx", pixels, dpi=(300, 300))

Importing it also registers the format with Pillow, when Pillow is
installed: ``Image.open("x.qvx")`` and ``im.save("y.qvx")`` work.

Every source may be a file name (``str``, ``bytes`` or ``os.PathLike``), a
bytes-like object (``bytes``, ``bytearray``, ``memoryview``, ``mmap``) or a
binary file object, read front to back (a pipe, a socket file and
``sys.stdin.buffer`` work). A bad picture raises :class:`QvxError`.
Decoding and encoding release the GIL, so threads decode side by side.
"""

from __future__ import annotations

import importlib.util
import os
from typing import Any, NamedTuple, Optional, Tuple

import numpy as np

from . import _qvx
from ._errors import QvxError

__all__ = ["QvxError", "QvxInfo", "info", "read", "read_indexed", "write"]
__version__ = "1.0.0"

# The most pixels read() and read_indexed() take unless told otherwise:
# 2**28 (16384 x 16384), 768 MiB of RGB.
DEFAULT_MAX_PIXELS = 2**28

# 1 metre is 39.3701 inches, as Pillow's BMP plug-in counts it.
_INCHES_PER_METRE = 39.3701

_SIGNATURE = b"\xbd\xb2"
_PATH_MAX = 4096


class QvxInfo(NamedTuple):
    """What a QVX picture's headers say, read without decoding its pixels."""

    width: int
    height: int
    bits: int
    """Stored bits per pixel: 1, 2, 4, 8, 16, 24 or 32."""
    top_down: bool
    """True when the file stores its top row first."""
    colours: int
    """Colour-table entries the file stores (0 for pictures of 16 bits or more)."""
    dpi: Optional[Tuple[float, float]]
    """Horizontal and vertical density, or None when the file stores none."""


def _names_a_file(data: bytes) -> bool:
    return (
        not data.startswith(_SIGNATURE)
        and b"\0" not in data
        and 0 < len(data) <= _PATH_MAX
        and os.path.exists(data)
    )


def _source(source: Any) -> Tuple[int, Any]:
    """The kind of a source (file name, bytes in memory or stream) and the object to read."""
    if isinstance(source, (str, os.PathLike)):
        return _qvx.PATH, os.fsencode(source)
    if isinstance(source, bytes) and _names_a_file(source):
        return _qvx.PATH, source
    try:
        memoryview(source).release()
        return _qvx.BUFFER, source
    except TypeError:
        pass
    if hasattr(source, "readinto") or hasattr(source, "read"):
        return _qvx.STREAM, source
    raise TypeError(
        "a QVX source is a file name, a bytes-like object or a binary file object, not "
        + type(source).__name__
    )


def _dpi(x_ppm: int, y_ppm: int) -> Optional[Tuple[float, float]]:
    if x_ppm <= 0 or y_ppm <= 0:
        return None
    return (x_ppm / _INCHES_PER_METRE, y_ppm / _INCHES_PER_METRE)


def read(source: Any, *, max_pixels: int = DEFAULT_MAX_PIXELS) -> np.ndarray:
    """Decodes a QVX picture into a new ``height x width x 3`` array of ``uint8``.

    The array holds red, green and blue, top row first, whatever depth and
    row order the file stores; paletted pictures come with their colour
    table applied. The decoder writes every row once, straight into the
    array's memory.

    ``source`` is a file name (``str``, ``bytes``, ``os.PathLike``), a
    bytes-like object holding the file (``bytes``, ``bytearray``,
    ``memoryview``, ``mmap``), or a binary file object, read front to back in
    pieces (a pipe or ``sys.stdin.buffer`` works; a seekable one is left just
    after the picture). A ``bytes`` object is taken for a file name only when
    it names an existing file and does not begin with the QVX signature.

    Raises :class:`QvxError` for data that is not a QVX picture, is
    truncated, or holds more than ``max_pixels`` pixels (``reason`` says
    which, ``kind`` names it), and ``OSError`` when a file cannot be opened
    or read.
    """
    kind, obj = _source(source)
    return _qvx.read(kind, obj, False, int(max_pixels))


def read_indexed(source: Any, *, max_pixels: int = DEFAULT_MAX_PIXELS) -> Tuple[np.ndarray, np.ndarray]:
    """Decodes a paletted (1, 2, 4 or 8-bit) QVX picture into indices and its colour table.

    Returns ``(indices, palette)``: ``indices`` is a ``height x width``
    ``uint8`` array, top row first, one colour-table index a pixel;
    ``palette`` is a ``2**bits x 3`` ``uint8`` array of red, green and blue,
    black past the entries the file stores, so ``palette[indices]`` gives the
    pixels that :func:`read` gives.

    Sources are as for :func:`read`. Pictures of 16 bits or more raise
    :class:`QvxError` with kind ``"not-paletted"``.
    """
    kind, obj = _source(source)
    return _qvx.read(kind, obj, True, int(max_pixels))


def info(source: Any) -> QvxInfo:
    """Reads a QVX picture's headers (and colour table) only, not its pixels.

    Sources are as for :func:`read`; a stream is read up to the colour
    table's end (a few kilobytes at most). Raises :class:`QvxError` for data
    that is not a QVX picture; a file cut short after its headers is not
    noticed here.
    """
    kind, obj = _source(source)
    width, height, bits, top_down, colours, x_ppm, y_ppm, _, _ = _qvx.info(kind, obj)
    return QvxInfo(width, height, bits, bool(top_down), colours, _dpi(x_ppm, y_ppm))


def _ppm(dpi: Any) -> Tuple[int, int]:
    if dpi is None:
        return 0, 0
    try:
        x, y = (float(v) for v in dpi)
    except (TypeError, ValueError):
        raise QvxError("cannot be stored as QVX: dpi must be a pair of numbers, not %r" % (dpi,), "cannot-store")
    ppm = tuple(int(v * _INCHES_PER_METRE + 0.5) for v in (x, y))
    if not all(0 <= v <= 0x7FFFFFFF for v in ppm):
        raise QvxError("cannot be stored as QVX: dpi %r is out of range" % (dpi,), "cannot-store")
    return ppm  # type: ignore[return-value]


def _grey_palette() -> bytes:
    return bytes(v for i in range(256) for v in (i, i, i))


def _pil_picture(image: Any) -> Tuple[np.ndarray, int, bytes]:
    """Pixels, stored bits and colour table of a PIL image of mode RGB, L, P or 1."""
    mode = image.mode
    if mode == "RGB":
        return np.asarray(image), 24, b""
    if mode == "L":
        return np.asarray(image), 8, _grey_palette()
    if mode == "1":
        return np.asarray(image).astype(np.uint8), 1, b"\0\0\0\xff\xff\xff"
    if mode == "P":
        palette = image.getpalette("RGB") or []
        table = bytes(palette[: 3 * 256])
        return np.asarray(image), 8, table + bytes(768 - len(table))
    raise QvxError(
        "cannot be stored as QVX: mode %s (QVX stores RGB, L, P and 1; convert the picture first)" % mode,
        "cannot-store",
    )


def encode(picture: Any, *, dpi: Any = None) -> bytes:
    """The QVX file of a picture, as bytes; see :func:`write` for what a picture may be."""
    if hasattr(picture, "mode") and hasattr(picture, "getpalette"):
        if dpi is None:
            dpi = picture.info.get("dpi")
        pixels, bits, palette = _pil_picture(picture)
    else:
        pixels = np.asarray(picture)
        if pixels.dtype != np.uint8 or not (
            (pixels.ndim == 3 and pixels.shape[2] == 3) or pixels.ndim == 2
        ):
            raise QvxError(
                "cannot be stored as QVX: an array of %s %s; QVX stores height x width x 3 (RGB) or "
                "height x width (grey) arrays of uint8" % ("x".join(map(str, pixels.shape)), pixels.dtype),
                "cannot-store",
            )
        bits, palette = (24, b"") if pixels.ndim == 3 else (8, _grey_palette())
    x_ppm, y_ppm = _ppm(dpi)
    return _qvx.encode(np.ascontiguousarray(pixels), bits, palette, x_ppm, y_ppm)


def write(target: Any, picture: Any, *, dpi: Any = None) -> None:
    """Stores a picture as QVX, through the encoder.

    ``picture`` is a NumPy ``height x width x 3`` ``uint8`` array of red,
    green and blue (stored with 24 bits a pixel), a ``height x width``
    ``uint8`` array (grey, stored as 8-bit indices with a grey table), or a
    PIL image of mode ``RGB``, ``L``, ``P`` (8 bits with its palette) or
    ``1`` (1 bit, black and white); convert other modes first.

    ``target`` is a file name or a binary file object open for writing.
    ``dpi`` is a ``(x, y)`` pair; for a PIL image it defaults to the image's
    ``info["dpi"]``, and none is stored when there is none. A picture QVX
    cannot hold raises :class:`QvxError` with kind ``"cannot-store"``, before
    anything is written.
    """
    data = encode(picture, dpi=dpi)
    if isinstance(target, (str, bytes, os.PathLike)):
        with open(target, "wb") as out:
            out.write(data)
    else:
        target.write(data)


# With Pillow installed, the format is registered with it; without, arrays only.
if importlib.util.find_spec("PIL") is not None:
    from . import _pillow  # noqa: F401
