// The tavko command, run as a person runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stb/stb_image.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "decode/qvx.h"
#include "tools/dib.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Pixels as 8-bit red, green, blue rows, top first.
struct Pixels {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  bool operator==(const Pixels& o) const { return width == o.width && height == o.height && rgb == o.rgb; }
};

Pixels Load(const std::vector<uint8_t>& file) {
  Pixels p;
  int n;
  unsigned char* data = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &p.width, &p.height, &n, 3);
  if (data) p.rgb.assign(data, data + static_cast<size_t>(p.width) * p.height * 3);
  stbi_image_free(data);
  return p;
}

void Put(std::vector<uint8_t>* out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavko-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(chmod(pattern, 0777), 0);  // for the rows run as an ordinary user
  }
  void TearDown() override {
    std::string command = "chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  // stdout: where standard output goes ("" for the file out).
  Outcome Tavko(const std::string& args, const std::string& input = "/dev/null", const std::string& before = "",
                const std::string& stdout = "") {
    std::string command = "cd '" + dir_ + "' && " + before + TAVKO_TOOL " " + args + " >" +
                          (stdout.empty() ? "'" + dir_ + "/out'" : stdout) + " 2>'" + dir_ + "/err' <" + input;
    int raw = std::system(command.c_str());
    Outcome run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir_ + "/out"), Slurp(dir_ + "/err")};
    return run;
  }
  std::string Slurp(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string Path(const std::string& name) { return dir_ + "/" + name; }
  // Encodes source into QVX and decodes that to PNG; the PNG's pixels.
  Pixels RoundTrip(const std::string& source) {
    Outcome encode = Tavko("encode '" + source + "' " + Path("r.qvx"));
    EXPECT_EQ(encode.status, 0) << source << ": " << encode.err;
    Outcome decode = Tavko("decode " + Path("r.qvx") + " " + Path("r.png"));
    EXPECT_EQ(decode.status, 0) << source << ": " << decode.err;
    return Load(ReadFileBytes(Path("r.png")));
  }
  // Pixels of a picture through ImageMagick, for files stb_image cannot read.
  Pixels Magick(const std::string& path) {
    std::string command = "convert '" + path + "' -depth 8 png24:'" + Path("magick.png") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return Load(ReadFileBytes(Path("magick.png")));
  }
  std::string dir_;
};

const std::string kSamples = TAVKO_SOURCE_DIR "/samples";
// Runs a command as an ordinary user, for rows where root's rights differ.
const std::string kNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
const std::string kGood = TAVKO_CORPUS_DIR "/g";
const std::string kBad = TAVKO_CORPUS_DIR "/b";

TEST_F(Tool, EncodeThenDecodeGivesBackEveryStorableCorpusPicture) {
  int matched = 0;
  for (const std::string& bmp : FilesIn(kGood)) {
    SCOPED_TRACE(bmp);
    Pixels ours = RoundTrip(bmp), theirs = Load(ReadFileBytes(bmp));
    if (theirs.rgb.empty()) theirs = Magick(bmp);  // run-length pictures
    EXPECT_TRUE(ours == theirs);
    ++matched;
  }
  EXPECT_GE(matched, 25);
}

// Header forms the plug-in reads but few readers do: fields past the stored
// header are absent and the colour table follows straight after it.
TEST_F(Tool, ShortHeadersComeBackPixelForPixel) {
  struct Case {
    uint32_t headerSize;
    uint16_t bits;
  } cases[] = {{16, 1}, {16, 4}, {16, 8}, {20, 1}, {20, 4}, {20, 8}, {24, 1}, {24, 4},
               {24, 8}, {36, 1}, {36, 4}, {36, 8}, {64, 8}, {12, 8}, {16, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.headerSize) + " bytes, " + std::to_string(c.bits) + " bits");
    const int width = 37, height = 23;
    bool core = c.headerSize == 12;
    uint32_t colours = c.bits <= 8 ? 1u << c.bits : 0, entry = core ? 3 : 4;
    uint64_t table = 14 + c.headerSize, offBits = table + entry * colours, stride = StrideOf(width, c.bits);
    std::vector<uint8_t> bmp(offBits + stride * height, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    Put(&bmp, 2, bmp.size(), 4);
    Put(&bmp, 10, offBits, 4);
    Put(&bmp, 14, c.headerSize, 4);
    Put(&bmp, 18, width, core ? 2 : 4);
    Put(&bmp, core ? 20 : 22, height, core ? 2 : 4);
    Put(&bmp, core ? 22 : 26, 1, 2);
    Put(&bmp, core ? 24 : 28, c.bits, 2);
    uint32_t state = c.headerSize * 31 + c.bits;
    auto next = [&state]() { return static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24); };
    // Colours never black, so a table stored plain shows at once.
    for (uint32_t i = 0; i < colours; ++i)
      for (uint32_t k = 0; k < 3; ++k) bmp[table + entry * i + k] = static_cast<uint8_t>(next() | 0x40);
    for (uint64_t i = offBits; i < bmp.size(); ++i) bmp[i] = next();
    Pixels expected;
    expected.width = width;
    expected.height = height;
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = &bmp[offBits + stride * (height - 1 - y)];
      for (int x = 0; x < width; ++x) {
        const uint8_t* bgr = c.bits > 8 ? row + 3 * x : &bmp[table + entry * DibIndex(row, x, c.bits)];
        expected.rgb.insert(expected.rgb.end(), {bgr[2], bgr[1], bgr[0]});
      }
    }
    ASSERT_TRUE(WriteFileBytes(Path("short.bmp"), bmp));
    EXPECT_TRUE(RoundTrip(Path("short.bmp")) == expected);
  }
}

