"""The QVX format in Pillow: registered when the qvx package is imported.

``Image.open`` reads the headers only (size, mode, ``info["dpi"]`` and the
palette); ``load()`` decodes the pixels straight into the image's own rows.
Pictures of 16 bits or more open as ``RGB``; paletted ones as ``P`` with
their colour table, or as ``1`` when their two colours are black and white.
"""

from __future__ import annotations

from typing import Any

from PIL import Image, ImageFile, ImagePalette, UnidentifiedImageError

from . import _qvx
from ._errors import QvxError

_BLACK, _WHITE = b"\0\0\0", b"\xff\xff\xff"


def _accept(prefix: bytes) -> bool:
    return prefix[:2] == b"\xbd\xb2"


def _rows_of(core: Any) -> int:
    """The address of the table of row addresses of Pillow's image, or 0 where it is not given."""
    ptrs = getattr(core, "unsafe_ptrs", None)
    return dict(ptrs).get("image", 0) if ptrs else 0


class QvxImageFile(ImageFile.ImageFile):
    format = "QVX"
    format_description = "QVX (complemented Windows bitmap)"

    def _open(self) -> None:
        try:
            width, height, bits, _, _, x_ppm, y_ppm, palette, _ = _qvx.info(_qvx.STREAM, self.fp)
        except QvxError as error:
            raise UnidentifiedImageError("cannot identify image file %r: %s" % (self.filename or self.fp, error.reason)) from error
        if width <= 0 or height <= 0:
            raise UnidentifiedImageError(
                "cannot identify image file %r: the picture has no pixels (%d x %d)" % (self.filename or self.fp, width, height)
            )
        self._size = (width, height)
        mono = b""
        if palette is None:
            self.mode = "RGB"
        else:
            table = palette.tobytes()
            colours = (table[:3], table[3:6])
            if bits == 1 and all(c in (_BLACK, _WHITE) for c in colours) and colours[0] != colours[1]:
                self.mode = "1"
                mono = bytes(255 if c == _WHITE else 0 for c in colours)
            else:
                self.mode = "P"
                self.palette = ImagePalette.raw("RGB", table)
        if x_ppm > 0 and y_ppm > 0:
            self.info["dpi"] = (x_ppm / 39.3701, y_ppm / 39.3701)
        self.tile = [("QVX", (0, 0) + self.size, 0, (self.mode, mono))]


class QvxDecoder(ImageFile.PyDecoder):
    """Decodes the whole picture from the file in one call, into the image's rows."""

    _pulls_fd = True

    def decode(self, buffer: bytes):
        mode, mono = self.args
        width, height = self.state.xsize, self.state.ysize
        try:
            lines = _rows_of(self.im)
            if lines:
                _qvx.load_rows(_qvx.STREAM, self.fd, lines, width, height, mode, mono)
            else:
                self._load_copy(mode, mono)
        except QvxError as error:
            raise OSError(error.reason) from error
        return -1, 0

    def _load_copy(self, mode: str, mono: bytes) -> None:
        """Where Pillow does not give its rows: an array, copied in by Pillow's raw decoder."""
        if mode == "RGB":
            self.set_as_raw(_qvx.read(_qvx.STREAM, self.fd, False, 2**62).tobytes(), "RGB")
            return
        indices, _ = _qvx.read(_qvx.STREAM, self.fd, True, 2**62)
        if mode == "1":
            indices = indices.choose(list(mono)).astype("uint8")
            self.set_as_raw(indices.tobytes(), "1;8")
        else:
            self.set_as_raw(indices.tobytes(), "P")


def _save(im: Image.Image, fp: Any, filename: Any) -> None:
    from . import encode

    dpi = im.encoderinfo.get("dpi", im.info.get("dpi"))
    try:
        fp.write(encode(im, dpi=dpi))
    except QvxError as error:
        raise OSError(error.reason) from error


Image.register_open(QvxImageFile.format, QvxImageFile, _accept)
Image.register_decoder("QVX", QvxDecoder)
Image.register_save(QvxImageFile.format, _save)
Image.register_extension(QvxImageFile.format, ".qvx")
Image.register_mime(QvxImageFile.format, "image/x-qvx")
