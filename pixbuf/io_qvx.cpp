// gdk-pixbuf loader module for QVX pictures: whole-file loading and
// incremental loading, both over the core's push decoder. Rows are written
// straight into the pixbuf as their bytes arrive; the loader keeps no copy
// of the file. Incremental loading announces the size as soon as the
// header is in, prepares the pixbuf then, and reports the rows each piece
// completed (a bottom-up picture fills from the bottom, as gdk-pixbuf's
// BMP loader fills it).
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "decode/header.h"
#include "native/qvx_native.h"
#include "pixbuf/qvx_rgb.h"

namespace {

// Whole-file loading reads the file in pieces of this size, as gdk-pixbuf
// reads a file for loaders that take pieces.
const size_t kReadPiece = 64 * 1024;

struct LoadContext {
  GdkPixbufModuleSizeFunc sizeFunc;
  GdkPixbufModulePreparedFunc preparedFunc;
  GdkPixbufModuleUpdatedFunc updatedFunc;
  gpointer userData;
  QvxPush* push;
  GdkPixbuf* pixbuf;
  uint64_t fileBytes;   // whole-file loading: bytes the file holds from the picture's start
  bool wholeFile;
  uint64_t fed;         // bytes handed over so far
  uint32_t reported;    // stored rows reported through updatedFunc
  bool failed;          // a piece was refused; its error has been given
  uint8_t head[kQvxHeaderBytes];  // the first bytes, for the size before the colour table is in
  bool announced;       // the size has gone to sizeFunc
};

void SetError(GError** error, int code, const std::string& text) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, text.c_str());
}

bool NoMemory(GError** error) {
  SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the QVX picture");
  return false;
}

// Pixel memory starts zeroed, so rows that never arrive are black; large
// blocks ask for huge pages (AllocatePictureBlock), small ones are exactly
// the pixbuf's size.
void FreePixels(guchar* pixels, gpointer data) { FreePictureBlock(pixels, GPOINTER_TO_SIZE(data)); }

// The density as the PNG loader gives it: whole dots per inch.
void SetDensity(GdkPixbuf* pixbuf, const char* key, int32_t pelsPerMeter) {
  if (pelsPerMeter <= 0) return;
  std::string dpi = std::to_string(static_cast<long>(std::lround(pelsPerMeter * 25.4 / 1000)));
  gdk_pixbuf_set_option(pixbuf, key, dpi.c_str());
}

// The size goes to sizeFunc once; a size of 0 there cancels the load.
bool Announce(LoadContext* context, gint width, gint height, GError** error) {
  if (context->announced || context->sizeFunc == nullptr) return true;
  context->announced = true;
  context->sizeFunc(&width, &height, context->userData);
  if (width == 0 || height == 0) {
    SetError(error, GDK_PIXBUF_ERROR_FAILED, "Loading the QVX picture was cancelled");
    return false;
  }
  return true;
}

// The size is in the headers, before the colour table the push decoder
// waits for: gdk_pixbuf_get_file_info has it from a file cut inside its
// table, as from a BMP. Judged as the push decoder judges it.
bool AnnounceFromHead(LoadContext* context, GError** error) {
  uint64_t have = context->fed < kQvxHeaderBytes ? context->fed : kQvxHeaderBytes;
  if (context->announced || have < kSignatureBytes || have < QvxHeaderEnd(context->head)) return true;
  QvxHeader header;
  QvxPlan plan;
  if (!QvxPlanRows(context->head, have, &header, &plan)) return true;  // the push decoder refuses it, with its reason
  return Announce(context, plan.width, static_cast<gint>(plan.rows), error);
}

