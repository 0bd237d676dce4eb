// gdk-pixbuf loader module for QVX pictures: whole-file loading and
// incremental loading. Incoming bytes are gathered until the picture's last
// row is in, then decoded in one go into an RGB pixbuf, so a truncated file
// gives an error and never half a picture.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pixbuf/qvx_rgb.h"

namespace {

// Bytes gathered before the header is judged: more than any header form needs.
const size_t kHeadBytes = 64;
// The first block for a picture whose size is known, when the file's size is not.
const size_t kFirstBlock = 64 * 1024;

struct LoadContext {
  GdkPixbufModuleSizeFunc sizeFunc;
  GdkPixbufModulePreparedFunc preparedFunc;
  GdkPixbufModuleUpdatedFunc updatedFunc;
  gpointer userData;
  uint8_t* data;
  size_t length;
  size_t capacity;
  bool headKnown;
  bool failed;  // an earlier piece was refused; its error has been given
  QvxHead head;
};

void SetError(GError** error, int code, const std::string& text) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, code, text.c_str());
}

// Blocks of picture size ask for huge pages: faulting in a fresh 48 MiB
// block page by page takes longer than reading the file into it.
const size_t kHugePage = 2 << 20;
const size_t kLargeBlock = 4 * kHugePage;

uint8_t* AllocateBlock(size_t bytes) {
  if (bytes < kLargeBlock) return static_cast<uint8_t*>(std::malloc(bytes));
  void* block = nullptr;
  if (posix_memalign(&block, kHugePage, bytes) != 0) return nullptr;
  madvise(block, bytes / kHugePage * kHugePage, MADV_HUGEPAGE);  // a hint only
  return static_cast<uint8_t*>(block);
}

void FreeContext(LoadContext* context) {
  std::free(context->data);
  g_free(context);
}

// Grows the buffer to hold at least need bytes: doubling, but never past
// the picture's own size once that is known.
bool Reserve(LoadContext* context, size_t need, GError** error) {
  if (need <= context->capacity) return true;
  size_t grown = context->capacity < kFirstBlock ? kFirstBlock : context->capacity * 2;
  if (context->headKnown && grown > context->head.pictureBytes) grown = context->head.pictureBytes;
  if (grown < need) grown = need;
  uint8_t* data = AllocateBlock(grown);
  if (data != nullptr && context->length > 0) std::memcpy(data, context->data, context->length);
  if (data == nullptr) {
    SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the QVX picture");
    return false;
  }
  std::free(context->data);
  context->data = data;
  context->capacity = grown;
  return true;
}

// Judges the header once enough bytes are in. Reports the size to the
// size callback as soon as it is known; a size set to 0 there means the
// caller wants no pixels.
bool JudgeHead(LoadContext* context, GError** error) {
  switch (QvxReadHead(context->data, context->length, &context->head)) {
    case QvxHeadKind::kNeedMore: return true;
    case QvxHeadKind::kNotQvx:
      SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
               "Not a QVX picture, or one with a depth or compression that cannot be decoded");
      return false;
    case QvxHeadKind::kTooLarge:
      SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "The QVX picture is too large to load");
      return false;
    case QvxHeadKind::kQvx: break;
  }
  context->headKnown = true;
  if (context->length > context->head.pictureBytes) context->length = context->head.pictureBytes;
  if (context->sizeFunc != nullptr) {
    gint width = context->head.width, height = context->head.height;
    context->sizeFunc(&width, &height, context->userData);
    if (width == 0 || height == 0) {
      SetError(error, GDK_PIXBUF_ERROR_FAILED, "Loading the QVX picture was cancelled");
      return false;
    }
  }
  return true;
}

// Takes the next bytes of the file. Bytes past the picture's last row are
// not kept.
bool Gather(LoadContext* context, const uint8_t* bytes, size_t size, GError** error) {
  // kHeadBytes always decide, so this ends with the head judged or the bytes used up.
  while (size > 0 && !context->headKnown && context->length < kHeadBytes) {
    size_t take = kHeadBytes - context->length;
    if (take > size) take = size;
    if (!Reserve(context, context->length + take, error)) return false;
    std::memcpy(context->data + context->length, bytes, take);
    context->length += take;
    bytes += take;
    size -= take;
    if (!JudgeHead(context, error)) return false;
  }
  if (size == 0 || !context->headKnown) return true;
  size_t room = context->head.pictureBytes - context->length;
  if (size > room) size = room;
  if (!Reserve(context, context->length + size, error)) return false;
  std::memcpy(context->data + context->length, bytes, size);
  context->length += size;
  return true;
}

struct PixbufSink {
  LoadContext* load;
  GdkPixbuf* pixbuf;
};

void FreePixels(guchar* pixels, gpointer) { std::free(pixels); }

