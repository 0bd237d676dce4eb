// PNG input through the Windows imaging component (WIC), which every
// Windows since Vista carries.
#include <windows.h>
#include <wincodec.h>

#include "tools/png_read.h"

namespace {

template <typename T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

}  // namespace

bool PngToBmp(const std::vector<uint8_t>& bytes, std::vector<uint8_t>* bmp, std::string* why) {
  HRESULT started = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  IWICBitmapSource* converted = nullptr;
  UINT width = 0, height = 0;
  *why = "the system cannot read PNG files (Windows imaging component missing)";
  bool ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)));
  ok = ok && SUCCEEDED(factory->CreateStream(&stream)) &&
       SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
  if (ok) {
    *why = "unreadable PNG";
    ok = SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) &&
         SUCCEEDED(decoder->GetFrame(0, &frame)) &&
         SUCCEEDED(WICConvertBitmapSource(GUID_WICPixelFormat24bppBGR, frame, &converted)) &&
         SUCCEEDED(converted->GetSize(&width, &height)) && width > 0 && height > 0;
  }
  if (ok && static_cast<uint64_t>(width) * 3 * height > 0x7FFF0000) {
    *why = "the picture is larger than a QVX file holds (2 GiB)";
    ok = false;
  }
  if (ok) {
    *bmp = NewBmp24(width, height);
    UINT stride = (width * 3 + 3) / 4 * 4;
    // WIC hands rows top to bottom; BMP rows go bottom to top, one at a time.
    for (UINT y = 0; ok && y < height; ++y) {
      WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(width), 1};
      ok = SUCCEEDED(converted->CopyPixels(&rect, stride, stride, RowOf(bmp, width, height, y)));
    }
    if (!ok) *why = "unreadable PNG: its pixel data is damaged";
  }
  Release(converted);
  Release(frame);
  Release(decoder);
  Release(stream);
  Release(factory);
  if (SUCCEEDED(started)) CoUninitialize();
  return ok;
}
