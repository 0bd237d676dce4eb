// The qvx package's extension module: a thin room over the decoding core's
// push decoder and the encoder.
//
// A source is a file name (read here with read(2)), a bytes-like object
// (decoded where it lies) or a Python file object (read front to back with
// readinto or read). Whatever the source, its bytes go through one push
// decoder; once the headers are in, the picture's memory is made (a NumPy
// array, or Pillow's own rows) and the decoder writes every row straight
// into it. The GIL is released while bytes are decoded, encoded or read
// from a file, so threads decode side by side.
//
// A refusal is thrown as Refused and becomes qvx.QvxError: kind is one word
// for programs, reason one line for people.
#include <fcntl.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "decode/qvx.h"
#include "decode/qvx_rows.h"
#include "encode/encode.h"

namespace py = pybind11;

namespace {

// Bytes read from a file or stream at a time once the headers are in: small
// enough to stay in the processor's cache until the decoder has turned them
// into rows. Before that, pieces of the header's size at most, so that
// little is read past a small picture.
const uint64_t kPieceBytes = 256 * 1024;
const uint64_t kHeadPieceBytes = 4096;

struct Refused {
  std::string kind;    // truncated, not-qvx, too-large, no-memory, not-paletted, cannot-store
  std::string reason;
};

// Where the bytes come from.
enum SourceKind { kPath = 0, kBuffer = 1, kStream = 2 };

struct Source {
  SourceKind kind;
  int fd = -1;
  bool lengthKnown = false;
  uint64_t length = 0;
  Py_buffer view{};  // kBuffer: the caller's bytes; kStream: the piece buffer
  bool haveView = false;
  py::object stream, readinto, piece;
  uint64_t offset = 0;  // kBuffer: bytes handed out
};

void CloseSource(Source* source) {
  if (source->fd >= 0) close(source->fd);
  source->fd = -1;
  if (source->haveView) PyBuffer_Release(&source->view);
  source->haveView = false;
}

struct SourceCloser {
  void operator()(Source* source) const { CloseSource(source); }
};

void ThrowOsError(const std::string& name) {
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, name.c_str());
  throw py::error_already_set();
}

void OpenSource(SourceKind kind, const py::object& object, Source* source) {
  source->kind = kind;
  if (kind == kPath) {
    std::string name = py::cast<std::string>(py::bytes(object));
    if (name.find('\0') != std::string::npos) throw py::value_error("embedded null byte in the file name");
    int fd;
    {
      py::gil_scoped_release nogil;
      do fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
      while (fd < 0 && errno == EINTR);
    }
    if (fd < 0) ThrowOsError(name);
    source->fd = fd;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      ThrowOsError(name);
    }
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      source->lengthKnown = true;
      source->length = static_cast<uint64_t>(st.st_size);
    }
  } else if (kind == kBuffer) {
    if (PyObject_GetBuffer(object.ptr(), &source->view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    source->haveView = true;
    source->lengthKnown = true;
    source->length = static_cast<uint64_t>(source->view.len);
  } else {
    source->stream = object;
    if (py::hasattr(object, "readinto")) source->readinto = object.attr("readinto");
  }
  if (kind != kBuffer) {
    // Files and streams are read into one piece buffer, exported for the
    // whole decode, so nothing a stream does with it can move it while the
    // decoder reads it.
    source->piece = py::reinterpret_steal<py::object>(PyByteArray_FromStringAndSize(nullptr, kPieceBytes));
    if (!source->piece) throw py::error_already_set();
    if (PyObject_GetBuffer(source->piece.ptr(), &source->view, PyBUF_WRITABLE) != 0) throw py::error_already_set();
    source->haveView = true;
  }
}

// The next piece of at most want bytes (a buffer hands out the rest at
// once); got 0 at the end. Called without the GIL; a stream takes it.
const uint8_t* NextPiece(Source* source, uint64_t want, uint64_t* got) {
  *got = 0;
  if (source->kind == kBuffer) {
    *got = static_cast<uint64_t>(source->view.len) - source->offset;
    const uint8_t* at = static_cast<const uint8_t*>(source->view.buf) + source->offset;
    source->offset += *got;
    return at;
  }
  uint8_t* piece = static_cast<uint8_t*>(source->view.buf);
  if (source->kind == kPath) {
    ssize_t n;
    do n = read(source->fd, piece, static_cast<size_t>(want));
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      py::gil_scoped_acquire gil;
      PyErr_SetFromErrno(PyExc_OSError);
      throw py::error_already_set();
    }
    *got = static_cast<uint64_t>(n);
    return piece;
  }
  py::gil_scoped_acquire gil;
  const Refused notReady{"read-error", "the stream had no bytes ready (a non-blocking stream cannot be read)"};
  if (source->readinto) {
    // A view of the piece buffer itself, so that a stream that keeps it
    // keeps the buffer alive too.
    py::object whole = py::reinterpret_steal<py::object>(PyMemoryView_FromObject(source->piece.ptr()));
    if (!whole) throw py::error_already_set();
    py::object n = source->readinto(whole[py::slice(0, static_cast<py::ssize_t>(want), 1)]);
    if (n.is_none()) throw notReady;
    Py_ssize_t count = py::cast<Py_ssize_t>(n);
    if (count < 0 || static_cast<uint64_t>(count) > want)
      throw Refused{"read-error", "the stream's readinto said it read " + std::to_string(count) + " of " +
                                      std::to_string(want) + " bytes"};
    *got = static_cast<uint64_t>(count);
    return piece;
  }
  py::object data = source->stream.attr("read")(want);
  if (data.is_none()) throw notReady;
  if (!PyBytes_Check(data.ptr())) throw py::type_error("the stream's read() must return bytes (open the file in binary mode)");
  uint64_t count = static_cast<uint64_t>(PyBytes_GET_SIZE(data.ptr()));
  if (count > want)
    throw Refused{"read-error", "the stream's read gave " + std::to_string(count) + " bytes where " +
                                    std::to_string(want) + " were asked for"};
  std::memcpy(piece, PyBytes_AS_STRING(data.ptr()), static_cast<size_t>(count));
  *got = count;
  return piece;
}

