// The QVX codec's speed in the imaging component: CopyPixels of a whole
// 4096 x 4096 24-bit picture opened from a file, as QVX through
// TAVKOWIC.dll and as BMP through WIC's own BMP decoder, alternating in one
// run: each time the decoder is found for the file, its frame taken and all
// its pixels copied out. Prints the medians and their ratio.
//   wic_bench.exe [RUNS] [--limit RATIO]   (exit 1 when the ratio is over RATIO)
#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/pictures.h"
#include "encode/encode.h"
#include "tools/dib.h"

namespace {

const int kSide = 4096;

double Seconds() {
  static LARGE_INTEGER frequency;
  if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

// The caller's pixels: one buffer, its pages touched before the runs, as
// a viewer reuses its bitmap. (Fresh pages would cost both sides the same
// few hundred milliseconds of page faults under Wine, and drown the
// difference in their noise.)
std::vector<BYTE> Buffer(static_cast<size_t>(kSide) * 3 * kSide, 1);

// Opens path and copies every pixel of its frame into Buffer; the time
// taken, or a negative number with a message when anything fails.
double Load(IWICImagingFactory* factory, const std::wstring& path, const GUID& format) {
  double start = Seconds();
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  HRESULT result = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                      WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(result)) result = decoder->GetFrame(0, &frame);
  WICPixelFormatGUID pixels = {};
  if (SUCCEEDED(result)) result = frame->GetPixelFormat(&pixels);
  if (SUCCEEDED(result) && pixels != format) result = E_UNEXPECTED;
  if (SUCCEEDED(result)) {
    result = frame->CopyPixels(nullptr, kSide * 3, static_cast<UINT>(Buffer.size()), Buffer.data());
  }
  if (frame) frame->Release();
  if (decoder) decoder->Release();
  if (FAILED(result)) {
    std::fprintf(stderr, "wic_bench: %ls: error %08lx\n", path.c_str(), static_cast<unsigned long>(result));
    return -1;
  }
  return Seconds() - start;
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 9;
  double limit = argc > 3 && std::strcmp(argv[2], "--limit") == 0 ? std::atof(argv[3]) : 0;
  if (runs < 1) runs = 1;
  // A photo-like picture: the test pictures' pseudo-random content.
  std::vector<uint8_t> bmp = MakeBmp(ShapeOf(24, kSide, kSide)), qvx;
  std::string why;
  if (!EncodeQvx(bmp, &qvx, &why)) {
    std::fprintf(stderr, "wic_bench: %s\n", why.c_str());
    return 1;
  }
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring bmpPath = std::wstring(temp) + L"tavko-bench.bmp", qvxPath = std::wstring(temp) + L"tavko-bench.qvx";
  char narrow[MAX_PATH * 2];
  WideCharToMultiByte(CP_ACP, 0, bmpPath.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
  bool written = WriteFileBytes(narrow, bmp);
  WideCharToMultiByte(CP_ACP, 0, qvxPath.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
  written = written && WriteFileBytes(narrow, qvx);
  std::vector<uint8_t>().swap(bmp);
  std::vector<uint8_t>().swap(qvx);
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IWICImagingFactory* factory = nullptr;
  if (!written || FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
    std::fprintf(stderr, "wic_bench: no pictures or no imaging component\n");
    return 1;
  }
  // One of each first, so that both files are in the system's cache.
  if (Load(factory, qvxPath, GUID_WICPixelFormat24bppBGR) < 0 || Load(factory, bmpPath, GUID_WICPixelFormat24bppBGR) < 0)
    return 1;
  std::vector<double> qvxTimes, bmpTimes;
  for (int i = 0; i < runs; ++i) {
    bool qvxFirst = i % 2 == 0;
    double a = Load(factory, qvxFirst ? qvxPath : bmpPath, GUID_WICPixelFormat24bppBGR);
    double b = Load(factory, qvxFirst ? bmpPath : qvxPath, GUID_WICPixelFormat24bppBGR);
    if (a < 0 || b < 0) return 1;
    (qvxFirst ? qvxTimes : bmpTimes).push_back(a);
    (qvxFirst ? bmpTimes : qvxTimes).push_back(b);
  }
  factory->Release();
  DeleteFileW(bmpPath.c_str());
  DeleteFileW(qvxPath.c_str());
  double q = Median(qvxTimes), b = Median(bmpTimes);
  std::printf("4096 x 4096, 24 bits, whole CopyPixels from a file, median of %d\n", runs);
  std::printf("  QVX (TAVKOWIC.dll)      %7.1f ms\n", q * 1000);
  std::printf("  BMP (WIC's BMP decoder) %7.1f ms\n", b * 1000);
  std::printf("  ratio QVX / BMP         %7.2f\n", q / b);
  if (limit > 0 && q / b > limit) {
    std::printf("over the limit of %.2f\n", limit);
    return 1;
  }
  return 0;
}
