// The tavko command, run as a person runs it.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "tools/qvx.h"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tavko-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::string command = "chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  Outcome Tavko(const std::string& args, const std::string& env = "") {
    std::string command = env + " " TAVKO_TOOL " " + args + " >'" + dir_ + "/out' 2>'" + dir_ + "/err' </dev/null";
    int raw = std::system(command.c_str());
    Outcome run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir_ + "/out"), Slurp(dir_ + "/err")};
    return run;
  }
  std::string Slurp(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string Path(const std::string& name) { return dir_ + "/" + name; }
  std::string dir_;
};

const std::string kSamples = TAVKO_SOURCE_DIR "/samples";
const std::string kGood = TAVKO_SHARED_DIR "/corpus/bmpsuite/g";

TEST_F(Tool, EncodeThenDecodeGivesBackEveryStorableCorpusPicture) {
  int matched = 0, refused = 0;
  for (const std::string& bmp : FilesIn(kGood)) {
    SCOPED_TRACE(bmp);
    std::vector<uint8_t> original = ReadFileBytes(bmp);
    std::string qvx = Path("p.qvx"), png = Path("p.png");
    Outcome encode = Tavko("encode '" + bmp + "' " + qvx);
    std::vector<uint8_t> ignored;
    std::string why;
    if (!EncodeQvx(original, &ignored, &why)) {
      EXPECT_EQ(encode.status, 1);
      EXPECT_NE(encode.err.find("cannot be stored as QVX: " + why), std::string::npos) << encode.err;
      ++refused;
      continue;
    }
    ASSERT_EQ(encode.status, 0) << encode.err;
    Outcome decode = Tavko("decode " + qvx + " " + png);
    ASSERT_EQ(decode.status, 0) << decode.err;
    int w, h, n, w2, h2;
    std::vector<uint8_t> written = ReadFileBytes(png);
    unsigned char* ours = stbi_load_from_memory(written.data(), static_cast<int>(written.size()), &w, &h, &n, 3);
    unsigned char* theirs =
        stbi_load_from_memory(original.data(), static_cast<int>(original.size()), &w2, &h2, &n, 3);
    ASSERT_NE(ours, nullptr);
    if (theirs != nullptr) {
      ASSERT_EQ(w, w2);
      ASSERT_EQ(h, h2);
      EXPECT_EQ(std::memcmp(ours, theirs, static_cast<size_t>(w) * h * 3), 0);
      ++matched;
    }
    stbi_image_free(ours);
    stbi_image_free(theirs);
  }
  EXPECT_GE(matched, 15);
  EXPECT_GE(refused, 5);
}