TEST_F(Tool, PngInputComesBackPixelForPixel) {
  const std::string photo = kGood + "/rgb24.bmp", palette = kGood + "/pal8.bmp";
  struct Case {
    const char* name;
    std::string make;  // ImageMagick arguments that make the PNG
  } cases[] = {
      {"rgb", photo + " png24:"},
      {"palette", palette + " png8:"},
      {"grey", photo + " -colorspace gray -depth 8 png8:"},
      {"grey 1-bit", photo + " -monochrome -depth 1 png:"},
      {"with alpha", photo + " -alpha set -channel A -evaluate set 50% +channel png32:"},
      {"interlaced", photo + " -interlace PNG png24:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string command = "convert " + c.make + "'" + Path("in.png") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(RoundTrip(Path("in.png")) == Load(ReadFileBytes(Path("in.png"))));
  }
}

// What encode cannot store, it says why and what to do; damaged files never
// crash it.
TEST_F(Tool, PicturesThatCannotBeStoredGetOneLineSayingWhy) {
  auto plain = [](uint16_t bits, uint32_t compression, uint32_t headerSize = 40) {
    PictureShape shape = ShapeOf(bits, 8, 8, bits <= 8 ? 2 : 0, headerSize);
    shape.compression = compression;
    return MakeBmp(shape);
  };
  std::vector<uint8_t> tall = MakeBmp(ShapeOf(1, 8, 1, 2, 12));
  Put(&tall, 20, 40000, 2);
  tall.resize(tall.size() + 4 * 40000);
  std::vector<uint8_t> negative = plain(24, 0), tableless = plain(8, 0);
  Put(&negative, 18, static_cast<uint32_t>(-8), 4);
  tableless.erase(tableless.begin() + 54, tableless.begin() + 54 + 4 * 2);
  Put(&tableless, 10, 54, 4);
  Put(&tableless, 46, 256, 4);
  // A kilobyte of run-length data that would unpack to 900 megapixels.
  std::vector<uint8_t> bomb = MakeBmp(ShapeOf(8, 8, 8, 256));
  bomb.resize(PixelOffsetOf(ShapeOf(8, 8, 8, 256)));
  bomb.insert(bomb.end(), {0, 1});
  Put(&bomb, 18, 30000, 4);
  Put(&bomb, 22, 30000, 4);
  Put(&bomb, 30, 1, 4);
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    std::string message;
  } cases[] = {
      {"64-bit", plain(64, 0), "64-bit pictures are not held by QVX; save it with 24 or 32"},
      {"JPEG inside", plain(24, 4), "it holds a JPEG picture; convert that to PNG"},
      {"PNG inside", plain(24, 5), "it holds a PNG picture"},
      {"Huffman", plain(1, 3, 64), "Huffman-compressed bitmaps are not held by QVX"},
      {"core, 40000 rows", tall, "gives a height of 40000, more than QVX holds with that header"},
      {"unknown compression", plain(8, 9), "compression method is unknown"},
      {"text", {'h', 'e', 'l', 'l', 'o'}, "not a BMP or PNG file"},
      {"damaged PNG", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}, "unreadable PNG"},
      {"OS/2 RLE24", plain(24, 4, 64), "its 24-bit run-length data (an OS/2 form) is not held"},
      {"negative width", negative, "its width is negative (-8)"},
      {"no colour table", tableless, "it promises 256 colours but its colour table holds 0"},
      {"run-length bomb", bomb, "30000 x 30000 pixels, more than the limit of 268435456 (raise it with --max-pixels)"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(WriteFileBytes(Path("in.bmp"), c.file));
    Outcome run = Tavko("encode in.bmp out.qvx");
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.err.find("tavko: in.bmp: "), 0u) << c.name << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.name << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.name;
    EXPECT_FALSE(std::ifstream(Path("out.qvx")).good()) << c.name;
  }
  for (const std::string& bmp : FilesIn(kBad)) {
    Outcome encode = Tavko("encode '" + bmp + "' x.qvx");
    ASSERT_TRUE(encode.status == 0 || encode.status == 1) << bmp << encode.err;
    if (encode.status == 1)
      EXPECT_TRUE(encode.err.find("cannot be stored as QVX: ") != std::string::npos ||
                  encode.err.find("--max-pixels") != std::string::npos)
          << encode.err;
    Outcome decode = Tavko("decode '" + bmp + "' x.png");
    EXPECT_EQ(decode.status, 1) << bmp;
    EXPECT_NE(decode.err.find("not a QVX picture"), std::string::npos) << decode.err;
  }
}

TEST_F(Tool, PngsHaveTheKindAndPixelsOfTheBitmap) {
  struct Case {
    const char* sample;
    int colourType;  // 0 grey, 2 RGB, 3 palette
    int bits;
  } cases[] = {{"card1", 0, 1},  {"card2", 0, 2},  {"card4", 3, 4},  {"card8", 3, 8},        {"card8core", 3, 8},
               {"card16", 2, 8}, {"card24", 2, 8}, {"card32", 2, 8}, {"card24topdown", 2, 8}};
  for (const Case& c : cases) {
    std::string in = kSamples + "/" + c.sample + ".qvx";
    for (const char* options : {"", "--level 9", "--keep16 --keep32"}) {
      ASSERT_EQ(Tavko("decode " + in + " a.png " + options).status, 0);
      ASSERT_EQ(Tavko("decode " + in + " a.bmp " + options).status, 0);
      std::vector<uint8_t> png = ReadFileBytes(Path("a.png"));
      ASSERT_GT(png.size(), 26u);
      EXPECT_EQ(png[25], c.colourType) << c.sample;
      EXPECT_EQ(png[24], c.bits) << c.sample;
      EXPECT_TRUE(Load(png) == Load(ReadFileBytes(Path("a.bmp")))) << c.sample << " " << options;
    }
  }
}

// A picture of several runs of rows, through every way of compressing.
TEST_F(Tool, LargePngsKeepTheirPixelsAtEveryLevel) {
  ASSERT_TRUE(WriteFileBytes(Path("big.qvx"), MakeQvx(ShapeOf(24, 1500, 1100))));
  ASSERT_EQ(Tavko("decode big.qvx big.bmp").status, 0);
  Pixels expected = Load(ReadFileBytes(Path("big.bmp")));
  ASSERT_EQ(expected.width, 1500);
  for (const char* options : {"--level 1", "--level 2", "--level 2 -j 1", "--level 3", "--level 9"}) {
    ASSERT_EQ(Tavko(std::string("decode big.qvx big.png ") + options).status, 0) << options;
    EXPECT_TRUE(Load(ReadFileBytes(Path("big.png"))) == expected) << options;
  }
}

