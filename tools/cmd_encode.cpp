// tavko encode: a BMP or PNG picture stored as QVX.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "encode/encode.h"
#include "tools/command.h"
#include "tools/output.h"
#include "tools/png_read.h"

namespace {

// The most an input to encode may hold: more than any picture QVX holds.
const uint64_t kMostInput = 0x7FFF0000;

// Reads an input whole, looking at its first bytes as soon as they are in:
// what is neither a BMP nor a picture the build reads otherwise (PNG; on
// Windows whatever the imaging component reads) is refused before anything
// more is read.
bool ReadPicture(Input* input, std::vector<uint8_t>* bytes, std::string* why) {
  try {
    uint8_t buffer[65536];
    size_t got = 0;
    bool ok = ReadUpTo(input, buffer, 8, &got);
    if (ok && !(got >= 2 && buffer[0] == 'B' && buffer[1] == 'M') &&
        !ReadsAsPicture(std::vector<uint8_t>(buffer, buffer + got))) {
      *why = "cannot be stored as QVX: not a BMP or PNG file";
      return false;
    }
    bytes->assign(buffer, buffer + got);
    while (ok && got > 0) {
      ok = ReadUpTo(input, buffer, sizeof buffer, &got);
      if (bytes->size() + got > kMostInput) {
        *why = "larger than 2 GiB, more than a picture of this kind holds";
        return false;
      }
      bytes->insert(bytes->end(), buffer, buffer + got);
    }
    if (!ok) {
      *why = "read error: " + std::string(std::strerror(errno));
      return false;
    }
  } catch (const std::bad_alloc&) {
    *why = "not enough memory to read it";
    return false;
  }
  return true;
}

}  // namespace

int RunEncode(int argc, char** argv) {
  CLI::App app;
  std::vector<std::string> words;
  std::string output, format;
  uint64_t maxPixels = kDefaultMaxPixels;
  bool noClobber = false, force = false;
  app.add_option("file", words);
  app.add_option("-o,--output", output);
  CheckWord(app.add_option("--format", format), {"qvx"});
  CheckNumber(app.add_option("--max-pixels", maxPixels), 0, UINT64_MAX);
  app.add_flag("-n,--no-clobber", noClobber);
  app.add_flag("-f,--force", force);
  int status;
  if (!ParseCommand(&app, argc, argv, kEncodeUsage, &status)) return status;
  if (!output.empty()) words.push_back(output);
  if (words.size() != 2) return UsageError("encode", "encode needs an input and an output file");
  std::string in = words[0], outPath = words[1];
  // A QVX under another ending would be taken for what its name says.
  if (outPath != "-" && Extension(outPath) != "qvx" && format.empty())
    return UsageError("encode", "the output must end in .qvx (or give --format qvx)");
  if (outPath != "-" && IsDirectory(outPath))
    return UsageError("encode", "'" + outPath + "' is a folder; give the output's file name");
  if (!MayWriteTo(outPath, force)) return kExitFailed;
  std::string name = InputName(in), why;
  if (SameFile(in, outPath)) {
    Complain(OutputName(outPath), "is the input file itself; not overwritten");
    return kExitFailed;
  }
  // The output is opened first, so that an interruption while a slow
  // input is read finds and removes its temporary file.
  OutputFile out;
  if (!OpenOutput(outPath, &out, &why, noClobber)) {
    Complain(outPath, why);
    return kExitFailed;
  }
  std::vector<uint8_t> source, bmp, qvx;
  {
    Input input;
    if (!OpenInput(in, 0, &input, &why) || !ReadPicture(&input, &source, &why)) {
      Complain(name, why);
      return kExitFailed;
    }
  }
  // The picture is weighed before it is unpacked: a small run-length BMP,
  // PNG, GIF or JPEG may hold a huge picture.
  uint32_t pictureWidth = 0, pictureHeight = 0;
  uint64_t width = 0, rows = 0;
  if (!ReadsAsPicture(source)) {
    BmpDimensions(source, &width, &rows);
  } else if (PictureDimensions(source, &pictureWidth, &pictureHeight)) {
    width = pictureWidth;
    rows = pictureHeight;
  }
  std::string limit = OverPixelLimit(width, rows, maxPixels);
  if (!limit.empty()) {
    Complain(name, limit);
    return kExitFailed;
  }
  bool converted = ReadsAsPicture(source) ? PngToBmp(source, &bmp, &why) : PlainBmp(source, &bmp, &why);
  std::vector<uint8_t>().swap(source);
  if (!converted || !EncodeQvx(bmp, &qvx, &why)) {
    Complain(name, "cannot be stored as QVX: " + why);
    return kExitFailed;
  }
  std::vector<uint8_t>().swap(bmp);
  errno = 0;
  if (std::fwrite(qvx.data(), 1, qvx.size(), out.file) != qvx.size()) {
    why = "write error: " + std::string(std::strerror(errno ? errno : EIO));
    DiscardOutput(&out);
    ComplainAboutOutput(outPath, why);
    return kExitFailed;
  }
  if (!CommitOutput(&out, &why)) {
    ComplainAboutOutput(outPath, why);
    return kExitFailed;
  }
  return kExitOk;
}
