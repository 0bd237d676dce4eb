// The QVX decoder for the Windows imaging component: IWICBitmapDecoder
// over any IStream, one IWICBitmapFrameDecode, and the class factory.
// Free-threaded: every object guards its state with a lock.
#include "wic/codec.h"

#include <wincodec.h>

#include <cstring>
#include <new>

#include "wic/guids.h"
#include "wic/picture.h"

LONG CodecObjectCount = 0;
LONG CodecLockCount = 0;
HMODULE CodecModule = nullptr;

namespace {

HRESULT ResultOf(QvxStatus status) {
  switch (status) {
    case kQvxOk: return S_OK;
    case kQvxTruncated: return WINCODEC_ERR_BADIMAGE;
    case kQvxNoMemory:
    case kQvxLockFailed: return E_OUTOFMEMORY;
    case kQvxReadError: return WINCODEC_ERR_STREAMREAD;
    default: return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
  }
}

// Byte ranges of a stream for the core, counted from the stream's start.
// Only Seek and Read are used: the stream is never written.
bool ReadStream(void* context, uint64_t offset, uint8_t* out, uint64_t count) {
  IStream* stream = static_cast<IStream*>(context);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (FAILED(stream->Seek(at, STREAM_SEEK_SET, nullptr))) return false;
  while (count > 0) {
    ULONG want = count > (1u << 30) ? (1u << 30) : static_cast<ULONG>(count);
    ULONG got = 0;
    HRESULT read = stream->Read(out, want, &got);
    if (FAILED(read) || got == 0 || got > want) return false;
    out += got, count -= got;
  }
  return true;
}

// The stream's length from its statistics, else from a seek to its end.
bool StreamLength(IStream* stream, uint64_t* length) {
  STATSTG stat;
  if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
    *length = stat.cbSize.QuadPart;
    return true;
  }
  LARGE_INTEGER zero = {};
  ULARGE_INTEGER end;
  if (FAILED(stream->Seek(zero, STREAM_SEEK_END, &end))) return false;
  *length = end.QuadPart;
  return true;
}

QvxSource StreamSource(IStream* stream, uint64_t length) { return QvxSource{nullptr, length, ReadStream, stream}; }

// Where the stream stands, to put it back after a look at its header.
struct StreamPlace {
  IStream* stream;
  ULARGE_INTEGER at;
  bool known;
  explicit StreamPlace(IStream* s) : stream(s), at(), known(false) {
    LARGE_INTEGER zero = {};
    known = SUCCEEDED(stream->Seek(zero, STREAM_SEEK_CUR, &at));
  }
  ~StreamPlace() {
    LARGE_INTEGER back;
    back.QuadPart = static_cast<LONGLONG>(at.QuadPart);
    if (known) stream->Seek(back, STREAM_SEEK_SET, nullptr);
  }
};

// The header of the picture in stream: S_OK, or the error of the refusal.
HRESULT Describe(IStream* stream, WicPicture* picture) {
  uint64_t length;
  if (!StreamLength(stream, &length)) return WINCODEC_ERR_STREAMREAD;
  return ResultOf(DescribePicture(StreamSource(stream, length), picture));
}

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
  ~Lock() { LeaveCriticalSection(section_); }

 private:
  CRITICAL_SECTION* section_;
};

// The part every object of the module shares: its reference count, its
// place in the module's object count (DllCanUnloadNow), and QueryInterface
// for IUnknown, Interface (Own) and the interface Interface derives from
// (Parent; IUnknown again where there is none between).
template <class Interface, const IID& Own, const IID& Parent = IID_IUnknown>
class CodecObject : public Interface {
 public:
  CodecObject() { InterlockedIncrement(&CodecObjectCount); }
  virtual ~CodecObject() { InterlockedDecrement(&CodecObjectCount); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_INVALIDARG;
    if (iid == IID_IUnknown || iid == Parent || iid == Own) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

 private:
  LONG references_ = 1;
};

class Decoder;

class Frame : public CodecObject<IWICBitmapFrameDecode, IID_IWICBitmapFrameDecode, IID_IWICBitmapSource> {
 public:
  explicit Frame(Decoder* decoder);
  virtual ~Frame();

  HRESULT STDMETHODCALLTYPE GetSize(UINT* width, UINT* height) override;
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID* format) override;
  HRESULT STDMETHODCALLTYPE GetResolution(double* dpiX, double* dpiY) override;
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette* palette) override;
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) override;
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
    if (reader) *reader = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT* actual) override {
    if (actual == nullptr) return E_INVALIDARG;
    *actual = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override {
    if (thumbnail) *thumbnail = nullptr;
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
  }

 private:
  Decoder* decoder_;
};

class Decoder : public CodecObject<IWICBitmapDecoder, IID_IWICBitmapDecoder> {
 public:
  Decoder() { InitializeCriticalSection(&lock_); }
  virtual ~Decoder() {
    FreePictureRows(&picture_);
    if (stream_) stream_->Release();
    DeleteCriticalSection(&lock_);
  }

