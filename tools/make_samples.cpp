// Makes the bundled sample pictures: a colour test card stored as QVX at
// every depth the format holds. Run: make_samples OUTPUT_DIR
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "encode/encode.h"

namespace {

const int kWidth = 160;
const int kHeight = 120;

struct Rgb {
  int r, g, b;
};

// The card: colour bars on top, a grey ramp, a hue sweep, and a grid.
Rgb Card(int x, int y) {
  static const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                              {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  if (x % 40 == 0 || y % 40 == 0) return {128, 128, 128};
  if (y < 48) return bars[x * 8 / kWidth];
  if (y < 72) {
    int v = x * 255 / (kWidth - 1);
    return {v, v, v};
  }
  double h = 6.0 * x / kWidth;
  double f = h - std::floor(h);
  int q = static_cast<int>(255 * (1 - f)), t = static_cast<int>(255 * f);
  Rgb hue[6] = {{255, t, 0}, {q, 255, 0}, {0, 255, t}, {0, q, 255}, {t, 0, 255}, {255, 0, q}};
  Rgb c = hue[static_cast<int>(h) % 6];
  int shade = 255 - (y - 72) * 160 / (kHeight - 72);
  return {c.r * shade / 255, c.g * shade / 255, c.b * shade / 255};
}

void Put(std::vector<uint8_t>* out, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<Rgb> Palette(int bits) {
  std::vector<Rgb> p;
  if (bits == 1) return {{0, 0, 0}, {255, 255, 255}};
  if (bits == 2) return {{0, 0, 0}, {85, 85, 85}, {170, 170, 170}, {255, 255, 255}};
  if (bits == 4) {
    for (int i = 0; i < 16; ++i) {
      int on = i & 8 ? 255 : 128;
      p.push_back({i & 4 ? on : 0, i & 2 ? on : 0, i & 1 ? on : 0});
    }
    p[8] = {192, 192, 192};
    return p;
  }
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) p.push_back({r * 51, g * 51, b * 51});
  while (p.size() < 256) {
    int v = static_cast<int>((p.size() - 216) * 255 / 39);
    p.push_back({v, v, v});
  }
  return p;
}

int Nearest(const std::vector<Rgb>& palette, Rgb c) {
  int best = 0, bestDistance = 1 << 30;
  for (size_t i = 0; i < palette.size(); ++i) {
    int dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) bestDistance = d, best = static_cast<int>(i);
  }
  return best;
}

// A plain BMP of the card; topDown stores the rows from the top.
std::vector<uint8_t> CardBmp(int bits, bool core, bool topDown) {
  std::vector<Rgb> palette = bits <= 8 ? Palette(bits) : std::vector<Rgb>();
  uint32_t header = core ? 12 : 40;
  uint32_t entry = core ? 3 : 4;
  uint32_t offBits = 14 + header + entry * static_cast<uint32_t>(palette.size());
  uint32_t stride = (kWidth * bits + 31) / 32 * 4;
  std::vector<uint8_t> out(offBits + stride * kHeight, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put(&out, 2, static_cast<uint32_t>(out.size()), 4);
  Put(&out, 10, offBits, 4);
  Put(&out, 14, header, 4);
  if (core) {
    Put(&out, 18, kWidth, 2);
    Put(&out, 20, kHeight, 2);
    Put(&out, 22, 1, 2);
    Put(&out, 24, bits, 2);
  } else {
    Put(&out, 18, kWidth, 4);
    Put(&out, 22, topDown ? -kHeight : kHeight, 4);
    Put(&out, 26, 1, 2);
    Put(&out, 28, bits, 2);
    Put(&out, 34, stride * kHeight, 4);
    Put(&out, 38, 2835, 4);
    Put(&out, 42, 2835, 4);
  }
  for (size_t i = 0; i < palette.size(); ++i) {
    size_t at = 14 + header + entry * i;
    out[at] = static_cast<uint8_t>(palette[i].b);
    out[at + 1] = static_cast<uint8_t>(palette[i].g);
    out[at + 2] = static_cast<uint8_t>(palette[i].r);
  }
  for (int row = 0; row < kHeight; ++row) {
    int y = topDown ? row : kHeight - 1 - row;
    uint8_t* line = &out[offBits + row * stride];
    for (int x = 0; x < kWidth; ++x) {
      Rgb c = Card(x, y);
      if (bits <= 8) {
        int index = Nearest(palette, c);
        line[x * bits / 8] |= static_cast<uint8_t>(index << (8 - bits - (x * bits) % 8));
      } else if (bits == 16) {
        uint32_t v = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
        line[2 * x] = v & 0xFF;
        line[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      } else {
        int n = bits / 8;
        line[n * x] = static_cast<uint8_t>(c.b);
        line[n * x + 1] = static_cast<uint8_t>(c.g);
        line[n * x + 2] = static_cast<uint8_t>(c.r);
      }
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples OUTPUT_DIR\n");
    return 2;
  }
  struct Sample {
    const char* name;
    int bits;
    bool core, topDown;
  } samples[] = {
      {"card1", 1, false, false},   {"card2", 2, false, false},  {"card4", 4, false, false},
      {"card8", 8, false, false},   {"card16", 16, false, false}, {"card24", 24, false, false},
      {"card32", 32, false, false}, {"card8core", 8, true, false}, {"card24topdown", 24, false, true},
  };
  for (const Sample& s : samples) {
    std::vector<uint8_t> qvx;
    std::string why;
    if (!EncodeQvx(CardBmp(s.bits, s.core, s.topDown), &qvx, &why)) {
      std::fprintf(stderr, "make_samples: %s: %s\n", s.name, why.c_str());
      return 1;
    }
    std::string path = std::string(argv[1]) + "/" + s.name + ".qvx";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(qvx.data(), 1, qvx.size(), f) != qvx.size() || std::fclose(f) != 0) {
      std::fprintf(stderr, "make_samples: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
