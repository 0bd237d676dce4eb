// The gdk-pixbuf loader module's incremental loading, with the input split
// where the fuzzer chooses. The first byte is a count n of split points
// (0..15), the next 2 * n bytes the pieces' sizes (little-endian), the rest
// the file. After each file: the bytes handed over are unchanged, the
// callbacks came in order (size, then prepared, then updates of whole rows
// of the pixbuf), a success updated every row exactly once, a failure gave
// an error, and a success has the pixels of the whole-file decode, which
// succeeds exactly when the pieces do. LeakSanitizer finds any block of the
// decoder left held.
#include "fuzz/check.h"

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>

#include <cstring>
#include <vector>

#include "pixbuf/qvx_rgb.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

struct Log {
  int sizes = 0, prepared = 0, updated = 0;
  int width = 0, height = 0;
  bool inOrder = true;
  std::vector<int> rowUpdates;  // per pixbuf row
  GdkPixbuf* pixbuf = nullptr;
};

void Size(gint* width, gint* height, gpointer data) {
  Log* log = static_cast<Log*>(data);
  log->inOrder &= log->prepared == 0;
  log->width = *width;
  log->height = *height;
  ++log->sizes;
}

void Prepared(GdkPixbuf* pixbuf, GdkPixbufAnimation*, gpointer data) {
  Log* log = static_cast<Log*>(data);
  log->inOrder &= log->sizes == 1 && log->updated == 0;
  ++log->prepared;
  log->pixbuf = static_cast<GdkPixbuf*>(g_object_ref(pixbuf));
  log->rowUpdates.assign(static_cast<size_t>(gdk_pixbuf_get_height(pixbuf)), 0);
}

void Updated(GdkPixbuf* pixbuf, int x, int y, int width, int height, gpointer data) {
  Log* log = static_cast<Log*>(data);
  log->inOrder &= log->prepared == 1 && pixbuf == log->pixbuf;
  Require(x == 0 && width == gdk_pixbuf_get_width(pixbuf) && y >= 0 && height > 0 &&
              y + height <= gdk_pixbuf_get_height(pixbuf),
          "an update of no whole rows of the pixbuf");
  for (int i = y; i < y + height; ++i) ++log->rowUpdates[static_cast<size_t>(i)];
  ++log->updated;
}

uint8_t* PrepareVector(void* context, int32_t width, int32_t height, size_t* stride) {
  std::vector<uint8_t>* rgb = static_cast<std::vector<uint8_t>*>(context);
  rgb->assign(3 * static_cast<size_t>(width) * height, 0);
  *stride = 3 * static_cast<size_t>(width);
  return rgb->data();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t splits = data[0] & 15, at = 1;
  std::vector<size_t> pieces;
  for (size_t i = 0; i < splits && at + 2 <= size; ++i, at += 2) pieces.push_back(data[at] | (data[at + 1] << 8));
  std::vector<uint8_t> file(data + at, data + size), before = file;

  std::vector<uint8_t> whole;
  QvxRgbResult expected = DecodeQvxToRgb(file.data(), file.size(), {PrepareVector, &whole}, nullptr);
  Require(file == before, "whole decode changed the bytes");

  static GdkPixbufModule module;
  if (module.begin_load == nullptr) fill_vtable(&module);
  Log log;
  GError* error = nullptr;
  gpointer context = module.begin_load(Size, Prepared, Updated, &log, &error);
  Require(context != nullptr && error == nullptr, "begin_load failed");
  bool written = true;
  size_t done = 0;
  for (size_t i = 0; written && done < file.size(); ++i) {
    size_t piece = i < pieces.size() ? pieces[i] : file.size() - done;
    if (piece > file.size() - done) piece = file.size() - done;
    written = module.load_increment(context, file.data() + done, static_cast<guint>(piece), &error);
    Require(written == (error == nullptr), "load_increment result and error disagree");
    done += piece;
  }
  if (error != nullptr) g_clear_error(&error);
  bool stopped = module.stop_load(context, &error);
  Require(stopped == (error == nullptr), "stop_load result and error disagree");
  Require(!stopped || error == nullptr, "success with an error");
  if (error != nullptr) {
    Require(error->domain == GDK_PIXBUF_ERROR && error->message[0] != 0, "error without a message");
    g_clear_error(&error);
  }
  Require(file == before, "the pieces were changed");

  bool ok = written && stopped;
  Require(ok == (expected == QvxRgbResult::kOk), "pieces and whole file disagree");
  Require(log.inOrder, "callbacks out of order");
  if (ok) {
    Require(log.sizes == 1 && log.prepared == 1, "callbacks of a success");
    for (int count : log.rowUpdates) Require(count == 1, "a row not updated exactly once");
    GdkPixbuf* pixbuf = log.pixbuf;
    int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
    Require(width == log.width && height == log.height, "pixbuf size differs from the announced size");
    Require(gdk_pixbuf_get_n_channels(pixbuf) == 3 && !gdk_pixbuf_get_has_alpha(pixbuf), "not RGB");
    Require(whole.size() == 3 * static_cast<size_t>(width) * height, "pixbuf size differs from the decode");
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y)
      Require(std::memcmp(pixels + static_cast<size_t>(y) * stride, whole.data() + 3 * static_cast<size_t>(y) * width,
                          3 * static_cast<size_t>(width)) == 0,
              "pixels differ from the whole-file decode");
  } else {
    for (int count : log.rowUpdates) Require(count <= 1, "a row updated twice");
  }
  if (log.pixbuf != nullptr) g_object_unref(log.pixbuf);
  return 0;
}
