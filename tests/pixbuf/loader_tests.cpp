// The loader module as applications meet it: loaded by gdk-pixbuf from the
// build's loader cache (GDK_PIXBUF_MODULE_FILE), whole files and pieces of
// random sizes, compared pixel for pixel with the plug-in's own decode.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "pixbuf/qvx_rgb.h"
#include "tests/pixbuf/reference.h"
#include "encode/encode.h"
#include "tools/dib.h"

namespace {

// The build's loader cache and MIME database, set before gdk-pixbuf first
// reads them.
const bool kBuildEnvironment = setenv("GDK_PIXBUF_MODULE_FILE", TAVKO_PIXBUF_CACHE, 1) == 0 &&
                               setenv("XDG_DATA_HOME", TAVKO_PIXBUF_SHARE, 1) == 0;

struct Picture {
  std::string name;
  std::vector<uint8_t> bytes;
};

// A load's outcome: the pixels, or the error's code and message.
struct Outcome {
  bool ok = false;
  RgbImage image;
  int code = -1;
  std::string message;
};

Outcome FromPixbuf(GdkPixbuf* pixbuf, GError* error) {
  Outcome out;
  if (pixbuf == nullptr) {
    EXPECT_NE(error, nullptr) << "a failed load must say why";
    if (error != nullptr) {
      EXPECT_EQ(error->domain, GDK_PIXBUF_ERROR);
      out.code = error->code;
      out.message = error->message;
      g_error_free(error);
    }
    return out;
  }
  EXPECT_EQ(gdk_pixbuf_get_n_channels(pixbuf), 3);
  EXPECT_EQ(gdk_pixbuf_get_bits_per_sample(pixbuf), 8);
  out.ok = true;
  out.image.width = gdk_pixbuf_get_width(pixbuf);
  out.image.height = gdk_pixbuf_get_height(pixbuf);
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
  int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < out.image.height; ++y)
    out.image.rgb.insert(out.image.rgb.end(), pixels + y * stride, pixels + y * stride + 3 * out.image.width);
  g_object_unref(pixbuf);
  return out;
}

// Files of this process only: ctest runs the groups, and all of them under
// valgrind, side by side.
std::string TempPath(const std::string& name) {
  return testing::TempDir() + "pixbuf-" + std::to_string(getpid()) + "-" + name;
}

Outcome LoadFile(const Picture& picture) {
  std::string path = TempPath(picture.name + ".qvx");
  EXPECT_TRUE(WriteFileBytes(path, picture.bytes));
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
  std::remove(path.c_str());
  return FromPixbuf(pixbuf, error);
}

// Feeds the bytes to a QVX GdkPixbufLoader in pieces: mostly tiny, some
// large, as a network or a file manager may hand them over.
Outcome LoadPieces(const std::vector<uint8_t>& bytes, uint32_t seed) {
  std::mt19937 random(seed);
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("qvx", &error);
  EXPECT_NE(loader, nullptr) << (error ? error->message : "");
  if (loader == nullptr) return {};
  size_t at = 0;
  bool written = true;
  while (written && at < bytes.size()) {
    size_t limits[] = {1, 8, 100, 5000, 70000};
    size_t piece = 1 + random() % limits[random() % 5];
    if (piece > bytes.size() - at) piece = bytes.size() - at;
    written = gdk_pixbuf_loader_write(loader, bytes.data() + at, piece, &error);
    at += piece;
  }
  GError* closeError = nullptr;
  bool closed = gdk_pixbuf_loader_close(loader, written ? &closeError : nullptr);
  GdkPixbuf* pixbuf = nullptr;
  if (written && closed) {
    pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf != nullptr) g_object_ref(pixbuf);
  }
  g_object_unref(loader);
  return FromPixbuf(pixbuf, written ? closeError : error);
}

uint8_t* PrepareVector(void* context, int32_t width, int32_t height, size_t* stride) {
  RgbImage* image = static_cast<RgbImage*>(context);
  image->width = width;
  image->height = height;
  image->rgb.assign(3 * static_cast<size_t>(width) * height, 0);
  *stride = 3 * static_cast<size_t>(width);
  return image->rgb.data();
}

std::vector<Picture> PicturesIn(const std::string& dir, bool encode) {
  std::vector<Picture> pictures;
  for (const std::string& path : FilesIn(dir)) {
    Picture picture{BaseName(path), ReadFileBytes(path)};
    std::vector<uint8_t> qvx;
    std::string why;
    // Bitmaps that QVX cannot hold stay as they are: the loader must refuse them.
    if (encode && EncodeQvx(picture.bytes, &qvx, &why)) picture.bytes = qvx;
    pictures.push_back(picture);
  }
  return pictures;
}