std::string Hex2(const uint8_t* first, uint64_t have) {
  char text[32];
  if (have == 1) std::snprintf(text, sizeof text, "0x%02X", first[0]);
  else std::snprintf(text, sizeof text, "0x%02X 0x%02X", first[0], first[1]);
  return text;
}

// Why the decoder said kQvxNotQvx, from the first bytes it took.
Refused NotQvx(const uint8_t* first, uint64_t have) {
  if (have == 0) return {"not-qvx", "not a QVX picture: there are no bytes"};
  if (first[0] != 0xBD || (have > 1 && first[1] != 0xB2)) {
    std::string begins = have >= 2 && first[0] == 'B' && first[1] == 'M' ? " (a plain BMP file)" : "";
    return {"not-qvx", "not a QVX picture: it begins with " + Hex2(first, have) + begins + ", not 0xBD 0xB2"};
  }
  if (have < 18 || have < QvxHeaderEnd(first))
    return {"truncated", "the QVX picture is truncated: it ends inside its header, after " + std::to_string(have) +
                             " bytes"};
  QvxHeader h;
  if (QvxReadHeader(first, have, &h) != kQvxOk) return {"not-qvx", "not a QVX picture that can be decoded"};
  return {"not-qvx", "not a QVX picture that can be decoded: " + std::to_string(h.biWidth) + " x " +
                         std::to_string(h.biHeight) + " pixels, " + std::to_string(h.biBitCount) +
                         " bits per pixel, compression " + std::to_string(h.biCompression) + ", a " +
                         std::to_string(h.storedSize) + "-byte header, pixels at " + std::to_string(h.bfOffBits)};
}

Refused Truncated(uint64_t have, uint64_t need) {
  return {"truncated", "the QVX picture is truncated: " + std::to_string(have) + " of " + std::to_string(need) + " bytes"};
}

void CheckSize(const QvxPictureInfo& info, uint64_t maxPixels) {
  uint64_t pixels = static_cast<uint64_t>(info.width) * info.rows;
  if (info.width > 0 && pixels > maxPixels)
    throw Refused{"too-large", "the picture is " + std::to_string(info.width) + " x " + std::to_string(info.rows) +
                                   " pixels, more than max_pixels (" + std::to_string(maxPixels) + ")"};
}

// What a decode makes of the picture once its headers are in. prepare is
// called with the GIL held and may throw; it returns the rows' target.
struct Wanted {
  QvxRowSpec layout;
  bool headerOnly;
  uint64_t maxPixels;
  QvxRowTarget (*prepare)(void* context, const QvxPictureInfo& info);
  void* context;
};

struct PushDeleter {
  void operator()(QvxPush* push) const { QvxPushDestroy(push); }
};

