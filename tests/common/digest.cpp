#include "common/digest.h"

#include <cstdio>
#include <vector>

#include "common/files.h"
#include "common/pictures.h"
#include "encode/encode.h"

namespace {

uint64_t Fnv(const uint8_t* bytes, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
  return h;
}

// One line: answers of the three entries and the hashes of both blocks.
void Digest(const PluginExports& plugin, FILE* out, const std::string& name, char* source,
            int32_t offsetOrLength, uint32_t flags) {
  int supported = -1;
  if (flags != 0) supported = plugin.isSupported(nullptr, reinterpret_cast<ULONG_PTR>(source));
  PictureInfo info{};
  ResultCode infoResult = plugin.getPictureInfo(source, offsetOrLength, flags, &info);
  HLOCAL infoHandle = nullptr, bitsHandle = nullptr;
  ResultCode result = plugin.getPicture(source, offsetOrLength, flags, &infoHandle, &bitsHandle, nullptr, 0);
  uint64_t infoHash = 0, bitsHash = 0;
  size_t infoBytes = 0, bitsBytes = 0;
  if (result == kResultSuccess) {
    infoBytes = LocalSize(infoHandle);
    bitsBytes = LocalSize(bitsHandle);
    infoHash = Fnv(static_cast<uint8_t*>(LocalLock(infoHandle)), infoBytes);
    bitsHash = Fnv(static_cast<uint8_t*>(LocalLock(bitsHandle)), bitsBytes);
    LocalUnlock(infoHandle);
    LocalUnlock(bitsHandle);
    LocalFree(infoHandle);
    LocalFree(bitsHandle);
  }
  std::fprintf(out, "%s %s supported=%d info=%d %dx%d/%d picture=%d %zu:%016llx %zu:%016llx\n", name.c_str(),
               flags ? "memory" : "file", supported, infoResult, info.width, info.height, info.bitDepth, result,
               infoBytes, static_cast<unsigned long long>(infoHash), bitsBytes,
               static_cast<unsigned long long>(bitsHash));
}

}  // namespace

bool WriteDigests(const PluginExports& plugin, const std::string& corpusDir, const std::string& samplesDir,
                  const std::string& seedsDir, const char* outPath) {
  FILE* out = std::fopen(outPath, "wb");
  if (!out) return false;
  for (const char* set : {"g", "b"}) {
    for (const std::string& path : FilesIn(corpusDir + "/" + set)) {
      std::vector<uint8_t> bmp = ReadFileBytes(path), qvx;
      std::string why;
      if (!EncodeQvx(bmp, &qvx, &why)) {
        qvx = bmp;
        ComplementQvxRegions(&qvx);
      }
      qvx.resize(qvx.size() + 64);  // room for recognition's header reads
      Digest(plugin, out, std::string(set) + "/" + BaseName(path), reinterpret_cast<char*>(qvx.data()),
             static_cast<int32_t>(qvx.size() - 64), 1);
    }
  }
  for (const std::string& path : FilesIn(samplesDir)) {
    std::vector<uint8_t> qvx = ReadFileBytes(path);
    std::string name = "samples/" + BaseName(path);
    Digest(plugin, out, name, const_cast<char*>(path.c_str()), 0, 0);
    Digest(plugin, out, name, reinterpret_cast<char*>(qvx.data()), static_cast<int32_t>(qvx.size()), 1);
  }
  for (const std::string& path : FilesIn(seedsDir)) {
    std::vector<uint8_t> qvx = ReadFileBytes(path);
    size_t length = qvx.size();
    qvx.resize(length + 64);
    Digest(plugin, out, "seeds/" + BaseName(path), reinterpret_cast<char*>(qvx.data()),
           static_cast<int32_t>(length), 1);
  }
  return std::fclose(out) == 0;
}
