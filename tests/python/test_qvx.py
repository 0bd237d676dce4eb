# The qvx package against tavko decode: every corpus picture through read
# (file name, bytes in memory, a trickling one-way stream), info, Pillow
# and write; broken files and fuzz seeds through the same doors; four
# threads at once.
import io
import mmap
import os
import pickle
import threading
from pathlib import Path

import numpy as np
import pytest
from PIL import Image, UnidentifiedImageError

import qvx
from qvx import _pillow

from conftest import CORPUS, SEEDS, SOURCE


class Trickle(io.RawIOBase):
    """A one-way stream that hands over at most `step` bytes a read."""

    def __init__(self, data, step=1000):
        self.data, self.at, self.step = data, 0, step

    def readable(self):
        return True

    def readinto(self, buffer):
        n = min(len(buffer), self.step, len(self.data) - self.at)
        buffer[:n] = self.data[self.at : self.at + n]
        self.at += n
        return n


class ReadOnly:
    """A file object with read() alone."""

    def __init__(self, data):
        self.stream = io.BytesIO(data)

    def read(self, n=-1):
        return self.stream.read(min(n, 777))


def sources(path):
    """Every way in for one picture: (label, source)."""
    data = path.read_bytes()
    f = open(path, "rb")
    mapped = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    f.close()
    return [
        ("str", str(path)),
        ("pathlike", path),
        ("bytes path", os.fsencode(path)),
        ("bytes", data),
        ("bytearray", bytearray(data)),
        ("memoryview", memoryview(data)),
        ("mmap", mapped),
        ("file", open(path, "rb")),
        ("trickle", Trickle(data)),
        ("read only", ReadOnly(data)),
    ]


def test_every_corpus_picture_reads_as_tavko_decodes_it(corpus, tmp_path):
    for name, (path, expected) in corpus.items():
        for label, source in sources(path):
            got = qvx.read(source)
            assert got.dtype == np.uint8 and got.flags.c_contiguous, (name, label)
            assert np.array_equal(got, expected), (name, label)

        head = qvx.info(path)
        assert (head.height, head.width) == expected.shape[:2], name
        mode = "RGB"
        if head.bits <= 8:
            indices, palette = qvx.read_indexed(path.read_bytes())
            assert palette.shape == (2**head.bits, 3) and np.array_equal(palette[indices], expected), name
            black_white = {tuple(c) for c in palette} == {(0, 0, 0), (255, 255, 255)}
            mode = "1" if head.bits == 1 and black_white else "P"

        # Pillow: the headers on open, the pixels on load.
        with open(path, "rb") as f:
            im = Image.open(f)
            assert im.format == "QVX" and im.size == (head.width, head.height), name
            assert im.im is None and f.tell() <= 4096, name + ": Image.open decoded pixels"
            assert im.mode == mode, name
            assert im.info.get("dpi") == head.dpi, name
            im.load()
        assert np.array_equal(np.asarray(im.convert("RGB")), expected), name

        # Written by qvx.write and by Pillow, read back.
        out = io.BytesIO()
        qvx.write(out, expected, dpi=(300, 150))
        again = qvx.read(out.getvalue())
        assert np.array_equal(again, expected), name
        assert qvx.info(out.getvalue()).dpi == pytest.approx((300, 150), abs=0.05)
        im.save(tmp_path / "saved.qvx")
        with Image.open(tmp_path / "saved.qvx") as saved:
            assert saved.mode == im.mode, name
            assert np.array_equal(np.asarray(saved.convert("RGB")), expected), name


def test_a_pipe_gives_the_same_pixels(corpus):
    path, expected = corpus["sample-card24"]
    r, w = os.pipe()

    def feed():
        with os.fdopen(w, "wb") as out:
            data = path.read_bytes()
            for i in range(0, len(data), 3000):
                out.write(data[i : i + 3000])
                out.flush()

    writer = threading.Thread(target=feed)
    writer.start()
    with os.fdopen(r, "rb", buffering=0) as pipe:
        assert np.array_equal(qvx.read(pipe), expected)
    writer.join()


def test_a_seekable_stream_is_left_after_the_picture(corpus):
    data = corpus["sample-card1"][0].read_bytes()
    stream = io.BytesIO(data + data)
    first, second = qvx.read(stream), qvx.read(stream)
    assert np.array_equal(first, second) and stream.tell() == 2 * len(data)


CARD24 = SOURCE / "samples" / "card24.qvx"
BROKEN = [
    # (label, bytes, kind, words in the reason, keyword arguments)
    ("empty", b"", "not-qvx", "there are no bytes", {}),
    ("plain BMP", (CORPUS / "g" / "rgb24.bmp").read_bytes(), "not-qvx", "0x42 0x4D (a plain BMP file)", {}),
    ("PNG", b"\x89PNG\r\n\x1a\n" + bytes(100), "not-qvx", "begins with 0x89 0x50", {}),
    ("cut in the header", CARD24.read_bytes()[:30], "truncated", "ends inside its header", {}),
    ("cut in the rows", CARD24.read_bytes()[:5000], "truncated", "5000 of 57654 bytes", {}),
    ("3 bits", (SEEDS / "edge-bits3.qvx").read_bytes(), "not-qvx", "3 bits per pixel", {}),
    ("huge rows", (SEEDS / "edge-huge-rows.qvx").read_bytes(), "too-large", "3 x 2147483647 pixels", {}),
    ("over max_pixels", CARD24.read_bytes(), "too-large", "160 x 120 pixels, more than max_pixels (100)",
     {"max_pixels": 100}),
]