TEST_F(Tool, InfoReportsEachFile) {
  Outcome run = Tavko("info " + kSamples + "/card8.qvx " + kSamples + "/card24topdown.qvx " + kGood + "/pal8.bmp");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("card8.qvx: QVX picture, 160 x 120, delivered as 8 bits per pixel"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("card24topdown.qvx: QVX picture, 160 x 120 (top-down)"), std::string::npos);
  EXPECT_NE(run.out.find("pal8.bmp: not a QVX picture"), std::string::npos);
  Outcome missing = Tavko("info " + Path("none.qvx"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("none.qvx: No such file or directory"), std::string::npos) << missing.err;
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
  EXPECT_EQ(Tavko("decode " + kSamples + "/card4.qvx " + Path("b.bmp")).status, 0);
  EXPECT_EQ(ReadFileBytes(Path("a.bmp")), ReadFileBytes(Path("b.bmp")));
}

TEST_F(Tool, FailuresSayWhatAndLeaveNoFile) {
  std::vector<uint8_t> cut = ReadFileBytes(kSamples + "/card24.qvx");
  cut.resize(cut.size() - 1);
  ASSERT_TRUE(WriteFileBytes(Path("cut.qvx"), cut));
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("locked").c_str(), 0555), 0);
  std::string card = kSamples + "/card8.qvx";
  struct Case {
    std::string args;
    int status;
    std::string message;
  } cases[] = {
      {"decode " + Path("none.qvx") + " " + Path("x.png"), 1, "none.qvx: cannot open or read the file"},
      {"decode " + kGood + "/pal8.bmp " + Path("x.png"), 1, "pal8.bmp: not a QVX picture"},
      {"decode " + Path("cut.qvx") + " " + Path("x.png"), 1, "cut.qvx: file shorter than its header promises"},
      {"decode " + Path("folder") + " " + Path("x.png"), 1, "folder: is a directory"},
      {"decode " + card + " " + Path("folder"), 2, "the output must end in .png or .bmp"},
      {"decode " + card + " " + Path("folder.png/x.png"), 1, "cannot write"},
      {"decode " + card + " " + Path("locked") + "/x.png", 1, "cannot write: Permission denied"},
      {"decode " + card + " " + Path("x.gif"), 2, "the output must end in .png or .bmp"},
      {"decode " + card, 2, "decode needs an input and an output file"},
      {"decode " + card + " " + Path("x.png") + " --offset", 2, "--offset needs a number"},
      {"decode " + card + " " + Path("x.png") + " --offset -4", 2, "--offset needs a number from 0"},
      {"decode " + card + " " + Path("x.png") + " --offset 999999", 1, "not enough memory"},
      {"decode " + card + " " + Path("x.png") + " --bogus", 2, "unknown option --bogus"},
      {"encode " + Path("none.bmp") + " " + Path("x.qvx"), 1, "none.bmp: No such file or directory"},
      {"encode " + kGood + "/pal8rle.bmp " + Path("x.qvx"), 1, "compressed bitmaps are not held by QVX"},
      {"encode " + kGood + "/pal8v5.bmp " + Path("x.qvx"), 1, "124-byte header"},
      {"encode " + card + " " + Path("x.qvx"), 1, "not a BMP file"},
      {"frobnicate", 2, "unknown command frobnicate"},
      {"", 2, "no command given"},
      {"info", 2, "info needs at least one file"},
  };
  if (geteuid() == 0) cases[6].message = "";  // root writes anywhere
  for (const Case& c : cases) {
    Outcome run = Tavko(c.args);
    if (geteuid() == 0 && c.message.empty()) continue;
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.args << "\n" << run.err;
    EXPECT_TRUE(FilesIn(dir_).size() == 1 || FilesIn(dir_).size() == 3) << "no output left for " << c.args;
  }
  for (const char* name : {"x.png", "x.qvx", "x.gif"}) EXPECT_FALSE(std::ifstream(Path(name)).good()) << name;
}

TEST_F(Tool, ExistingOutputSurvivesAFailedDecode) {
  ASSERT_TRUE(WriteFileBytes(Path("keep.png"), {1, 2, 3}));
  Outcome run = Tavko("decode " + kGood + "/pal8.bmp " + Path("keep.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(ReadFileBytes(Path("keep.png")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(Tavko("decode " + kSamples + "/card8.qvx " + Path("keep.png")).status, 0);
  EXPECT_GT(ReadFileBytes(Path("keep.png")).size(), 3u) << "replaced after a successful decode";
}

TEST_F(Tool, InterruptStopsTheDecodeAndLeavesNoOutput) {
  ASSERT_TRUE(WriteFileBytes(Path("old.png"), {9}));
  Outcome run = Tavko("decode " + kSamples + "/card24.qvx " + Path("old.png"), "TAVKO_TEST_INTERRUPT_AT_ROW=7");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("decoding was interrupted"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFileBytes(Path("old.png")), (std::vector<uint8_t>{9}));
  EXPECT_EQ(FilesIn(dir_).size(), 3u) << "old.png, out and err only";
}

TEST_F(Tool, HelpAndVersion) {
  Outcome help = Tavko("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: tavko COMMAND"), std::string::npos);
  for (const char* command : {"info", "decode", "encode"}) {
    Outcome sub = Tavko(std::string(command) + " --help");
    EXPECT_EQ(sub.status, 0);
    EXPECT_NE(sub.err.find(std::string("usage: tavko ") + command), std::string::npos) << command;
  }
  Outcome version = Tavko("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("QVX(PELKO) to DIB filter version.0.04"), std::string::npos);
}

}  // namespace