// Runs the source through a push decoder, without the GIL but where Python
// is called. Returns the picture's header (after the rows, unless
// headerOnly); throws Refused for a bad picture.
QvxPictureInfo Drive(Source* source, const Wanted& wanted) {
  std::unique_ptr<QvxPush, PushDeleter> push(QvxPushCreate(wanted.layout));
  if (!push) throw Refused{"no-memory", "not enough memory to start a decode"};
  uint8_t first[kQvxHeaderBytes + 10];
  uint64_t firstHave = 0, taken = 0;
  QvxPictureInfo info{};
  bool header = false, done = false;
  while (!done) {
    uint64_t want = header ? std::min(kPieceBytes, info.pictureBytes - std::min(taken, info.pictureBytes)) : kHeadPieceBytes;
    if (want == 0) break;
    uint64_t n = 0;
    const uint8_t* bytes = NextPiece(source, want, &n);
    if (n == 0) break;
    uint64_t copy = std::min<uint64_t>(n, sizeof first - firstHave);
    std::memcpy(first + firstHave, bytes, copy);
    firstHave += copy;
    taken += n;
    while (n > 0 && !done) {
      uint64_t used = 0;
      QvxPushEvent event = QvxPushFeed(push.get(), bytes, n, &used);
      bytes += used, n -= used;
      if (event == kQvxPushFinished || event == kQvxPushFailed) done = true;
      if (event != kQvxPushHeader) continue;
      header = true;
      info = *QvxPushInfo(push.get());
      if (wanted.headerOnly) return info;
      CheckSize(info, wanted.maxPixels);
      if (source->lengthKnown && source->length < info.pictureBytes) throw Truncated(source->length, info.pictureBytes);
      QvxRowTarget target;
      {
        py::gil_scoped_acquire gil;
        target = wanted.prepare(wanted.context, info);
      }
      if (QvxPushSetTarget(push.get(), target) != kQvxOk) throw Refused{"not-qvx", "not a QVX picture that can be decoded"};
    }
  }
  switch (QvxPushEnd(push.get())) {
    case kQvxOk:
      if (wanted.headerOnly) throw Refused{"not-qvx", "not a QVX picture that can be decoded"};
      break;
    case kQvxTruncated:
      if (header) throw Truncated(taken, info.pictureBytes);
      throw Refused{"truncated", "the QVX picture is truncated: it ends inside its headers or colour table, after " +
                                     std::to_string(taken) + " bytes"};
    case kQvxNoMemory: throw Refused{"no-memory", "not enough memory to decode the QVX picture"};
    default: throw NotQvx(first, firstHave);
  }
  // A seekable stream is left right after the picture's last byte.
  if (source->kind == kStream && taken > info.pictureBytes) {
    py::gil_scoped_acquire gil;
    try {
      if (py::cast<bool>(source->stream.attr("seekable")()))
        source->stream.attr("seek")(-static_cast<int64_t>(taken - info.pictureBytes), 1);
    } catch (py::error_already_set&) {
    }
  }
  return info;
}

// Decodes a source whatever its kind.
QvxPictureInfo Run(int kind, const py::object& object, const Wanted& wanted) {
  if (kind < kPath || kind > kStream) throw py::value_error("unknown source kind");
  Source source;
  std::unique_ptr<Source, SourceCloser> closer(&source);
  OpenSource(static_cast<SourceKind>(kind), object, &source);
  py::gil_scoped_release nogil;
  return Drive(&source, wanted);
}

// read and read_indexed: a fresh array of the picture's size.
struct ArrayRows {
  bool indexed;
  py::array_t<uint8_t> pixels;
  uint32_t bits = 0;
};

QvxRowTarget PrepareArray(void* context, const QvxPictureInfo& info) {
  ArrayRows* rows = static_cast<ArrayRows*>(context);
  bool indices = info.layout == kQvxIndex8;
  if (rows->indexed && !indices)
    throw Refused{"not-paletted", "not a paletted picture: it has " + std::to_string(info.bits) +
                                      " bits per pixel (read() gives its RGB pixels)"};
  rows->bits = info.bits;
  uint64_t channels = indices ? 1 : 3;
  try {
    if (indices)
      rows->pixels = py::array_t<uint8_t>({static_cast<py::ssize_t>(info.rows), static_cast<py::ssize_t>(info.width)});
    else
      rows->pixels = py::array_t<uint8_t>({static_cast<py::ssize_t>(info.rows), static_cast<py::ssize_t>(info.width),
                                           static_cast<py::ssize_t>(3)});
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_MemoryError) && !e.matches(PyExc_ValueError)) throw;
    throw Refused{"no-memory", "not enough memory for a " + std::to_string(info.width) + " x " +
                                   std::to_string(info.rows) + " picture (" +
                                   std::to_string(channels * info.width * info.rows) + " bytes)"};
  }
  return {rows->pixels.mutable_data(), channels * static_cast<uint64_t>(info.width), nullptr, nullptr};
}