  // A QVX picture that decodes, or one whose data is cut short (which
  // Initialize then reports as a bad image); nothing for other data.
  HRESULT STDMETHODCALLTYPE QueryCapability(IStream* stream, DWORD* capability) override {
    if (stream == nullptr || capability == nullptr) return E_INVALIDARG;
    *capability = 0;
    WicPicture* picture = new (std::nothrow) WicPicture;
    if (picture == nullptr) return E_OUTOFMEMORY;
    HRESULT described;
    {
      StreamPlace place(stream);
      described = Describe(stream, picture);
    }
    delete picture;
    if (described == WINCODEC_ERR_STREAMREAD || described == E_OUTOFMEMORY) return described;
    if (described == S_OK)
      *capability = WICBitmapDecoderCapabilityCanDecodeAllImages | WICBitmapDecoderCapabilityCanDecodeSomeImages;
    else if (described == WINCODEC_ERR_BADIMAGE)
      *capability = WICBitmapDecoderCapabilityCanDecodeSomeImages;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(IStream* stream, WICDecodeOptions) override {
    if (stream == nullptr) return E_INVALIDARG;
    Lock hold(&lock_);
    if (stream_ != nullptr) return WINCODEC_ERR_WRONGSTATE;
    HRESULT described = Describe(stream, &picture_);
    if (FAILED(described)) return described;
    stream_ = stream;
    stream_->AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID* format) override {
    if (format == nullptr) return E_INVALIDARG;
    *format = kQvxContainerFormat;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    IWICImagingFactory* factory = nullptr;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      reinterpret_cast<void**>(&factory));
    if (FAILED(result)) return result;
    IWICComponentInfo* component = nullptr;
    result = factory->CreateComponentInfo(kQvxDecoderClsid, &component);
    if (SUCCEEDED(result)) {
      result = component->QueryInterface(IID_IWICBitmapDecoderInfo, reinterpret_cast<void**>(info));
      component->Release();
    }
    factory->Release();
    return result;
  }

  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette*) override { return WINCODEC_ERR_PALETTEUNAVAILABLE; }
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader** reader) override {
    if (reader) *reader = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource** preview) override {
    if (preview) *preview = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext**, UINT* actual) override {
    if (actual) *actual = 0;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource** thumbnail) override {
    if (thumbnail) *thumbnail = nullptr;
    return WINCODEC_ERR_CODECNOTHUMBNAIL;
  }

  HRESULT STDMETHODCALLTYPE GetFrameCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    Lock hold(&lock_);
    if (stream_ == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    *count = 1;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode** frame) override {
    if (frame == nullptr) return E_INVALIDARG;
    *frame = nullptr;
    Lock hold(&lock_);
    if (stream_ == nullptr) return WINCODEC_ERR_NOTINITIALIZED;
    if (index != 0) return WINCODEC_ERR_FRAMEMISSING;
    Frame* made = new (std::nothrow) Frame(this);
    if (made == nullptr) return E_OUTOFMEMORY;
    *frame = made;
    return S_OK;
  }

  // What the frame serves: fixed once Initialize succeeded.
  const WicPicture& Picture() const { return picture_; }

  // Decodes the rows once, on the first call that needs them.
  HRESULT Rows() {
    Lock hold(&lock_);
    if (picture_.pixels != nullptr) return S_OK;
    uint64_t length;
    if (!StreamLength(stream_, &length)) return WINCODEC_ERR_STREAMREAD;
    return ResultOf(DecodePictureRows(StreamSource(stream_, length), &picture_));
  }

  // The whole picture into the caller's rows: straight from the stream
  // while the rows are not kept, else from them. S_FALSE when they are
  // kept and the caller copies them.
  HRESULT WholePicture(BYTE* pixels, UINT stride) {
    Lock hold(&lock_);
    if (picture_.pixels != nullptr) return S_FALSE;
    uint64_t length;
    if (!StreamLength(stream_, &length)) return WINCODEC_ERR_STREAMREAD;
    return ResultOf(DecodePictureInto(StreamSource(stream_, length), picture_, pixels, stride));
  }

 private:
  CRITICAL_SECTION lock_;
  IStream* stream_ = nullptr;
  WicPicture picture_ = {};
};

Frame::Frame(Decoder* decoder) : decoder_(decoder) { decoder_->AddRef(); }

Frame::~Frame() { decoder_->Release(); }

HRESULT Frame::GetSize(UINT* width, UINT* height) {
  if (width == nullptr || height == nullptr) return E_INVALIDARG;
  *width = static_cast<UINT>(decoder_->Picture().plan.width);
  *height = static_cast<UINT>(decoder_->Picture().plan.rows);
  return S_OK;
}