TEST_F(Tool, InfoReportsEachFile) {
  Outcome run = Tavko("info " + kSamples + "/card8.qvx " + kSamples + "/card24topdown.qvx " + kSamples +
                      "/card8core.qvx");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("card8.qvx: QVX picture, 160 x 120, 8 bits per pixel stored, delivered as 8 bits per pixel\n"
                         "  header: 40-byte information header; palette: 256 entries; density: 2835 x 2835"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("card24topdown.qvx: QVX picture, 160 x 120 (top-down)"), std::string::npos);
  EXPECT_NE(run.out.find("header: core (12 bytes)"), std::string::npos);
  Outcome missing = Tavko("info " + Path("none.qvx"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.qvx: No such file or directory"), std::string::npos) << missing.err;
}

TEST_F(Tool, InfoReadsOnlyTheHeaderAndSaysWhatIsWrong) {
  std::vector<uint8_t> cut = ReadFileBytes(kSamples + "/card24.qvx");
  cut.resize(cut.size() - 1000);
  ASSERT_TRUE(WriteFileBytes(Path("cut.qvx"), cut));
  ASSERT_TRUE(WriteFileBytes(Path("narrow.qvx"), MakeQvx(ShapeOf(24, -4, 4))));
  std::vector<uint8_t> tall = MakeQvx(ShapeOf(24, 4, 4));
  Put(&tall, 22, ~static_cast<uint32_t>(INT32_MIN), 4);  // stored complemented
  ASSERT_TRUE(WriteFileBytes(Path("tall.qvx"), tall));
  std::string card = kSamples + "/card4.qvx";
  ASSERT_TRUE(WriteFileBytes(Path("b\xc3\xa9\xff\x01.qvx"), ReadFileBytes(card)));  // not UTF-8
  struct Case {
    std::string args;
    int status;
    std::string text;
  } cases[] = {
      {"info /dev/zero", 1, "/dev/zero: not a QVX picture"},
      {"info " + kGood + "/pal8.bmp", 1, "pal8.bmp: not a QVX picture"},
      {"info cut.qvx", 0, "the file is shorter than its header promises (56654 of 57654 bytes)"},
      {"info narrow.qvx", 1, "picture size -4 x 4 has no pixels; it cannot be decoded"},
      {"info tall.qvx", 0, "QVX picture, 4 x 2147483648 (top-down)"},
      {"info --json " + card + " cut.qvx /dev/zero",
       1,
       "{\"file\":\"" + card + "\",\"qvx\":true,\"width\":160,\"height\":120,\"top_down\":false,"
       "\"stored_bits\":4,\"delivered_bits\":4,\"header_bytes\":40,\"core_header\":false,"
       "\"palette_entries\":16,\"x_pixels_per_metre\":2835,\"y_pixels_per_metre\":2835,"
       "\"bytes_needed\":9718,\"bytes\":9718,\"truncated\":false}\n"
       "{\"file\":\"cut.qvx\",\"qvx\":true,"},
      {"info --json /dev/zero", 1, "{\"file\":\"/dev/zero\",\"qvx\":false,\"problem\":\"not a QVX picture\"}\n"},
      {"info --json none.qvx /tmp", 1,
       "{\"file\":\"none.qvx\",\"qvx\":false,\"error\":\"No such file or directory\"}\n"
       "{\"file\":\"/tmp\",\"qvx\":false,\"error\":\"is a directory\"}\n"},
      {"info --json \"$(printf 'b\\303\\251\\377\\001.qvx')\"", 0, "{\"file\":\"b\xc3\xa9\\udcff\\u0001.qvx\",\"qvx\":true,"},
      {"info - ", 0, "-: QVX picture, 160 x 120"},
  };
  for (const Case& c : cases) {
    Outcome run = Tavko(c.args, c.args == "info - " ? card : "/dev/null");
    EXPECT_EQ(run.status, c.status) << c.args << run.err;
    EXPECT_NE(run.out.find(c.text), std::string::npos) << c.args << "\n" << run.out;
  }
  EXPECT_EQ(Tavko("decode narrow.qvx x.png").status, 1) << "info and decode agree";
}

// Memory short of a picture: a message and status 1, never a crash, and
// nothing left behind; PNG writing falls back to streaming when it can.
TEST_F(Tool, MemoryRunningOutEndsInAMessage) {
  ASSERT_TRUE(WriteFileBytes(Path("big.qvx"), MakeQvx(ShapeOf(24, 4000, 4000))));
  ASSERT_TRUE(WriteFileBytes(Path("big.bmp"), MakeBmp(ShapeOf(24, 4000, 4000))));
  struct Case {
    std::string args;
    int megabytes;
    int status;
    std::string message;
  } cases[] = {
      {"decode big.qvx big.png", 170, 0, ""},  // no room to hold the whole filtered picture
      {"decode big.qvx big.png", 60, 1, "not enough memory to"},  // decode it, or write the PNG
      {"decode - big.png", 40, 1, "standard input: not enough memory to read it"},
      {"encode - big2.qvx", 40, 1, "standard input: not enough memory to read it"},
  };
  for (const Case& c : cases) {
    std::string input = Path(c.args[0] == 'e' ? "big.bmp" : "big.qvx");
    Outcome run = Tavko(c.args, input, "ulimit -v " + std::to_string(c.megabytes * 1024) + " && ");
    EXPECT_EQ(run.status, c.status) << c.args << " in " << c.megabytes << " MB: " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << run.err;
    EXPECT_EQ(FilesIn(dir_).size(), c.status == 0 ? 5u : 4u) << c.args;
    std::remove(Path("big.png").c_str());
  }
}

TEST_F(Tool, OptionsChooseTheDeliveredDepth) {
  struct Case {
    const char* sample;
    const char* options;
    int bits;
  } cases[] = {{"card16.qvx", "", 24}, {"card16.qvx", "--keep16", 16}, {"card32.qvx", "", 24},
               {"card32.qvx", "--keep32", 32}, {"card2.qvx", "", 4}};
  for (const Case& c : cases) {
    Outcome run = Tavko(std::string("decode ") + kSamples + "/" + c.sample + " " + Path("o.bmp") + " " + c.options);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<uint8_t> bmp = ReadFileBytes(Path("o.bmp"));
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bmp[14 + 14], c.bits) << c.sample << " " << c.options;
  }
}

TEST_F(Tool, PictureAtAnOffset) {
  std::vector<uint8_t> file(333, 0x55), sample = ReadFileBytes(kSamples + "/card4.qvx");
  file.insert(file.end(), sample.begin(), sample.end());
  ASSERT_TRUE(WriteFileBytes(Path("wrapped.bin"), file));
  EXPECT_EQ(Tavko("decode " + Path("wrapped.bin") + " " + Path("a.bmp") + " --offset 333").status, 0);
  EXPECT_EQ(Tavko("decode - b.bmp --offset 333", Path("wrapped.bin")).status, 0);
  EXPECT_EQ(Tavko("decode " + kSamples + "/card4.qvx " + Path("c.bmp")).status, 0);
  EXPECT_EQ(ReadFileBytes(Path("a.bmp")), ReadFileBytes(Path("c.bmp")));
  EXPECT_EQ(ReadFileBytes(Path("b.bmp")), ReadFileBytes(Path("c.bmp")));
}

TEST_F(Tool, FailuresSayWhatAndLeaveNoFile) {
  std::vector<uint8_t> cut = ReadFileBytes(kSamples + "/card24.qvx");
  cut.resize(cut.size() - 1);
  ASSERT_TRUE(WriteFileBytes(Path("cut.qvx"), cut));
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("locked").c_str(), 0555), 0);
  std::string card = kSamples + "/card8.qvx";
  std::vector<uint8_t> inside = ReadFileBytes(card);
  Put(&inside, 10, ~3u, 4);  // pixels from byte 3, inside the headers
  ASSERT_TRUE(WriteFileBytes(Path("folder/inside.qvx"), inside));
  struct Case {
    std::string args;
    int status;
    std::string message;
  } cases[] = {
      {"decode " + Path("none.qvx") + " " + Path("x.png"), 1, "none.qvx: No such file or directory"},
      {"decode " + kGood + "/pal8.bmp " + Path("x.png"), 1, "pal8.bmp: not a QVX picture"},
      {"decode " + Path("cut.qvx") + " " + Path("x.png"), 1, "cut.qvx: file shorter than its header promises"},
      {"decode " + Path("folder") + " " + Path("x.png"), 1, "folder: is a directory"},
      {"decode " + card + " " + Path("folder"), 2, "folder' is a folder; to decode into it, give -d '"},
      {"decode " + card + " -d " + Path("cut.qvx"), 1, "cut.qvx: is not a folder"},
      {"decode " + card + " " + Path("folder.png/x.png"), 1, "cannot write"},
      {"decode " + card + " " + Path("locked") + "/x.png", 1, "cannot write: Permission denied"},
      {"decode " + card + " " + Path("x.gif"), 2, "the output must end in .png or .bmp"},
      {"decode " + card, 2, "decode needs an input and an output file"},
      {"decode " + card + " " + Path("x.png") + " --offset", 2, "tavko: --offset needs a value"},
      {"decode " + card + " " + Path("x.png") + " --offset=-4", 2, "--offset: -4 is out of range; give a whole number from 0 to 2147483647"},
      {"decode " + card + " " + Path("x.png") + " --level=abc", 2, "--level: 'abc' is not a number"},
      {"decode " + card + " " + Path("x.png") + " --offset 999999", 1,
       "--offset 999999 is past the end of the file (20278 bytes)"},
      {"decode " + card + " " + Path("x.png") + " --bogus", 2, "tavko: unknown option --bogus"},
      {"decode " + card + " " + Path("x.png") + " --level 0", 2, "--level: 0 is out of range; give a whole number from 1 to 9"},
      {"decode " + card + " " + Path("x.png") + " --format gif", 2, "--format: 'gif' is not a format it writes; give png or bmp"},
      {"encode " + card + " " + Path("x.qvx") + " --max-pixels=-1", 2, "--max-pixels: -1 is out of range"},
      {"decode " + card + " -o " + Path("x.png") + " -d " + Path("folder"), 2, "-o and -d do not go together"},
      {"decode " + card + " " + Path("x.png") + " --max-pixels 19199", 1,
       "160 x 120 pixels, more than the limit of 19199 (raise it with --max-pixels)"},
      {"encode " + kGood + "/rgb24.bmp " + Path("x.bmp"), 2, "the output must end in .qvx (or give --format qvx)"},
      {"decode " + card + " -", 2, "writing to standard output needs --format png or --format bmp"},
      {"decode " + card + " -d " + Path("locked/sub"), 1, "locked/sub: cannot make the folder: Permission denied"},
      {"encode " + Path("none.bmp") + " " + Path("x.qvx"), 1, "none.bmp: No such file or directory"},
      {"encode " + card + " " + Path("x.qvx"), 1, "not a BMP or PNG file"},
      {"frobnicate", 2, "unknown command frobnicate"},
      {"", 2, "no command given"},
      {"info", 2, "info needs at least one file"},
      {"help frobnicate", 2, "no help on frobnicate"},
      {"config", 1, "Windows plug-in only; here decode takes --keep16 and --keep32"},
      {"decode " + Path("folder/inside.qvx") + " " + Path("x.png"), 1, "inside.qvx: not a QVX picture"},
  };
  for (const Case& c : cases) {
    bool locked = c.message.find("Permission denied") != std::string::npos;
    // root writes anywhere: those rows run as nobody
    Outcome run = Tavko(c.args, "/dev/null", locked && geteuid() == 0 ? kNobody : "");
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << "\n" << run.err;
    // A usage error is one line and where to read more.
    if (c.status == 2) EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    if (c.status == 2) EXPECT_NE(run.err.find("\ntry 'tavko"), std::string::npos) << run.err;
    if (c.status == 2) EXPECT_FALSE(std::isupper(static_cast<unsigned char>(run.err[7]))) << "in our voice: " << run.err;
    EXPECT_EQ(FilesIn(dir_).size(), 3u) << "no output left for " << c.args;
  }
}