// Makes the pixbuf. Once the gathered bytes are no longer read, a buffer
// large enough for the pixels becomes the pixbuf's memory: a 4096 x 4096
// 24-bit picture then takes two 48 MiB blocks instead of three, and a
// fresh block costs as much time as converting its rows.
uint8_t* PreparePixbuf(void* sinkContext, int32_t width, int32_t height, bool bytesDone, size_t* stride) {
  PixbufSink* sink = static_cast<PixbufSink*>(sinkContext);
  LoadContext* load = sink->load;
  // Rows padded to 4 bytes, as gdk_pixbuf_new lays them out; the adapter
  // has checked that the sizes fit an int.
  size_t rowStride = (3 * static_cast<size_t>(width) + 3) / 4 * 4;
  if (bytesDone && load->capacity >= rowStride * static_cast<size_t>(height)) {
    sink->pixbuf = gdk_pixbuf_new_from_data(load->data, GDK_COLORSPACE_RGB, FALSE, 8, width, height,
                                            static_cast<int>(rowStride), FreePixels, nullptr);
    if (sink->pixbuf == nullptr) return nullptr;
    load->data = nullptr;
    load->capacity = load->length = 0;
  } else {
    sink->pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (sink->pixbuf == nullptr) return nullptr;
  }
  *stride = static_cast<size_t>(gdk_pixbuf_get_rowstride(sink->pixbuf));
  return gdk_pixbuf_get_pixels(sink->pixbuf);
}

// Decodes what was gathered. Returns the new pixbuf, or null with error set.
GdkPixbuf* Finish(LoadContext* context, GError** error) {
  PixbufSink sink{context, nullptr};
  std::string why;
  QvxRgbResult result = DecodeQvxToRgb(context->data, context->length, {PreparePixbuf, &sink}, &why);
  if (result == QvxRgbResult::kOk) return sink.pixbuf;
  if (sink.pixbuf != nullptr) g_object_unref(sink.pixbuf);
  int code = GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
  if (result == QvxRgbResult::kTooLarge || result == QvxRgbResult::kNoMemory)
    code = GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
  if (!why.empty()) why[0] = static_cast<char>(g_ascii_toupper(why[0]));
  SetError(error, code, why);
  return nullptr;
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** error) {
  LoadContext* context = static_cast<LoadContext*>(g_try_malloc0(sizeof(LoadContext)));
  if (context == nullptr) {
    SetError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "Not enough memory to load the QVX picture");
    return nullptr;
  }
  context->sizeFunc = sizeFunc;
  context->preparedFunc = preparedFunc;
  context->updatedFunc = updatedFunc;
  context->userData = userData;
  return context;
}

gboolean LoadIncrement(gpointer data, const guchar* bytes, guint size, GError** error) {
  LoadContext* context = static_cast<LoadContext*>(data);
  if (!context->failed && !Gather(context, bytes, size, error)) context->failed = true;
  return context->failed ? FALSE : TRUE;
}

// Frees the context whatever happens; the pixbuf goes to the callbacks,
// which take their own references.
gboolean StopLoad(gpointer data, GError** error) {
  LoadContext* context = static_cast<LoadContext*>(data);
  // After a refused piece nothing is decoded, nor shown: not even a
  // picture whose bytes all arrived before a cancelled size.
  GdkPixbuf* pixbuf = nullptr;
  if (context->failed)
    SetError(error, GDK_PIXBUF_ERROR_FAILED, "Loading the QVX picture stopped at an earlier error");
  else
    pixbuf = Finish(context, error);
  if (pixbuf != nullptr) {
    if (context->preparedFunc != nullptr) context->preparedFunc(pixbuf, nullptr, context->userData);
    if (context->updatedFunc != nullptr)
      context->updatedFunc(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
                           context->userData);
    g_object_unref(pixbuf);
  }
  FreeContext(context);
  return pixbuf != nullptr ? TRUE : FALSE;
}

// Whole-file loading reads straight into the buffer. For a regular file,
// one shorter than the picture is reported at once, without reading it.
GdkPixbuf* Load(FILE* file, GError** error) {
  LoadContext context = {};
  uint8_t head[kHeadBytes];
  size_t got = std::fread(head, 1, sizeof head, file);
  GdkPixbuf* pixbuf = nullptr;
  if (Gather(&context, head, got, error)) {
    struct stat info {};
    long at = std::ftell(file);
    bool shortFile = context.headKnown && at >= 0 && fstat(fileno(file), &info) == 0 &&
                     S_ISREG(info.st_mode) &&
                     static_cast<uint64_t>(info.st_size) - static_cast<uint64_t>(at) + context.length <
                         context.head.pictureBytes;
    bool ok = true;
    if (shortFile) {
      SetError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
               "The QVX picture is truncated: the file has " + std::to_string(info.st_size) +
                   " of the " + std::to_string(context.head.pictureBytes) + " bytes it needs");
      ok = false;
    } else if (context.headKnown) {
      ok = Reserve(&context, context.head.pictureBytes, error);
    }
    while (ok && context.headKnown && context.length < context.head.pictureBytes) {
      size_t read = std::fread(context.data + context.length, 1, context.head.pictureBytes - context.length, file);
      if (read == 0) break;
      context.length += read;
    }
    if (ok) pixbuf = Finish(&context, error);
  }
  std::free(context.data);
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
