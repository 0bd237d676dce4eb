// Picture input through the Windows imaging component (WIC), which every
// Windows since Vista carries: PNG, and every other format it has a
// decoder for (the first frame of a picture with several).
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <cstring>

#include "tools/png_read.h"

namespace {

template <typename T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

// Why WIC refused the file, for the message.
std::string Refusal(HRESULT result) {
  if (result == WINCODEC_ERR_COMPONENTNOTFOUND) return "not a picture the system can read";
  if (result == E_OUTOFMEMORY) return "not enough memory";
  char code[16];
  std::snprintf(code, sizeof code, "%08lx", static_cast<unsigned long>(result));
  return std::string("unreadable picture (error ") + code + ")";
}

// The imaging component's decoder of bytes, with its first frame.
struct Picture {
  HRESULT started = E_FAIL;
  IWICImagingFactory* factory = nullptr;
  IWICStream* stream = nullptr;
  IWICBitmapDecoder* decoder = nullptr;
  IWICBitmapFrameDecode* frame = nullptr;
  HRESULT result = S_OK;  // why there is no frame
  bool system = false;    // the component itself is there

  explicit Picture(const std::vector<uint8_t>& bytes) {
    started = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    system = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
             SUCCEEDED(factory->CreateStream(&stream)) &&
             SUCCEEDED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())));
    if (!system) return;
    result = factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(result)) result = decoder->GetFrame(0, &frame);
  }
  ~Picture() {
    Release(frame);
    Release(decoder);
    Release(stream);
    Release(factory);
    if (SUCCEEDED(started)) CoUninitialize();
  }
  bool ok() const { return system && SUCCEEDED(result); }
};

}  // namespace

bool PictureDimensions(const std::vector<uint8_t>& bytes, uint32_t* width, uint32_t* height) {
  Picture picture(bytes);
  UINT w = 0, h = 0;
  if (!picture.ok() || FAILED(picture.frame->GetSize(&w, &h))) return false;
  *width = w;
  *height = h;
  return true;
}

bool ReadsAsPicture(const std::vector<uint8_t>& bytes) {
  return !(bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M');
}

bool PngToBmp(const std::vector<uint8_t>& bytes, std::vector<uint8_t>* bmp, std::string* why) {
  Picture picture(bytes);
  IWICBitmapSource* converted = nullptr;
  UINT width = 0, height = 0;
  HRESULT result = picture.result;
  *why = "the system cannot read pictures (Windows imaging component missing)";
  bool ok = picture.system;
  if (ok) {
    if (SUCCEEDED(result)) result = WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, picture.frame, &converted);
    if (SUCCEEDED(result)) result = converted->GetSize(&width, &height);
    ok = SUCCEEDED(result) && width > 0 && height > 0;
    if (!ok) *why = FAILED(result) ? Refusal(result) : "the picture is empty";
  }
  if (ok && static_cast<uint64_t>(width) * 4 * height > 0x7FFF0000) {
    *why = "the picture is larger than a QVX file holds (2 GiB)";
    ok = false;
  }
  if (ok) {
    // WIC hands rows top to bottom; BMP rows go bottom to top.
    // As blue, green, red, alpha: the form every WIC converts to; alpha is
    // then left out.
    UINT stride = width * 4;
    std::vector<uint8_t> rows(static_cast<size_t>(stride) * height);
    HRESULT copied = converted->CopyPixels(nullptr, stride, static_cast<UINT>(rows.size()), rows.data());
    ok = SUCCEEDED(copied);
    if (ok) {
      *bmp = NewBmp24(width, height);
      for (UINT y = 0; y < height; ++y) {
        const uint8_t* from = &rows[static_cast<size_t>(y) * stride];
        uint8_t* to = RowOf(bmp, width, height, y);
        for (UINT x = 0; x < width; ++x, from += 4, to += 3) std::memcpy(to, from, 3);
      }
      KeepPngDensity(bytes, bmp);
    } else {
      *why = Refusal(copied);
    }
  }
  Release(converted);
  return ok;
}