QvxRowSpec RowsAs(bool indices, QvxPixelLayout layout) {
  QvxRowSpec rows = QvxDefaultRowSpec();
  rows.layout = layout;
  rows.indices = indices;
  rows.topFirst = true;
  return rows;
}

// The colour table as red, green, blue rows for every index the stored bits
// hold (black past the entries the file stores).
py::array_t<uint8_t> Palette(const QvxPictureInfo& info) {
  py::ssize_t entries = info.bits <= 8 ? py::ssize_t{1} << info.bits : 0;
  py::array_t<uint8_t> palette({entries, py::ssize_t{3}});
  uint8_t* out = palette.mutable_data();
  for (py::ssize_t i = 0; i < entries; ++i)
    for (int c = 0; c < 3; ++c) out[3 * i + c] = info.colours[i][c];
  return palette;
}

py::object Read(int kind, const py::object& source, bool indexed, uint64_t maxPixels) {
  ArrayRows rows{indexed, py::array_t<uint8_t>(), 0};
  Wanted wanted{RowsAs(indexed, kQvxRgb8), false, maxPixels, PrepareArray, &rows};
  QvxPictureInfo info = Run(kind, source, wanted);
  if (!indexed) return std::move(rows.pixels);
  return py::make_tuple(rows.pixels, Palette(info));
}

QvxRowTarget NoRows(void*, const QvxPictureInfo&) { return {}; }

py::tuple Info(int kind, const py::object& source) {
  Wanted wanted{RowsAs(true, kQvxRgb8), true, UINT64_MAX, NoRows, nullptr};
  QvxPictureInfo info = Run(kind, source, wanted);
  py::object palette = info.bits <= 8 ? py::object(Palette(info)) : py::none();
  return py::make_tuple(info.width, info.rows, info.bits, info.topDown, info.colourCount, info.xPelsPerMeter,
                        info.yPelsPerMeter, palette, info.pictureBytes);
}

// Pillow's rows: a table of row addresses, and the mode the rows hold. For
// mode "1" the decoder writes each row's indices, which become 0 or 255
// (through the two-entry table) once the next row is asked for or the
// picture ends.
struct PillowRows {
  uint8_t** lines;
  uint64_t width, rows;
  std::string mode;
  uint8_t mono[2];
  uint8_t* pending;
};

void FinishMono(PillowRows* rows) {
  if (rows->pending == nullptr) return;
  for (uint64_t x = 0; x < rows->width; ++x) rows->pending[x] = rows->mono[rows->pending[x] & 1];
  rows->pending = nullptr;
}

uint8_t* PillowRow(void* context, uint32_t y) {
  PillowRows* rows = static_cast<PillowRows*>(context);
  if (y >= rows->rows) return nullptr;
  FinishMono(rows);
  if (rows->mode == "1") rows->pending = rows->lines[y];
  return rows->lines[y];
}