struct Group {
  const char* name;
  const char* dir;
  bool encode;
};

void PrintTo(const Group& group, std::ostream* out) { *out << group.name; }

class EveryPicture : public testing::TestWithParam<Group> {};

// Every picture through the adapter, a whole-file load and three random
// splittings: all agree with the plug-in's own decode, or all refuse.
TEST_P(EveryPicture, LoadsAsThePluginDecodes) {
  const Group& group = GetParam();
  std::vector<Picture> pictures = PicturesIn(group.dir, group.encode);
  ASSERT_FALSE(pictures.empty()) << group.dir;
  int decoded = 0;
  for (const Picture& picture : pictures) {
    SCOPED_TRACE(picture.name);
    RgbImage reference;
    bool expected = ReferenceDecode(picture.bytes, &reference);
    RgbImage adapted;
    std::string why;
    QvxRgbResult result = DecodeQvxToRgb(picture.bytes.data(), picture.bytes.size(),
                                         {PrepareVector, &adapted}, &why);
    ASSERT_EQ(result == QvxRgbResult::kOk, expected) << why;
    if (expected) {
      ++decoded;
      EXPECT_EQ(adapted.width, reference.width);
      EXPECT_EQ(adapted.height, reference.height);
      EXPECT_TRUE(adapted.rgb == reference.rgb) << "adapter pixels differ";
    } else {
      EXPECT_FALSE(why.empty());
    }
    // A file without the stored signature goes to another loader by content.
    bool qvxSignature = picture.bytes.size() >= 2 && picture.bytes[0] == 0xBD && picture.bytes[1] == 0xB2;
    std::vector<Outcome> outcomes;
    if (qvxSignature) outcomes.push_back(LoadFile(picture));
    for (uint32_t seed = 1; seed <= 3; ++seed) outcomes.push_back(LoadPieces(picture.bytes, seed));
    for (const Outcome& outcome : outcomes) {
      ASSERT_EQ(outcome.ok, expected) << outcome.message;
      if (expected) {
        EXPECT_EQ(outcome.image.width, reference.width);
        EXPECT_EQ(outcome.image.height, reference.height);
        EXPECT_TRUE(outcome.image.rgb == reference.rgb) << "loaded pixels differ";
      } else {
        EXPECT_FALSE(outcome.message.empty());
      }
    }
  }
  std::printf("%s: %d of %zu pictures decoded\n", group.name, decoded, pictures.size());
}

INSTANTIATE_TEST_SUITE_P(Pictures, EveryPicture,
                         testing::Values(Group{"samples", TAVKO_SOURCE_DIR "/samples", false},
                                         Group{"corpus_good", TAVKO_CORPUS_DIR "/g", true},
                                         Group{"corpus_bad", TAVKO_CORPUS_DIR "/b", true},
                                         Group{"fuzz_seeds", TAVKO_SOURCE_DIR "/fuzz/seeds", false}),
                         [](const testing::TestParamInfo<Group>& info) { return std::string(info.param.name); });

std::vector<uint8_t> Sample(const char* name) {
  return ReadFileBytes(std::string(TAVKO_SOURCE_DIR "/samples/") + name);
}

std::vector<uint8_t> Compressed() {
  PictureShape shape = ShapeOf(8, 4, 4, 256);
  shape.compression = 1;
  return MakeQvx(shape);
}

void WriteU32Complemented(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<uint8_t>(~(value >> (8 * i)));
}

struct Refusal {
  const char* name;
  std::vector<uint8_t> bytes;
  int code;             // -1: loads
  const char* message;  // a part of the message
};

