// Writes the fuzzers' seed pictures: the samples, every corpus BMP turned
// into QVX (refused ones complemented as they stand), and small hand-made
// edge cases. make_seeds CORPUS_DIR SAMPLES_DIR OUT_DIR
#include <cstdio>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "encode/encode.h"

namespace {

PictureShape Shape(uint32_t header, uint16_t bits, int32_t width, int32_t height, uint32_t colours = 0) {
  PictureShape s = ShapeOf(bits, width, height, colours, header);
  s.seed = bits * 7 + width;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_DIR SAMPLES_DIR OUT_DIR\n");
    return 2;
  }
  std::string out = argv[3];
  int written = 0;
  auto save = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
    if (!WriteFileBytes(out + "/" + name, bytes)) {
      std::fprintf(stderr, "make_seeds: cannot write %s\n", name.c_str());
      std::exit(1);
    }
    ++written;
  };
  for (const char* set : {"g", "b"}) {
    for (const std::string& path : FilesIn(std::string(argv[1]) + "/" + set)) {
      std::vector<uint8_t> bmp = ReadFileBytes(path), qvx;
      std::string why;
      if (!EncodeQvx(bmp, &qvx, &why)) {
        qvx = bmp;
        ComplementQvxRegions(&qvx);
      }
      std::string name = BaseName(path);
      save(std::string(set) + "-" + name.substr(0, name.size() - 4) + ".qvx", qvx);
    }
  }
  for (const std::string& path : FilesIn(argv[2])) save("sample-" + BaseName(path), ReadFileBytes(path));

  struct Edge {
    const char* name;
    PictureShape shape;
  } edges[] = {
      {"core2", Shape(12, 2, 17, 3, 4)},       {"core16", Shape(12, 16, 5, 2)},
      {"core32", Shape(12, 32, 3, 3)},         {"info1", Shape(40, 1, 9, 2, 2)},
      {"info4-partial", Shape(40, 4, 7, 3, 5)}, {"top-down8", Shape(40, 8, 3, -4, 256)},
      {"header64", Shape(64, 8, 5, 2, 16)},    {"header0", Shape(0, 24, 2, 2)},
      {"tiny24", Shape(40, 24, 1, 1)},         {"wide2", Shape(40, 2, 33, 1, 4)},
      {"width0", Shape(40, 8, 0, 2, 256)},     {"height0", Shape(40, 8, 2, 0, 256)},
      {"rle8", Shape(40, 8, 4, 4, 256)},       {"bits3", Shape(40, 3, 4, 4)},
      {"at100", Shape(40, 24, 5, 5)},          {"huge-rows", Shape(40, 24, 3, -2147483647)},
      {"header16", Shape(16, 8, 5, 3, 256)},   {"header20", Shape(20, 4, 7, 2, 16)},
      {"header24", Shape(24, 1, 9, 2, 2)},     {"header36", Shape(36, 24, 3, 2)},
  };
  edges[12].shape.compression = 1;
  edges[7].shape.offBits = 54;
  edges[14].shape.offBits = 100;
  edges[15].shape.pixelBytes = 64;
  for (const Edge& e : edges) save(std::string("edge-") + e.name + ".qvx", MakeQvx(e.shape));
  // Sixteen bits with the top bit set somewhere, for the 5-6-5 masks.
  std::vector<uint8_t> bmp = MakeBmp(Shape(40, 16, 4, 2));
  bmp[bmp.size() - 1] |= 0x80;
  ComplementQvxRegions(&bmp);
  save("edge-16-bit15.qvx", bmp);
  std::printf("%d seed pictures in %s\n", written, out.c_str());
  return 0;
}