HRESULT Frame::GetPixelFormat(WICPixelFormatGUID* format) {
  if (format == nullptr) return E_INVALIDARG;
  switch (decoder_->Picture().plan.outputDepth) {
    case 1: *format = GUID_WICPixelFormat1bppIndexed; break;
    case 4: *format = GUID_WICPixelFormat4bppIndexed; break;
    case 8: *format = GUID_WICPixelFormat8bppIndexed; break;
    default: *format = GUID_WICPixelFormat24bppBGR; break;
  }
  return S_OK;
}

// Pixels per metre as dots per inch; a picture that states none is 96 dpi.
double DotsPerInch(int32_t perMetre) { return perMetre > 0 ? perMetre * 0.0254 : 96.0; }

HRESULT Frame::GetResolution(double* dpiX, double* dpiY) {
  if (dpiX == nullptr || dpiY == nullptr) return E_INVALIDARG;
  *dpiX = DotsPerInch(decoder_->Picture().header.biXPelsPerMeter);
  *dpiY = DotsPerInch(decoder_->Picture().header.biYPelsPerMeter);
  return S_OK;
}

HRESULT Frame::CopyPalette(IWICPalette* palette) {
  if (palette == nullptr) return E_INVALIDARG;
  const WicPicture& picture = decoder_->Picture();
  if (picture.colourCount == 0) return WINCODEC_ERR_PALETTEUNAVAILABLE;
  return palette->InitializeCustom(const_cast<WICColor*>(picture.colours), picture.colourCount);
}

// Copies bits first .. first + count - 1 of a row of packed indices to the
// start of out, when the rectangle does not begin on a byte.
void CopyBits(const uint8_t* row, uint64_t first, uint64_t count, uint32_t bits, uint8_t* out) {
  uint64_t bytes = (count * bits + 7) / 8;
  std::memset(out, 0, static_cast<size_t>(bytes));
  uint32_t mask = (1u << bits) - 1;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t from = (first + i) * bits, to = i * bits;
    uint32_t value = row[from / 8] >> (8 - bits - from % 8) & mask;
    out[to / 8] = static_cast<uint8_t>(out[to / 8] | value << (8 - bits - to % 8));
  }
}

HRESULT Frame::CopyPixels(const WICRect* rect, UINT stride, UINT bufferSize, BYTE* buffer) {
  const WicPicture& picture = decoder_->Picture();
  const uint64_t width = static_cast<uint64_t>(picture.plan.width), height = picture.plan.rows;
  WICRect whole = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  if (rect == nullptr) rect = &whole;
  if (rect->X < 0 || rect->Y < 0 || rect->Width < 0 || rect->Height < 0 ||
      static_cast<uint64_t>(rect->X) + static_cast<uint64_t>(rect->Width) > width ||
      static_cast<uint64_t>(rect->Y) + static_cast<uint64_t>(rect->Height) > height)
    return E_INVALIDARG;
  if (rect->Width == 0 || rect->Height == 0) return S_OK;
  const uint32_t bits = picture.plan.outputDepth;
  const uint64_t rowBytes = (static_cast<uint64_t>(rect->Width) * bits + 7) / 8;
  if (buffer == nullptr || stride < rowBytes ||
      static_cast<uint64_t>(stride) * (static_cast<uint64_t>(rect->Height) - 1) + rowBytes > bufferSize)
    return E_INVALIDARG;
  // A program that asks for the whole picture (the usual case) gets it in
  // one pass, with no copy of the picture held here.
  if (static_cast<uint64_t>(rect->Width) == width && static_cast<uint64_t>(rect->Height) == height) {
    HRESULT whole = decoder_->WholePicture(buffer, stride);
    if (whole != S_FALSE) return whole;
  }
  HRESULT decoded = decoder_->Rows();
  if (FAILED(decoded)) return decoded;
  const uint64_t firstBit = static_cast<uint64_t>(rect->X) * bits;
  for (INT y = 0; y < rect->Height; ++y) {
    const uint8_t* row = PictureRow(picture, static_cast<uint32_t>(rect->Y + y));
    BYTE* out = buffer + static_cast<size_t>(stride) * static_cast<size_t>(y);
    if (firstBit % 8 == 0)
      std::memcpy(out, row + firstBit / 8, static_cast<size_t>(rowBytes));
    else
      CopyBits(row, static_cast<uint64_t>(rect->X), static_cast<uint64_t>(rect->Width), bits, out);
  }
  return S_OK;
}

class Factory : public CodecObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Decoder* decoder = new (std::nothrow) Decoder;
    if (decoder == nullptr) return E_OUTOFMEMORY;
    HRESULT result = decoder->QueryInterface(iid, out);
    decoder->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&CodecLockCount);
    else
      InterlockedDecrement(&CodecLockCount);
    return S_OK;
  }
};

}  // namespace

IClassFactory* NewDecoderFactory() { return new (std::nothrow) Factory; }