TEST_F(Tool, ExistingOutputSurvivesAFailedDecode) {
  ASSERT_TRUE(WriteFileBytes(Path("keep.png"), {1, 2, 3}));
  Outcome run = Tavko("decode " + kGood + "/pal8.bmp " + Path("keep.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadFileBytes(Path("keep.png")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Tavko("decode " + kSamples + "/card8.qvx " + Path("keep.png")).status, 0);
  EXPECT_GT(ReadFileBytes(Path("keep.png")).size(), 3u) << "replaced after a successful decode";
}

// Outputs through links, with permissions, and with names near the limit.
TEST_F(Tool, OutputsReplaceOnlyWhatTheyName) {
  std::string card = kSamples + "/card8.qvx ";
  ASSERT_EQ(mkdir(Path("real").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileBytes(Path("real/target.png"), {7}));
  ASSERT_EQ(symlink("real/target.png", Path("link.png").c_str()), 0);
  ASSERT_EQ(Tavko("decode " + card + "link.png").status, 0);
  struct stat info;
  ASSERT_EQ(lstat(Path("link.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link stays a link";
  EXPECT_GT(ReadFileBytes(Path("real/target.png")).size(), 1u) << "its target gets the picture";

  ASSERT_TRUE(WriteFileBytes(Path("private.png"), {7}));
  ASSERT_EQ(chmod(Path("private.png").c_str(), 0640), 0);
  ASSERT_EQ(Tavko("decode " + card + "private.png").status, 0);
  ASSERT_EQ(stat(Path("private.png").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  std::string longName = std::string(251, 'n') + ".png";  // 255 bytes, the most a name has
  Outcome run = Tavko("decode " + card + longName);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(FilesIn(dir_).size(), 5u) << "private.png, link.png, the long name, out and err";
}

// Links planted where tavko puts its temporary files, under the names it
// will try first (known here: the child's process number is the program's).
TEST_F(Tool, PlantedTemporaryNamesAreNeverFollowed) {
  ASSERT_TRUE(WriteFileBytes(Path("victim"), {5, 5}));
  pid_t child = fork();
  if (child == 0) {
    char name[64];
    for (int serial = 0; serial < 3; ++serial) {
      std::snprintf(name, sizeof name, "/.tv%lx%x", static_cast<unsigned long>(getpid()), serial);
      if (symlink(Path("victim").c_str(), (dir_ + name).c_str()) != 0) _exit(126);
    }
    std::string card = kSamples + "/card8.qvx", out = Path("out.png");
    execl(TAVKO_TOOL, TAVKO_TOOL, "decode", card.c_str(), out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFileBytes(Path("victim")), (std::vector<uint8_t>{5, 5}));
  EXPECT_EQ(Load(ReadFileBytes(Path("out.png"))).width, 160);
}

TEST_F(Tool, ManyInputsGoToOneFolder) {
  ASSERT_EQ(mkdir(Path("pics").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("one").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileBytes(Path("broken.qvx"), {1, 2, 3}));
  std::string inputs = kSamples + "/card1.qvx " + kSamples + "/card8.qvx broken.qvx " + kSamples + "/card24.qvx";
  struct Case {
    std::string args;
    int status;
    std::vector<std::string> written;
    std::string summary;
  } cases[] = {
      {"decode " + inputs + " -d pics -j 3", 1, {"card1.png", "card24.png", "card8.png"},
       "3 of 4 pictures decoded into pics, 1 failed"},
      {"decode " + inputs + " -d pics -j 1 --format bmp -v", 1, {"card1.bmp", "card24.bmp", "card8.bmp"},
       "card8.qvx -> pics/card8.bmp"},
      {"decode " + kSamples + "/card1.qvx one/card1.qvx -d pics", 1, {"card1.png"}, "of the same name"},
      {"decode " + kSamples + "/card1.qvx " + kSamples + "/card4.qvx -d pics --quiet", 0, {"card1.png", "card4.png"},
       ""},
  };
  ASSERT_EQ(std::system(("cp " + kSamples + "/card1.qvx " + Path("one")).c_str()), 0);
  for (const Case& c : cases) {
    ASSERT_EQ(std::system(("rm -f " + Path("pics") + "/*").c_str()), 0);
    Outcome run = Tavko(c.args);
    EXPECT_EQ(run.status, c.status) << c.args << run.err;
    std::vector<std::string> written;
    for (const std::string& path : FilesIn(Path("pics"))) written.push_back(BaseName(path));
    EXPECT_EQ(written, c.written) << c.args;
    EXPECT_NE(run.err.find(c.summary), std::string::npos) << c.args << run.err;
    if (c.summary.empty()) EXPECT_EQ(run.err, "");
  }
  // Workers and threads change nothing in the files.
  ASSERT_EQ(Tavko("decode " + inputs + " -d pics -j 1").status, 1);
  std::vector<uint8_t> alone = ReadFileBytes(Path("pics/card24.png"));
  ASSERT_EQ(Tavko("decode " + inputs + " -d pics -j 4").status, 1);
  EXPECT_EQ(ReadFileBytes(Path("pics/card24.png")), alone);
}

TEST_F(Tool, DashReadsStandardInputAndWritesStandardOutput) {
  std::string card = kSamples + "/card8.qvx", bmp = kGood + "/rgb24.bmp";
  ASSERT_EQ(Tavko("decode " + card + " file.png").status, 0);
  ASSERT_EQ(Tavko("encode " + bmp + " file.qvx").status, 0);
  struct Case {
    std::string args, input, same;
  } cases[] = {
      {"decode - piped.png", card, "file.png"},
      {"decode " + card + " - --format png", "/dev/null", "file.png"},
      {"decode - - --format png", card, "file.png"},
      {"encode " + bmp + " -", "/dev/null", "file.qvx"},
      {"encode - -", bmp, "file.qvx"},
  };
  for (const Case& c : cases) {
    Outcome run = Tavko(c.args, c.input);
    ASSERT_EQ(run.status, 0) << c.args << run.err;
    std::vector<uint8_t> got = ReadFileBytes(Path("piped.png"));
    if (got.empty()) got.assign(run.out.begin(), run.out.end());
    EXPECT_EQ(got, ReadFileBytes(Path(c.same))) << c.args;
    EXPECT_FALSE(std::ifstream(Path("-")).good()) << "no file named -";
    std::remove(Path("piped.png").c_str());
  }
}

// A real signal while tavko reads its input from a pipe that the test
// holds open: the moment is the test's, and the temporary output goes.
TEST_F(Tool, SignalsLeaveNoTemporaryFile) {
  std::vector<uint8_t> card = ReadFileBytes(kSamples + "/card24.qvx"), bmp = ReadFileBytes(kGood + "/rgb24.bmp");
  ASSERT_TRUE(WriteFileBytes(Path("old.png"), {9}));
  ASSERT_TRUE(WriteFileBytes(Path("old.qvx"), {9}));
  struct Case {
    const char* command;
    int signal;
  } cases[] = {{"decode", SIGTERM}, {"decode", SIGHUP},  {"decode", SIGINT},  {"decode", SIGQUIT},
               {"decode", SIGPIPE}, {"decode", SIGALRM}, {"decode", SIGUSR1}, {"decode", SIGUSR2},
               {"decode", SIGXFSZ}, {"encode", SIGINT},  {"encode", SIGTERM}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + strsignal(c.signal));
    std::string fifo = Path("slow"), out = Path(c.command[0] == 'd' ? "old.png" : "old.qvx");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t child = fork();
    if (child == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execl(TAVKO_TOOL, TAVKO_TOOL, c.command, fifo.c_str(), out.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Opening the pipe waits for tavko to open it, which it does only after
    // creating its temporary output.
    int pipe = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(pipe, 0);
    const std::vector<uint8_t>& input = std::string(c.command) == "decode" ? card : bmp;
    ASSERT_EQ(write(pipe, input.data(), 4096), 4096);
    kill(child, c.signal);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipe);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "ended by the signal itself: " << status;
    unlink(fifo.c_str());
    EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{9}));
    EXPECT_EQ(FilesIn(dir_).size(), 2u) << "old.png and old.qvx only";
  }
  // The file-size limit met while writing, and a reader that goes away.
  ASSERT_TRUE(WriteFileBytes(Path("big.qvx"), MakeQvx(ShapeOf(24, 1000, 1000))));
  struct Raised {
    std::string args, before;
    int signal;
  } raised[] = {{"decode big.qvx big.bmp", "ulimit -f 64 && ", SIGXFSZ},
                {"decode big.qvx - --format bmp | head -c 1", "set -o pipefail; ", SIGPIPE}};
  for (const Raised& r : raised) {
    Outcome run = Tavko(r.args, "/dev/null", "bash -c '" + r.before, "/dev/null'");
    EXPECT_EQ(run.status, 128 + r.signal) << r.args << run.err;
    EXPECT_EQ(FilesIn(dir_).size(), 4u) << r.args << ": old.png, old.qvx, big.qvx and err only";
  }
}

TEST_F(Tool, HelpAndVersion) {
  Outcome help = Tavko("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: tavko COMMAND"), std::string::npos);
  for (const char* command : {"info", "decode", "encode"}) {
    for (std::string args : {std::string(command) + " --help", "help " + std::string(command)}) {
      Outcome sub = Tavko(args);
      EXPECT_EQ(sub.status, 0);
      EXPECT_EQ(sub.out.find(std::string("usage: tavko ") + command), 0u) << args;
    }
  }
  Outcome version = Tavko("-V");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.find("tavko " TAVKO_VERSION "\nplug-in description string: \"QVX(PELKO) to DIB filter version.0.04\"\n"), 0u);
  // Options line up in the help, the longest name included.
  EXPECT_NE(Tavko("encode --help").out.find("  -o FILE           the output\n  --format qvx      write"), std::string::npos);
  EXPECT_NE(Tavko("decode --help").out.find("\n  -n, --no-clobber  never"), std::string::npos);
  // Output that does not arrive is a failure, whatever the command.
  std::string full = "tavko: standard output: write error: No space left on device\n";
  struct Case {
    std::string args, stdout, err;
  } lost[] = {
      {"--version", "/dev/full", full},
      {"decode --help", "/dev/full", full},
      {"info --json " + kSamples + "/card8.qvx", "/dev/full", full},
      {"decode " + kSamples + "/card8.qvx - --format bmp", "/dev/full", full},
      {"info " + kSamples + "/card8.qvx", "&-", "tavko: standard output: write error: Bad file descriptor\n"},
  };
  for (const Case& c : lost) {
    Outcome run = Tavko(c.args, "/dev/null", "", c.stdout);
    EXPECT_EQ(run.status, 1) << c.args;
    EXPECT_EQ(run.err, c.err) << c.args;
  }
}

// What an output names is written as what it is: pipes and devices
// directly, the input never, a read-only file never, an existing file never
// with -n; a replaced file keeps its owner and group.
TEST_F(Tool, OutputsAreWrittenAsWhatTheyAre) {
  std::string card = kSamples + "/card32.qvx";
  std::vector<uint8_t> qvx = ReadFileBytes(card), bmp = ReadFileBytes(kGood + "/rgb24.bmp"), kept = {7};
  ASSERT_EQ(Tavko("decode " + card + " expected.bmp").status, 0);
  ASSERT_EQ(mkdir(Path("d").c_str(), 0777), 0);
  for (const char* name : {"a.qvx", "d/x.png"}) ASSERT_TRUE(WriteFileBytes(Path(name), qvx));
  ASSERT_TRUE(WriteFileBytes(Path("p.bmp"), bmp));
  for (const char* name : {"ro.png", "exists.png"}) ASSERT_TRUE(WriteFileBytes(Path(name), kept));
  ASSERT_EQ(chmod(Path("ro.png").c_str(), 0444), 0);
  ASSERT_EQ(symlink("a.qvx", Path("l.bmp").c_str()), 0);
  ASSERT_EQ(symlink("loop.png", Path("loop.png").c_str()), 0);
  std::string self = "is the input file itself; not overwritten";
  struct Case {
    std::string args, input;
    int status;
    std::string message, unchanged;  // a file that must keep its bytes
    bool asUser;                     // run as an ordinary user
  } cases[] = {
      {"decode a.qvx a.qvx --format bmp", "/dev/null", 1, "a.qvx: " + self, "a.qvx", false},
      {"decode a.qvx l.bmp", "/dev/null", 1, "l.bmp: " + self, "a.qvx", false},
      {"decode - a.qvx --format bmp", "a.qvx", 1, "a.qvx: " + self, "a.qvx", false},
      {"decode d/x.png " + kSamples + "/card4.qvx -d d", "/dev/null", 1, "d/x.png: " + self, "d/x.png", false},
      {"encode p.bmp p.bmp --format qvx", "/dev/null", 1, "p.bmp: " + self, "p.bmp", false},
      {"decode " + card + " ro.png", "/dev/null", 1, "ro.png: cannot replace it: Permission denied", "ro.png", true},
      {"decode -n " + card + " exists.png", "/dev/null", 1, "exists.png: exists; not replaced (--no-clobber)",
       "exists.png", false},
      {"decode " + card + " loop.png", "/dev/null", 1, "loop.png: cannot write: Too many levels of symbolic links",
       "", false},
      {"decode " + card + " /dev/full --format bmp", "/dev/null", 1,
       "/dev/full: write error: No space left on device", "", false},
  };
  for (const Case& c : cases) {
    Outcome run = Tavko(c.args, c.input, c.asUser && geteuid() == 0 ? kNobody : "");
    EXPECT_EQ(run.status, c.status) << c.args << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << run.err;
    if (c.unchanged == "p.bmp") EXPECT_EQ(ReadFileBytes(Path("p.bmp")), bmp);
    else if (c.unchanged == "ro.png" || c.unchanged == "exists.png") EXPECT_EQ(ReadFileBytes(Path(c.unchanged)), kept);
    else if (!c.unchanged.empty()) EXPECT_EQ(ReadFileBytes(Path(c.unchanged)), qvx) << c.args;
  }
  EXPECT_TRUE(std::ifstream(Path("d/card4.png")).good()) << "the rest of the batch goes on";
  struct stat info;
  ASSERT_EQ(lstat(Path("loop.png").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat("/dev/full", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  // A pipe is written into, and stays a pipe.
  ASSERT_EQ(mkfifo(Path("fifo.bmp").c_str(), 0644), 0);
  EXPECT_EQ(Tavko("decode " + card + " fifo.bmp", "/dev/null", "{ cat fifo.bmp >got.bmp & } && ").status, 0);
  std::vector<uint8_t> expected = ReadFileBytes(Path("expected.bmp"));
  for (int wait = 0; wait < 500 && ReadFileBytes(Path("got.bmp")).size() < expected.size(); ++wait) usleep(10000);
  EXPECT_EQ(ReadFileBytes(Path("got.bmp")), expected);
  ASSERT_EQ(lstat(Path("fifo.bmp").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  // A replaced file keeps its owner and group (root may give any).
  if (geteuid() == 0) {
    ASSERT_EQ(chown(Path("exists.png").c_str(), 1234, 5678), 0);
    ASSERT_EQ(Tavko("decode " + card + " exists.png").status, 0);
    ASSERT_EQ(stat(Path("exists.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 1234u);
    EXPECT_EQ(info.st_gid, 5678u);
  }
}

// A pipe is read only as far as the picture's header promises, and what is
// not a picture is refused from its first bytes.
TEST_F(Tool, PipesAreReadAsFarAsTheHeaderPromises) {
  std::string card = kSamples + "/card8.qvx";
  struct Case {
    std::string args, input, before;
    int status;
    std::string message;
  } cases[] = {
      {"decode - x.png", "/dev/zero", "", 1, "tavko: standard input: not a QVX picture\n"},
      {"encode - x.qvx", "/dev/zero", "", 1, "tavko: standard input: cannot be stored as QVX: not a BMP or PNG file\n"},
      {"decode - x.png", "/dev/stdin", "cat " + card + " /dev/zero | ", 0, ""},
      {"decode - x.png", "/dev/stdin", "head -c 10000 " + card + " | ", 1,
       "tavko: standard input: file shorter than its header promises\n"},
  };
  for (const Case& c : cases) {
    Outcome run = Tavko(c.args, c.input, c.before);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.err, c.message) << c.args;
  }
  EXPECT_EQ(Load(ReadFileBytes(Path("x.png"))).width, 160);
}

// The picture's density goes into the PNG (pHYs) and comes back from it.
TEST_F(Tool, DensityTravelsWithThePicture) {
  ASSERT_EQ(Tavko("decode " + kSamples + "/card8.qvx a.png").status, 0);
  std::string png = Slurp(Path("a.png"));
  const char kDensity[] = "pHYs\0\0\x0b\x13\0\0\x0b\x13\x01";  // 2835 pixels per metre, both ways
  EXPECT_NE(png.find(std::string(kDensity, sizeof kDensity - 1)), std::string::npos);
  ASSERT_EQ(Tavko("encode a.png b.qvx").status, 0);
  EXPECT_NE(Tavko("info b.qvx").out.find("density: 2835 x 2835"), std::string::npos);
}

// Options as people type them.
TEST_F(Tool, OptionsAsPeopleTypeThem) {
  std::string card = kSamples + "/card8.qvx", bmp = kGood + "/rgb24.bmp";
  struct Case {
    std::string args, written;
  } cases[] = {
      {"decode --level=5 -j2 " + card + " -o a.png", "a.png"},
      {"decode --format=bmp " + card + " b.out", "b.out"},
      {"decode -- " + card + " -c.png", "-c.png"},
      {"encode " + bmp + " -o e.qvx", "e.qvx"},
      {"encode " + bmp + " e.dat --format qvx", "e.dat"},
      {"decode " + card + " -d made/deeper -q", "made/deeper/card8.png"},
  };
  for (const Case& c : cases) {
    Outcome run = Tavko(c.args);
    EXPECT_EQ(run.status, 0) << c.args << run.err;
    EXPECT_GT(ReadFileBytes(Path(c.written)).size(), 100u) << c.args;
  }
}

// Every stored header size means to info and decode what it means to the
// decoding core: the same pictures taken, the same facts, the same cuts.
TEST_F(Tool, HeaderSizesAsTheCoreReadsThem) {
  for (uint32_t size = 0; size <= 124; ++size) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> bytes = WithHeaderSize(size);
    QvxHeader header;
    QvxPlan plan;
    bool taken = QvxReadHeader(bytes.data(), bytes.size(), &header) == kQvxOk &&
                 QvxIsSupported(header, true, bytes.size()) &&
                 QvxPlanDecode(header, QvxDefaultOptions(), bytes.size(), &plan) == kQvxOk;
    ASSERT_TRUE(WriteFileBytes(Path("h.qvx"), bytes));
    EXPECT_EQ(Tavko("decode h.qvx h.bmp").status, taken ? 0 : 1);
    Outcome info = Tavko("info --json h.qvx");
    EXPECT_EQ(info.status, taken ? 0 : 1);
    if (!taken) continue;
    std::string needed = std::to_string(plan.pixelOffset + plan.sourceStride * plan.rows);
    EXPECT_NE(info.out.find("\"stored_bits\":24,"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"x_pixels_per_metre\":" + std::to_string(header.biXPelsPerMeter)), std::string::npos);
    EXPECT_NE(info.out.find("\"bytes_needed\":" + needed + ",\"bytes\":" + needed + ",\"truncated\":false"),
              std::string::npos) << info.out;
  }
  // Cut by its last bytes, a header of 13 bytes is as short to info as to decode.
  ASSERT_TRUE(WriteFileBytes(Path("h.qvx"), Cut(WithHeaderSize(13), 60)));
  EXPECT_NE(Tavko("info h.qvx").out.find("shorter than its header promises (60 of 102 bytes)"), std::string::npos);
  EXPECT_NE(Tavko("decode h.qvx h.bmp").err.find("file shorter than its header promises"), std::string::npos);
  EXPECT_EQ(Tavko("decode " TAVKO_SOURCE_DIR "/fuzz/seeds/edge-header0.qvx h.png").status, 0);
}

// A picture is not written to a terminal unless forced, as gzip refuses.
TEST_F(Tool, PicturesAreNotWrittenToATerminal) {
  std::string card = kSamples + "/card8.qvx";
  struct Case {
    std::string args;
    int status;
    std::string shown;
  } cases[] = {
      {"decode " + card + " - --format bmp", 1, "standard output: is a terminal; a picture is not written there"},
      {"encode " + kGood + "/rgb24.bmp -", 1, "standard output: is a terminal"},
      {"decode -f " + card + " - --format bmp", 0, "BM"},
      {"encode --force " + kGood + "/rgb24.bmp -", 0, "\xbd\xb2"},
  };
  for (const Case& c : cases) {
    // script gives the command a terminal and copies what reaches it.
    std::string command = "cd '" + dir_ + "' && script -qec '" TAVKO_TOOL " " + c.args + "' /dev/null >'" + dir_ +
                          "/out' 2>&1 </dev/null";
    int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.args;
    EXPECT_NE(Slurp(Path("out")).find(c.shown), std::string::npos) << c.args;
  }
}

// The bash completion offers file names whole, spaces and all, with and
// without bash-completion's _filedir, and changes no shell option.
TEST_F(Tool, BashCompletionKeepsNamesWhole) {
  for (const char* name : {"my pic.qvx", "my other.png", "notes.txt"}) ASSERT_TRUE(WriteFileBytes(Path(name), {1}));
  ASSERT_EQ(mkdir(Path("a folder").c_str(), 0755), 0);
  const char* loaders[] = {"", "source /usr/share/bash-completion/bash_completion; "};
  for (const char* loader : loaders) {
    if (*loader && access("/usr/share/bash-completion/bash_completion", R_OK) != 0) continue;
    SCOPED_TRACE(loader);
    std::string script = std::string(loader) + "before=$(shopt -p)\nsource " TAVKO_SOURCE_DIR "/docs/tavko.bash\n"
                         "[ \"$before\" = \"$(shopt -p)\" ] || echo options changed\n"
                         "offer() { COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); _tavko; printf '[%s]' \"${COMPREPLY[@]}\"; echo; }\n"
                         "offer tavko decode my; offer tavko info my; offer tavko decode x.qvx -d a; offer tavko c\n";
    ASSERT_TRUE(WriteFileBytes(Path("complete.sh"), std::vector<uint8_t>(script.begin(), script.end())));
    std::string command = "cd '" + dir_ + "' && bash --norc complete.sh >out 2>err";
    ASSERT_EQ(std::system(command.c_str()), 0) << Slurp(Path("err"));
    std::string out = Slurp(Path("out"));
    std::string expected = "[my other.png][my pic.qvx]\n[my pic.qvx]\n[a folder]\n[]\n";
    EXPECT_EQ(out, expected) << "config is not offered, names stay whole";
  }
}

}  // namespace