// The header is in: the size is announced (also for a picture too large to
// load, so that gdk_pixbuf_get_file_info reports it), then the pixbuf is
// made and the rows are aimed at it.
bool Prepare(LoadContext* context, GError** error) {
  const QvxPictureInfo& info = *QvxPushInfo(context->push);
  if (!Announce(context, info.width, static_cast<gint>(info.rows), error)) return false;
  if (!QvxRgbFits(info)) {
    SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "The QVX picture is too large to load");
    return false;
  }
  if (context->wholeFile && context->fileBytes < info.pictureBytes) {
    SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
             "The QVX picture is truncated: the file has " + std::to_string(context->fileBytes) + " of the " +
                 std::to_string(info.pictureBytes) + " bytes it needs");
    return false;
  }
  // Rows padded to 4 bytes, as gdk_pixbuf_new lays them out; QvxRgbFits
  // has checked that the sizes fit an int.
  size_t stride = (info.rowBytes + 3) / 4 * 4;
  size_t bytes = stride * info.rows;
  uint8_t* pixels = AllocatePictureBlock(bytes);
  if (pixels == nullptr) return NoMemory(error);
  context->pixbuf = gdk_pixbuf_new_from_data(pixels, GDK_COLORSPACE_RGB, FALSE, 8, info.width,
                                             static_cast<int>(info.rows), static_cast<int>(stride), FreePixels,
                                             GSIZE_TO_POINTER(bytes));
  if (context->pixbuf == nullptr) {
    FreePixels(pixels, GSIZE_TO_POINTER(bytes));
    return NoMemory(error);
  }
  SetDensity(context->pixbuf, "x-dpi", info.xPelsPerMeter);
  SetDensity(context->pixbuf, "y-dpi", info.yPelsPerMeter);
  if (QvxPushSetTarget(context->push, {pixels, stride, nullptr, nullptr}) != kQvxOk) return NoMemory(error);
  if (context->preparedFunc != nullptr) context->preparedFunc(context->pixbuf, nullptr, context->userData);
  return true;
}

// Reports the rows completed since the last report, as one area.
void ReportRows(LoadContext* context) {
  uint32_t done = QvxPushRowsDone(context->push);
  if (done == context->reported) return;
  uint32_t first = QvxPushTargetRow(context->push, context->reported);
  uint32_t last = QvxPushTargetRow(context->push, done - 1);
  if (first > last) std::swap(first, last);
  context->reported = done;
  if (context->updatedFunc != nullptr)
    context->updatedFunc(context->pixbuf, 0, static_cast<int>(first), gdk_pixbuf_get_width(context->pixbuf),
                         static_cast<int>(last - first + 1), context->userData);
}

// Takes the next bytes of the file. Bytes past the picture's last row are
// not taken.
bool Take(LoadContext* context, const uint8_t* bytes, size_t size, GError** error) {
  if (context->fed < kQvxHeaderBytes) {
    size_t copy = kQvxHeaderBytes - context->fed < size ? kQvxHeaderBytes - context->fed : size;
    std::memcpy(context->head + context->fed, bytes, copy);
  }
  context->fed += size;
  for (;;) {
    uint64_t used = 0;
    QvxPushEvent event = QvxPushFeed(context->push, bytes, size, &used);
    bytes += used, size -= used;
    switch (event) {
      case kQvxPushHeader:
        if (!Prepare(context, error)) return false;
        continue;
      case kQvxPushFailed:
        if (QvxPushStatus(context->push) == kQvxNotQvx)
          SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                   "Not a QVX picture, or one with a depth or compression that cannot be decoded");
        else
          NoMemory(error);
        return false;
      case kQvxPushRows:
      case kQvxPushFinished: ReportRows(context); return true;
      case kQvxPushNeedMore: return AnnounceFromHead(context, error);
    }
  }
}

// The input has ended: the picture is complete, or the error that says why not.
bool End(LoadContext* context, GError** error) {
  QvxStatus status = QvxPushEnd(context->push);
  if (status == kQvxOk) return true;
  const QvxPictureInfo* info = QvxPushInfo(context->push);
  if (context->fed == 0)
    SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The file is empty");
  else if (info == nullptr)
    SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "The QVX picture is truncated: the file ends inside its header");
  else
    SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
             "The QVX picture is truncated: " + std::to_string(context->fed) +
                 " of " + std::to_string(info->pictureBytes) + " bytes");
  return false;
}