// What a user meets with a broken or foreign file, through both ways of loading.
TEST(LoaderErrors, ClearErrorForEveryBadFile) {
  std::vector<uint8_t> card = Sample("card24.qvx");
  const Refusal cases[] = {
      {"empty", {}, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "empty"},
      {"cut inside the signature", Cut(card, 1), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "header"},
      {"cut inside the header", Cut(card, 30), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "truncated"},
      {"cut inside the colour table", Cut(Sample("card8.qvx"), 300), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "truncated"},
      {"last byte missing", Cut(card, card.size() - 1), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "truncated"},
      {"plain BMP", MakeBmp(ShapeOf(24, 4, 4)), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Not a QVX"},
      {"depth 7", MakeQvx(ShapeOf(7, 4, 4)), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Not a QVX"},
      {"compressed", Compressed(), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Not a QVX"},
      {"zero width", MakeQvx(ShapeOf(24, 0, 4)), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "Not a QVX"},
      {"2 GiB of 24-bit rows", Huge(30000, 30000, 24), GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "too large"},
      {"1-bit rows of 3 GiB as RGB", Huge(1 << 20, 1024, 1), GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "too large"},
      {"row wider than an int stride", Huge(0x7FFFFFF0, 1, 1), GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "too large"},
      {"small header, 1 GiB of rows", Huge(16384, 16384, 32), GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "truncated"},
      {"bytes after the last row", Appended(card, 100000), -1, ""},
      {"rows ending inside the 54 header bytes", RowsAmongHeaders(), -1, ""},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Outcome> outcomes{LoadPieces(c.bytes, 7)};
    if (c.bytes.size() >= 2 && c.bytes[0] == 0xBD && c.bytes[1] == 0xB2) outcomes.push_back(LoadFile({"error", c.bytes}));
    for (const Outcome& outcome : outcomes) {
      ASSERT_EQ(outcome.ok, c.code == -1) << outcome.message;
      if (outcome.ok) continue;
      EXPECT_EQ(outcome.code, c.code) << outcome.message;
      EXPECT_NE(outcome.message.find(c.message), std::string::npos) << outcome.message;
    }
  }
}

// Every stored header size means to the loader what it means to the
// plug-in's own decode.
TEST(LoaderErrors, HeaderSizesAsTheCoreReadsThem) {
  for (uint32_t size = 0; size <= 124; ++size) {
    SCOPED_TRACE(size);
    Picture picture{"header" + std::to_string(size), WithHeaderSize(size)};
    RgbImage reference;
    bool expected = ReferenceDecode(picture.bytes, &reference);
    for (const Outcome& outcome : {LoadFile(picture), LoadPieces(picture.bytes, size)}) {
      ASSERT_EQ(outcome.ok, expected) << outcome.message;
      if (expected) {
        EXPECT_TRUE(outcome.image.rgb == reference.rgb);
      }
    }
  }
}

// gdk-pixbuf knows the format by name, type and content, and reads the size
// from the header alone.
TEST(LoaderFormat, RegisteredAndRecognisedByContent) {
  ASSERT_TRUE(kBuildEnvironment);
  GdkPixbufFormat* found = nullptr;
  GSList* formats = gdk_pixbuf_get_formats();
  for (GSList* f = formats; f != nullptr; f = f->next) {
    gchar* name = gdk_pixbuf_format_get_name(static_cast<GdkPixbufFormat*>(f->data));
    if (std::strcmp(name, "qvx") == 0) found = static_cast<GdkPixbufFormat*>(f->data);
    g_free(name);
  }
  g_slist_free(formats);
  ASSERT_NE(found, nullptr) << "the qvx module is not in the loader cache";
  gchar** mimes = gdk_pixbuf_format_get_mime_types(found);
  gchar** extensions = gdk_pixbuf_format_get_extensions(found);
  EXPECT_STREQ(mimes[0], "image/x-qvx");
  EXPECT_STREQ(extensions[0], "qvx");
  g_strfreev(mimes);
  g_strfreev(extensions);

  // A picture whose last row is missing, or one over the loader's limit,
  // still names its size.
  const std::pair<std::vector<uint8_t>, std::pair<int, int>> files[] = {
      {Cut(Sample("card8.qvx"), Sample("card8.qvx").size() - 1), {0, 0}},
      {Huge(30000, 30000, 24), {30000, 30000}},
      {Cut(Sample("card8.qvx"), 300), {160, 120}},  // cut inside its colour table
  };
  for (const auto& file : files) {
    std::string path = TempPath("no-extension.bin");
    ASSERT_TRUE(WriteFileBytes(path, file.first));
    gint width = 0, height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
    std::remove(path.c_str());
    ASSERT_NE(format, nullptr);
    gchar* name = gdk_pixbuf_format_get_name(format);
    EXPECT_STREQ(name, "qvx");
    g_free(name);
    std::pair<int, int> size = file.second;
    if (size.first == 0) {
      QvxHead head;
      ASSERT_NE(QvxReadHead(file.first.data(), file.first.size(), &head), QvxHeadKind::kNeedMore);
      size = {head.width, head.height};
    }
    EXPECT_EQ(width, size.first);
    EXPECT_EQ(height, size.second);
  }
}

// The areas reported by area-updated, in order: first row, rows.
typedef std::vector<std::pair<int, int>> Updates;

void Updated(GdkPixbufLoader*, int x, int y, int, int height, Updates* updates) {
  EXPECT_EQ(x, 0);
  updates->emplace_back(y, height);
}

bool Holds(const std::pair<int, int>& area, int y) { return y >= area.first && y < area.first + area.second; }

// Loads bytes in pieces of the given size with a loader of the given type,
// recording the updates; returns the pixbuf (referenced).
GdkPixbuf* LoadWatched(const std::vector<uint8_t>& bytes, const char* type, size_t piece, Updates* updates) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, nullptr);
  g_signal_connect(loader, "area-updated", G_CALLBACK(Updated), updates);
  for (size_t at = 0; at < bytes.size(); at += piece)
    EXPECT_TRUE(gdk_pixbuf_loader_write(loader, bytes.data() + at, std::min(piece, bytes.size() - at), nullptr));
  EXPECT_TRUE(gdk_pixbuf_loader_close(loader, nullptr));
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  if (pixbuf != nullptr) g_object_ref(pixbuf);
  g_object_unref(loader);
  return pixbuf;
}

// Rows are shown as their bytes arrive: every row exactly once, a
// bottom-up picture from the bottom and a top-down one from the top, as
// gdk-pixbuf's BMP loader shows the same picture; the pixbuf holds its
// rows and no more, and the stored density comes as x-dpi and y-dpi.
TEST(LoaderSignals, EveryRowUpdatedOnceInTheBmpLoadersOrder) {
  for (int32_t height : {37, -37})
    for (size_t piece : {1, 300, 65536}) {
      SCOPED_TRACE(testing::Message() << "height " << height << ", pieces of " << piece);
      PictureShape shape = ShapeOf(24, 8, height);
      std::vector<uint8_t> qvx = MakeQvx(shape), bmp = MakeBmp(shape);
      WriteU32Complemented(&qvx, 38, 3780);  // 96 dots per inch across, none stored upright
      WriteU32Complemented(&qvx, 42, 0);
      Updates ours, theirs;
      GdkPixbuf* pixbuf = LoadWatched(qvx, "qvx", piece, &ours);
      g_object_unref(LoadWatched(bmp, "bmp", piece, &theirs));
      ASSERT_NE(pixbuf, nullptr);
      std::vector<int> rows;
      for (const auto& area : ours)
        for (int i = 0; i < area.second; ++i) rows.push_back(area.first + i);
      std::sort(rows.begin(), rows.end());
      ASSERT_EQ(rows.size(), 37u);
      for (int y = 0; y < 37; ++y) ASSERT_EQ(rows[y], y);
      ASSERT_FALSE(theirs.empty());
      EXPECT_TRUE(Holds(ours.front(), theirs.front().first)) << "the first rows shown differ";
      EXPECT_TRUE(Holds(ours.back(), theirs.back().first)) << "the last rows shown differ";
      EXPECT_EQ(ours.size(), piece == 1 ? 37u : ours.size());
      EXPECT_STREQ(gdk_pixbuf_get_option(pixbuf, "x-dpi"), "96");
      EXPECT_EQ(gdk_pixbuf_get_option(pixbuf, "y-dpi"), nullptr);
      EXPECT_LE(malloc_usable_size(gdk_pixbuf_get_pixels(pixbuf)), 37u * 24 + 32) << "the pixbuf owns more than its rows";
      g_object_unref(pixbuf);
    }
}

struct Events {
  std::string order;
  int width = 0, height = 0;
};

// The loader's signals come in the order gdk-pixbuf promises, and a size
// asked for in size-prepared is delivered.
TEST(LoaderSignals, SizeThenPreparedThenUpdatedAndScaled) {
  std::vector<uint8_t> card = Sample("card24topdown.qvx");
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
  Events events;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(+[](GdkPixbufLoader* l, int w, int h, Events* e) {
                     e->order += "s";
                     e->width = w;
                     e->height = h;
                     gdk_pixbuf_loader_set_size(l, w / 2, h / 2);
                   }), &events);
  g_signal_connect(loader, "area-prepared", G_CALLBACK(+[](GdkPixbufLoader*, Events* e) { e->order += "p"; }),
                   &events);
  g_signal_connect(loader, "area-updated",
                   G_CALLBACK(+[](GdkPixbufLoader*, int, int, int, int, Events* e) { e->order += "u"; }), &events);
  for (uint8_t byte : card) ASSERT_TRUE(gdk_pixbuf_loader_write(loader, &byte, 1, nullptr));
  ASSERT_TRUE(gdk_pixbuf_loader_close(loader, nullptr));
  EXPECT_EQ(events.order, "spu");
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  ASSERT_NE(pixbuf, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), events.width / 2);
  EXPECT_EQ(gdk_pixbuf_get_height(pixbuf), events.height / 2);
  g_object_unref(loader);
}

}  // namespace
