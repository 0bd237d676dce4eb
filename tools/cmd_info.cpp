// tavko info: what each file's header says, as text or one JSON object a
// line.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "tools/command.h"

namespace {

// Length of the valid UTF-8 sequence at text[at], or 0 when the bytes there
// are not one (stray continuation bytes, overlong forms, surrogates, code
// points past U+10FFFF, a cut sequence).
size_t Utf8Length(const std::string& text, size_t at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
  size_t left = text.size() - at;
  auto follows = [&](size_t i, unsigned char low, unsigned char high) { return i < left && p[i] >= low && p[i] <= high; };
  if (p[0] < 0x80) return 1;
  if (p[0] >= 0xC2 && p[0] <= 0xDF) return follows(1, 0x80, 0xBF) ? 2 : 0;
  if (p[0] >= 0xE0 && p[0] <= 0xEF) {
    unsigned char low = p[0] == 0xE0 ? 0xA0 : 0x80, high = p[0] == 0xED ? 0x9F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (p[0] >= 0xF0 && p[0] <= 0xF4) {
    unsigned char low = p[0] == 0xF0 ? 0x90 : 0x80, high = p[0] == 0xF4 ? 0x8F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

// A JSON string of text. Bytes that are not UTF-8 become \udc80 to \udcff
// (the byte plus 0xdc00, as Python's surrogateescape does), so that the
// name's bytes can always be had back.
std::string JsonText(const std::string& text) {
  std::string out = "\"";
  char escape[8];
  for (size_t at = 0; at < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    size_t n = Utf8Length(text, at);
    if (n == 0) {
      std::snprintf(escape, sizeof escape, "\\udc%02x", c);
      out += escape;
      ++at;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++at;
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
      ++at;
    } else {
      out.append(text, at, n);
      at += n;
    }
  }
  return out + "\"";
}

void Report(const std::string& path, const HeaderFacts& f, bool haveSize, uint64_t available, bool json) {
  bool shorter = haveSize && f.problem.empty() && available < f.needed;
  if (json) {
    Print("{\"file\":%s,\"qvx\":%s", JsonText(path).c_str(), f.problem.empty() ? "true" : "false");
    if (!f.problem.empty()) {
      Print(",\"problem\":%s}\n", JsonText(f.problem).c_str());
      return;
    }
    Print(",\"width\":%lld,\"height\":%llu,\"top_down\":%s,\"stored_bits\":%u,\"delivered_bits\":%d,"
          "\"header_bytes\":%u,\"core_header\":%s,\"palette_entries\":%llu,"
          "\"x_pixels_per_metre\":%u,\"y_pixels_per_metre\":%u,\"bytes_needed\":%llu,",
          static_cast<long long>(f.width), static_cast<unsigned long long>(f.rows), f.topDown ? "true" : "false",
          f.bits, f.deliveredBits, f.headerBytes, f.core ? "true" : "false",
          static_cast<unsigned long long>(f.colours), f.xDensity, f.yDensity,
          static_cast<unsigned long long>(f.needed));
    if (haveSize)
      Print("\"bytes\":%llu,\"truncated\":%s}\n", static_cast<unsigned long long>(available),
            shorter ? "true" : "false");
    else
      Print("\"bytes\":null,\"truncated\":null}\n");
    return;
  }
  if (!f.problem.empty()) {
    Print("%s: %s\n", path.c_str(), f.problem.c_str());
    return;
  }
  Print("%s: QVX picture, %lld x %llu%s, %u bit%s per pixel stored, delivered as %d bit%s per pixel\n", path.c_str(),
        static_cast<long long>(f.width), static_cast<unsigned long long>(f.rows), f.topDown ? " (top-down)" : "",
        f.bits, f.bits == 1 ? "" : "s", f.deliveredBits, f.deliveredBits == 1 ? "" : "s");
  std::string form = f.core ? "core (12 bytes)" : std::to_string(f.headerBytes) + "-byte information header";
  Print("  header: %s; palette: %llu entries; density: %u x %u pixels per metre\n", form.c_str(),
        static_cast<unsigned long long>(f.colours), f.xDensity, f.yDensity);
  if (shorter)
    Print("  the file is shorter than its header promises (%llu of %llu bytes)\n",
          static_cast<unsigned long long>(available), static_cast<unsigned long long>(f.needed));
}

}  // namespace

int RunInfo(int argc, char** argv) {
  CLI::App app;
  bool json = false;
  int64_t offset = 0;
  std::vector<std::string> words;
  app.add_flag("--json", json);
  CheckNumber(app.add_option("--offset", offset), 0, 0x7FFFFFFF);
  app.add_option("file", words);
  int status;
  if (!ParseCommand(&app, argc, argv, kInfoUsage, &status)) return status;
  if (words.empty()) return UsageError("info", "info needs at least one file");
  std::string why;
  if (!OpenDecoder(DecoderOptions(), &why)) {
    std::fprintf(stderr, "tavko: %s\n", why.c_str());
    return kExitFailed;
  }
  status = kExitOk;
  bool unmatched = false;
  for (const std::string& word : words) {
    for (const std::string& path : Expand(word, &unmatched)) {
      // Only the first bytes are read: the headers and what recognition looks at.
      Input input;
      std::vector<uint8_t> head;
      size_t got = 0;
      HeaderFacts facts;
      if (!OpenInput(path, offset, &input, &why) || !ReadHeader(&input, &head, &got, &facts, &why)) {
        Complain(path, why);
        if (json) Print("{\"file\":%s,\"qvx\":false,\"error\":%s}\n", JsonText(path).c_str(), JsonText(why).c_str());
        status = kExitFailed;
        continue;
      }
      if (!facts.problem.empty()) status = kExitFailed;
      uint64_t available = input.regular ? input.size - static_cast<uint64_t>(offset) : 0;
      Report(path, facts, input.regular, available, json);
    }
  }
  return unmatched ? kExitFailed : status;
}