// Pillow's rows lie in blocks of many rows each. Those are asked for huge
// pages before a row is written (a hint only): faulting in a fresh 64 MiB
// four kilobytes at a time costs as much as decoding the picture into it.
void AdviseHugePages(uint8_t** lines, uint64_t rows, uint64_t rowBytes) {
  const uintptr_t kHugePage = 2 << 20;
  for (uint64_t y = 0, end; y < rows; y = end) {
    for (end = y + 1; end < rows && lines[end] == lines[end - 1] + rowBytes;) ++end;
    uintptr_t from = (reinterpret_cast<uintptr_t>(lines[y]) + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t to = (reinterpret_cast<uintptr_t>(lines[end - 1]) + rowBytes) & ~(kHugePage - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
  }
}

QvxRowTarget PreparePillow(void* context, const QvxPictureInfo& info) {
  PillowRows* rows = static_cast<PillowRows*>(context);
  bool indices = info.layout == kQvxIndex8;
  if (static_cast<uint64_t>(info.width) != rows->width || info.rows != rows->rows || indices == (rows->mode == "RGB"))
    throw Refused{"not-qvx", "not a QVX picture that can be decoded: the file changed since it was opened"};
  AdviseHugePages(rows->lines, rows->rows, rows->width * (indices ? 1 : 4));
  return {nullptr, 0, PillowRow, rows};
}

void LoadRows(int kind, const py::object& source, uintptr_t lines, uint64_t width, uint64_t height,
              const std::string& mode, py::bytes mono) {
  if (mode != "RGB" && mode != "P" && mode != "1") throw py::value_error("mode must be RGB, P or 1");
  std::string table = mono;
  PillowRows rows{reinterpret_cast<uint8_t**>(lines), width, height, mode, {0, 255}, nullptr};
  if (table.size() == 2) rows.mono[0] = static_cast<uint8_t>(table[0]), rows.mono[1] = static_cast<uint8_t>(table[1]);
  Wanted wanted{RowsAs(mode != "RGB", mode == "RGB" ? kQvxRgba8 : kQvxRgb8), false, UINT64_MAX, PreparePillow, &rows};
  Run(kind, source, wanted);
  FinishMono(&rows);
}

py::bytes Encode(py::array_t<uint8_t, py::array::c_style> pixels, uint32_t bits,
                 py::bytes palette, int32_t xPelsPerMeter, int32_t yPelsPerMeter) {
  bool rgb = bits == 24;
  if (pixels.ndim() != (rgb ? 3 : 2) || (rgb && pixels.shape(2) != 3))
    throw py::value_error(rgb ? "RGB pixels must be an array of height x width x 3" : "indices must be an array of height x width");
  std::string colours = palette;
  QvxRowsPicture picture{};
  picture.width = static_cast<uint64_t>(pixels.shape(1));
  picture.height = static_cast<uint64_t>(pixels.shape(0));
  picture.bits = bits;
  picture.pixels = pixels.data();
  picture.stride = static_cast<uint64_t>(pixels.strides(0));
  picture.colours = reinterpret_cast<const uint8_t*>(colours.data());
  picture.colourCount = static_cast<uint32_t>(colours.size() / 3);
  picture.xPelsPerMeter = xPelsPerMeter;
  picture.yPelsPerMeter = yPelsPerMeter;
  std::string why;
  uint64_t size = QvxRowsFileBytes(picture, &why);
  if (size == 0) throw Refused{"cannot-store", "cannot be stored as QVX: " + why};
  py::object out = py::reinterpret_steal<py::object>(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
  if (!out) {
    PyErr_Clear();
    throw Refused{"no-memory", "not enough memory for the QVX file (" + std::to_string(size) + " bytes)"};
  }
  bool stored;
  {
    py::gil_scoped_release nogil;
    stored = StoreQvxRows(picture, reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(out.ptr())), &why);
  }
  if (!stored) throw Refused{"cannot-store", "cannot be stored as QVX: " + why};
  return py::reinterpret_steal<py::bytes>(out.release());
}

}  // namespace

PYBIND11_MODULE(_qvx, m) {
  m.doc() = "The QVX decoder and encoder under the qvx package; use the qvx package itself.";
  m.attr("PATH") = static_cast<int>(kPath);
  m.attr("BUFFER") = static_cast<int>(kBuffer);
  m.attr("STREAM") = static_cast<int>(kStream);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Refused& refused) {
      py::object cls = py::module_::import("qvx._errors").attr("QvxError");
      py::object error = cls(refused.reason, refused.kind);
      PyErr_SetObject(cls.ptr(), error.ptr());
    }
  });
  m.def("read", &Read, py::arg("kind"), py::arg("source"), py::arg("indexed"), py::arg("max_pixels"),
        "RGB pixels, or (indices, palette), of the picture from a source of the given kind.");
  m.def("info", &Info, py::arg("kind"), py::arg("source"),
        "(width, height, bits, top_down, colours, x_ppm, y_ppm, palette, picture_bytes) from the headers.");
  m.def("load_rows", &LoadRows, py::arg("kind"), py::arg("source"), py::arg("lines"), py::arg("width"),
        py::arg("height"), py::arg("mode"), py::arg("mono"),
        "Decodes into rows whose addresses the table at lines holds (Pillow's storage).");
  m.def("encode", &Encode, py::arg("pixels"), py::arg("bits"), py::arg("palette"), py::arg("x_ppm"), py::arg("y_ppm"),
        "The QVX file of RGB pixels (bits 24) or colour-table indices (bits 1 or 8).");
}