@pytest.mark.parametrize("label, data, kind, words, options", BROKEN, ids=[b[0] for b in BROKEN])
def test_broken_files_raise_qvx_error_with_their_reason(tmp_path, label, data, kind, words, options):
    path = tmp_path / "broken.qvx"
    path.write_bytes(data)
    for source in (path, data, Trickle(data, 500)):
        with pytest.raises(qvx.QvxError) as caught:
            qvx.read(source, **options)
        error = caught.value
        assert isinstance(error, ValueError) and error.kind == kind and words in error.reason, (source, error)
        copy = pickle.loads(pickle.dumps(error))
        assert (type(copy), copy.kind, copy.reason, str(copy)) == (qvx.QvxError, kind, error.reason, str(error))
    if kind == "too-large" or not data.startswith(b"\xbd\xb2"):
        return  # Pillow's own limit, or another format's business
    # Pillow's own errors carry the reason: on open, or on load for a
    # picture whose headers are whole.
    with pytest.raises(OSError, match=words) as caught:
        with Image.open(path) as im:
            im.load()
    assert isinstance(caught.value, UnidentifiedImageError) or kind == "truncated"


def test_read_indexed_refuses_colour_pictures():
    with pytest.raises(qvx.QvxError) as caught:
        qvx.read_indexed(CARD24)
    assert caught.value.kind == "not-paletted" and "24 bits per pixel" in caught.value.reason


def mutations(data):
    """The seed, cut at a few lengths, and with a few bytes changed."""
    yield data
    for cut in (1, 17, 18, 30, 54, 60, len(data) // 2, len(data) - 1):
        yield data[:cut]
    for at in (2, 10, 14, 18, 22, 28, 30, 46, 54, 120):
        if at < len(data):
            for value in (0x00, 0x7F, 0xFF):
                yield data[:at] + bytes([value]) + data[at + 1 :]


def outcome(source):
    try:
        pixels = qvx.read(source)
        return ("ok", pixels.shape, pixels.tobytes())
    except qvx.QvxError as error:
        return (error.kind, error.reason)


def test_fuzz_seeds_and_their_mutations_give_pixels_or_a_reason():
    seeds = sorted(SEEDS.glob("*.qvx"))
    assert len(seeds) > 50
    tried = 0
    for seed in seeds:
        for data in mutations(seed.read_bytes()):
            whole = outcome(data)
            assert outcome(Trickle(data, 97)) == whole, seed.name
            tried += 1
    assert tried > 1000


def test_four_threads_decode_the_corpus_at_once(corpus):
    failures = []

    def work(offset):
        names = sorted(corpus)
        for name in names[offset:] + names[:offset]:
            path, expected = corpus[name]
            for source in (path, path.read_bytes()):
                if not np.array_equal(qvx.read(source), expected):
                    failures.append((offset, name))

    threads = [threading.Thread(target=work, args=(i * 7,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_pillow_still_opens_other_formats_and_refuses_what_qvx_cannot_store(tmp_path):
    bmp = CORPUS / "g" / "rgb24.bmp"
    with Image.open(bmp) as im:
        assert im.format == "BMP"
        im.save(tmp_path / "x.png")
    with Image.open(tmp_path / "x.png") as im:
        assert im.format == "PNG"
    with pytest.raises(UnidentifiedImageError):
        Image.open(io.BytesIO(b"neither this nor that"))
    with pytest.raises(OSError, match="mode RGBA"):
        Image.new("RGBA", (4, 4)).save(tmp_path / "x.qvx")


@pytest.mark.parametrize("sample", ["card24", "card8", "card1"])
def test_pillow_without_its_rows_copies_the_same_pixels(corpus, monkeypatch, sample):
    path, expected = corpus["sample-" + sample]
    monkeypatch.setattr(_pillow, "_rows_of", lambda core: 0)
    with Image.open(path) as im:
        assert np.array_equal(np.asarray(im.convert("RGB")), expected)


WRITES = [
    # (label, picture, stored bits) — pictures QVX holds
    ("grey array", np.arange(35 * 21, dtype=np.uint8).reshape(35, 21), 8),
    ("PIL L", Image.linear_gradient("L").resize((33, 7)), 8),
    ("PIL P", Image.linear_gradient("L").resize((9, 13)).convert("RGB").quantize(5), 8),
    ("PIL 1", Image.linear_gradient("L").resize((31, 5)).convert("1"), 1),
]
REFUSED = [
    ("float array", np.zeros((4, 4, 3)), "float64"),
    ("no pixels", np.zeros((0, 5, 3), np.uint8), "no pixels"),
    ("RGBA image", Image.new("RGBA", (2, 2)), "mode RGBA"),
    ("bad dpi", np.zeros((2, 2, 3), np.uint8), "dpi"),
]


@pytest.mark.parametrize("label, picture, bits", WRITES, ids=[w[0] for w in WRITES])
def test_write_stores_what_it_is_given(tmp_path, label, picture, bits):
    target = tmp_path / "w.qvx"
    qvx.write(target, picture)
    assert qvx.info(target).bits == bits
    expected = np.asarray(picture.convert("RGB")) if hasattr(picture, "mode") else np.repeat(picture[..., None], 3, 2)
    assert np.array_equal(qvx.read(target), expected)


@pytest.mark.parametrize("label, picture, words", REFUSED, ids=[r[0] for r in REFUSED])
def test_write_refuses_what_qvx_cannot_hold(tmp_path, label, picture, words):
    with pytest.raises(qvx.QvxError, match=words) as caught:
        qvx.write(tmp_path / "w.qvx", picture, dpi="x" if label == "bad dpi" else None)
    assert caught.value.kind == "cannot-store" and not (tmp_path / "w.qvx").exists()