LoadContext* NewContext(GError** error) {
  LoadContext* context = static_cast<LoadContext*>(g_try_malloc0(sizeof(LoadContext)));
  if (context != nullptr) context->push = QvxPushCreate(QvxDefaultRowSpec());
  if (context != nullptr && context->push != nullptr) return context;
  g_free(context);
  NoMemory(error);
  return nullptr;
}

void FreeContext(LoadContext* context) {
  if (context->pixbuf != nullptr) g_object_unref(context->pixbuf);
  QvxPushDestroy(context->push);
  g_free(context);
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** error) {
  LoadContext* context = NewContext(error);
  if (context == nullptr) return nullptr;
  context->sizeFunc = sizeFunc;
  context->preparedFunc = preparedFunc;
  context->updatedFunc = updatedFunc;
  context->userData = userData;
  return context;
}

// After a refused piece nothing more is taken, and no callback comes.
gboolean LoadIncrement(gpointer data, const guchar* bytes, guint size, GError** error) {
  LoadContext* context = static_cast<LoadContext*>(data);
  if (!context->failed && !Take(context, bytes, size, error)) context->failed = true;
  return context->failed ? FALSE : TRUE;
}

// Frees the context whatever happens; the pixbuf went to the callbacks,
// which took their own references.
gboolean StopLoad(gpointer data, GError** error) {
  LoadContext* context = static_cast<LoadContext*>(data);
  bool ok = false;
  if (context->failed)
    SetError(error, GDK_PIXBUF_ERROR_FAILED, "Loading the QVX picture stopped at an earlier error");
  else
    ok = End(context, error);
  FreeContext(context);
  return ok ? TRUE : FALSE;
}

// Whole-file loading: the same decoder fed in pieces read into one bounded
// buffer. A regular file shorter than the picture is refused once the
// header is in, before its rows are read.
GdkPixbuf* Load(FILE* file, GError** error) {
  LoadContext* context = NewContext(error);
  if (context == nullptr) return nullptr;
  context->wholeFile = true;
  context->fileBytes = UINT64_MAX;
  struct stat info {};
  long start = std::ftell(file);
  if (start >= 0 && fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= start)
    context->fileBytes = static_cast<uint64_t>(info.st_size - start);
  uint8_t* piece = static_cast<uint8_t*>(std::malloc(kReadPiece));
  bool ok = piece != nullptr || NoMemory(error);
  while (ok && QvxPushEnd(context->push) != kQvxOk) {
    size_t got = std::fread(piece, 1, kReadPiece, file);
    if (got == 0) break;
    ok = Take(context, piece, got, error);
  }
  std::free(piece);
  if (ok) ok = End(context, error);
  GdkPixbuf* pixbuf = ok ? static_cast<GdkPixbuf*>(g_object_ref(context->pixbuf)) : nullptr;
  FreeContext(context);
  return pixbuf;
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->load = Load;
  module->begin_load = BeginLoad;
  module->stop_load = StopLoad;
  module->load_increment = LoadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  // The stored signature: "BM" complemented.
  static GdkPixbufModulePattern signature[] = {
      {const_cast<char*>("\xbd\xb2"), const_cast<char*>("  "), 100},
      {nullptr, nullptr, 0},
  };
  static const gchar* mimeTypes[] = {"image/x-qvx", nullptr};
  static const gchar* extensions[] = {"qvx", nullptr};
  info->name = const_cast<gchar*>("qvx");
  info->signature = signature;
  info->description = const_cast<gchar*>("QVX picture");
  info->mime_types = const_cast<gchar**>(mimeTypes);
  info->extensions = const_cast<gchar**>(extensions);
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("MIT");
}

}  // extern "C"
