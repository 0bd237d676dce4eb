// A client of the Windows imaging component, run under Wine after the QVX
// codec has been registered with regsvr32. It never names the codec's
// class: the component finds it by the file's bytes, as any program does.
// Every picture must come out as TAVKO.SPI (or TAVKO.SPH) delivers it.
#include <windows.h>
#include <olectl.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/capture.h"
#include "common/files.h"
#include "common/pictures.h"
#include "tools/exports.h"
#include "encode/encode.h"
#include "tools/dib.h"

namespace {

PluginExports Plugin;
IWICImagingFactory* Factory;

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string TempPath(const char* name) {
  char path[MAX_PATH];
  GetTempPathA(MAX_PATH, path);
  return std::string(path) + name;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(n > 0 ? n - 1 : 0);
  return wide;
}

template <typename T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  T** put() { return &p; }
  T* operator->() const { return p; }
};

// The picture as the plug-in delivers it from the file, rendered to RGB;
// false when the plug-in refuses it.
bool PluginPicture(const std::string& path, RgbImage* image) {
  Decoded d = CaptureDecode(Plugin.getPicture, const_cast<char*>(path.c_str()), 0, 0, -1);
  if (d.result != kResultSuccess) return false;
  std::string why;
  EXPECT_TRUE(RenderDib(d.info.data(), d.info.size(), d.pixels.data(), d.pixels.size(), image, &why)) << why;
  return true;
}

// Any WIC source as RGB rows: indexed pixels through its palette, 24-bit
// blue-green-red and 32-bit blue-green-red-alpha as they are (alpha must be
// opaque).
RgbImage Rgb(IWICBitmapSource* source, const WICRect* rect = nullptr) {
  RgbImage image;
  UINT width = 0, height = 0;
  EXPECT_EQ(source->GetSize(&width, &height), S_OK);
  WICRect whole = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
  if (rect == nullptr) rect = &whole;
  WICPixelFormatGUID format;
  EXPECT_EQ(source->GetPixelFormat(&format), S_OK);
  UINT bits = format == GUID_WICPixelFormat1bppIndexed   ? 1
              : format == GUID_WICPixelFormat4bppIndexed ? 4
              : format == GUID_WICPixelFormat8bppIndexed ? 8
              : format == GUID_WICPixelFormat24bppBGR    ? 24
              : format == GUID_WICPixelFormat32bppBGRA   ? 32
                                                         : 0;
  EXPECT_NE(bits, 0u) << "pixel format";
  if (bits == 0) return image;
  std::vector<WICColor> colours;
  if (bits <= 8) {
    Ref<IWICPalette> palette;
    EXPECT_EQ(Factory->CreatePalette(palette.put()), S_OK);
    EXPECT_EQ(source->CopyPalette(palette.p), S_OK);
    UINT count = 0;
    palette->GetColorCount(&count);
    colours.resize(count);
    palette->GetColors(count, colours.data(), &count);
  }
  // Rows a few bytes wider than needed, so the stride is honoured.
  UINT stride = (rect->Width * bits + 7) / 8 + 5;
  std::vector<BYTE> buffer(static_cast<size_t>(stride) * rect->Height);
  HRESULT copied = source->CopyPixels(rect, stride, static_cast<UINT>(buffer.size()), buffer.data());
  EXPECT_EQ(copied, S_OK);
  if (copied != S_OK) return image;
  image.width = rect->Width;
  image.height = rect->Height;
  image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
  for (INT y = 0; y < rect->Height; ++y) {
    const BYTE* row = &buffer[static_cast<size_t>(y) * stride];
    for (INT x = 0; x < rect->Width; ++x) {
      uint8_t* out = &image.rgb[(static_cast<size_t>(y) * image.width + x) * 3];
      uint32_t argb;
      if (bits <= 8) {
        uint32_t index = row[x * bits / 8] >> (8 - bits - x * bits % 8) & ((1u << bits) - 1);
        argb = index < colours.size() ? colours[index] : 0xFF000000u;
      } else {
        const BYTE* p = row + x * (bits / 8);
        argb = (bits == 32 ? static_cast<uint32_t>(p[3]) << 24 : 0xFF000000u) | p[2] << 16 | p[1] << 8 | p[0];
      }
      EXPECT_EQ(argb >> 24, 0xFFu);
      out[0] = static_cast<uint8_t>(argb >> 16), out[1] = static_cast<uint8_t>(argb >> 8),
      out[2] = static_cast<uint8_t>(argb);
    }
  }
  return image;
}

// The part of image inside rect.
RgbImage Crop(const RgbImage& image, const WICRect& rect) {
  RgbImage part;
  part.width = rect.Width, part.height = rect.Height;
  for (INT y = 0; y < rect.Height; ++y) {
    const uint8_t* from = &image.rgb[(static_cast<size_t>(rect.Y + y) * image.width + rect.X) * 3];
    part.rgb.insert(part.rgb.end(), from, from + rect.Width * 3);
  }
  return part;
}

bool Same(const RgbImage& a, const RgbImage& b) { return a.width == b.width && a.height == b.height && a.rgb == b.rgb; }

// The decoder found for a file or for memory, and its first frame.
struct Opened {
  HRESULT result = E_FAIL;
  Ref<IWICBitmapDecoder> decoder;
  Ref<IWICBitmapFrameDecode> frame;
};

void OpenFile(const std::string& path, Opened* out) {
  out->result = Factory->CreateDecoderFromFilename(Wide(path).c_str(), nullptr, GENERIC_READ,
                                                   WICDecodeMetadataCacheOnDemand, out->decoder.put());
  if (out->result == S_OK) out->result = out->decoder->GetFrame(0, out->frame.put());
}

void OpenStream(IStream* stream, Opened* out) {
  out->result = Factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, out->decoder.put());
  if (out->result == S_OK) out->result = out->decoder->GetFrame(0, out->frame.put());
}

// A read-only stream over bytes whose reads fail from failAt on; its
// statistics may claim a larger size (what lies past bytes reads as nothing).
class TestStream : public IStream {
 public:
  TestStream(const std::vector<uint8_t>& bytes, uint64_t failAt, uint64_t size = 0)
      : bytes_(bytes), failAt_(failAt), size_(size ? size : bytes.size()) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IStream || iid == IID_ISequentialStream) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack
  HRESULT STDMETHODCALLTYPE Read(void* out, ULONG count, ULONG* got) override {
    if (at_ + count > failAt_) return STG_E_READFAULT;
    ULONG n = at_ >= bytes_.size() ? 0 : static_cast<ULONG>(std::min<uint64_t>(count, bytes_.size() - at_));
    std::memcpy(out, bytes_.data() + at_, n);
    at_ += n;
    if (got) *got = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override {
    ++writes;
    return STG_E_ACCESSDENIED;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* to) override {
    int64_t base = origin == STREAM_SEEK_SET ? 0 : origin == STREAM_SEEK_CUR ? at_ : bytes_.size();
    if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    at_ = base + move.QuadPart;
    if (to) to->QuadPart = at_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return ++writes, STG_E_ACCESSDENIED; }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = size_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
  int writes = 0;

 private:
  ULONG references_ = 1;
  const std::vector<uint8_t>& bytes_;
  uint64_t failAt_;
  uint64_t size_;
  uint64_t at_ = 0;
};

// Every sample and every corpus picture the encoder stores, from a file and
// from memory: the pixels of the plug-in, whole and in parts, and through
// WIC's own converter to 32bppBGRA.
TEST(WicCodec, CorpusAsThePluginDeliversIt) {
  std::vector<std::string> sources = FilesIn(Env("TAVKO_SAMPLES_DIR", "samples"));
  for (const std::string& path : FilesIn(Env("TAVKO_CORPUS_DIR", "corpus") + "/g")) sources.push_back(path);
  std::string temp = TempPath("tavko-wic.qvx");
  int compared = 0;
  for (const std::string& path : sources) {
    SCOPED_TRACE(path);
    std::vector<uint8_t> qvx = ReadFileBytes(path), bmp;
    std::string why;
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0) {
      bmp.swap(qvx);
      if (!EncodeQvx(bmp, &qvx, &why)) continue;
    }
    ASSERT_TRUE(WriteFileBytes(temp, qvx));
    RgbImage expected;
    bool delivered = PluginPicture(temp, &expected);
    Opened file;
    OpenFile(temp, &file);
    ASSERT_EQ(file.result == S_OK, delivered) << std::hex << file.result;
    if (!delivered) continue;
    ASSERT_TRUE(Same(Rgb(file.frame.p), expected));
    // Parts: an inner block, a column at an odd x, the last row.
    const INT w = expected.width, h = expected.height;
    const WICRect parts[] = {{w / 4, h / 4, w / 2 + 1, h / 2}, {w / 3 | 1, 0, 1, h}, {0, h - 1, w, 1}};
    for (const WICRect& part : parts) {
      if (part.X + part.Width > w || part.Width <= 0 || part.Height <= 0) continue;
      EXPECT_TRUE(Same(Rgb(file.frame.p, &part), Crop(expected, part))) << part.X << "," << part.Y;
    }
    Ref<IWICFormatConverter> converter;
    ASSERT_EQ(Factory->CreateFormatConverter(converter.put()), S_OK);
    ASSERT_EQ(converter->Initialize(file.frame.p, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                    WICBitmapPaletteTypeCustom),
              S_OK);
    EXPECT_TRUE(Same(Rgb(converter.p), expected));
    // From memory, through a stream that is only ever read.
    TestStream stream(qvx, UINT64_MAX);
    Opened memory;
    OpenStream(&stream, &memory);
    ASSERT_EQ(memory.result, S_OK);
    EXPECT_TRUE(Same(Rgb(memory.frame.p), expected));
    EXPECT_EQ(stream.writes, 0);
    ++compared;
  }
  DeleteFileA(temp.c_str());
  EXPECT_GT(compared, 20);
}

// Threads asking one fresh frame for its pixels at once: the rows are
// decoded once, and every thread gets the whole picture.
struct Job {
  IWICBitmapFrameDecode* frame;
  RgbImage image;
};

DWORD WINAPI RunJob(void* job) {
  static_cast<Job*>(job)->image = Rgb(static_cast<Job*>(job)->frame);
  return 0;
}

TEST(WicCodec, FramesServeThreadsAtOnce) {
  Opened sample;
  OpenFile(Env("TAVKO_SAMPLES_DIR", "samples") + "/card24.qvx", &sample);
  ASSERT_EQ(sample.result, S_OK);
  Job jobs[4];
  HANDLE threads[4];
  for (int i = 0; i < 4; ++i) {
    jobs[i].frame = sample.frame.p;
    threads[i] = CreateThread(nullptr, 0, RunJob, &jobs[i], 0, nullptr);
  }
  WaitForMultipleObjects(4, threads, TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
  RgbImage expected;
  ASSERT_TRUE(PluginPicture(Env("TAVKO_SAMPLES_DIR", "samples") + "/card24.qvx", &expected));
  for (const Job& job : jobs) EXPECT_TRUE(Same(job.image, expected));
}

std::vector<uint8_t> WithU32(std::vector<uint8_t> qvx, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) qvx[at + i] = static_cast<uint8_t>(~(value >> (8 * i)));  // stored complemented
  return qvx;
}

// Broken and foreign data, from a file and from a stream: the error of the
// decoder WIC picks, and the container of the one it picks for a BMP.
TEST(WicCodec, BrokenAndForeignFiles) {
  const std::vector<uint8_t> good = MakeQvx(ShapeOf(24, 9, 7));
  PictureShape depth3 = ShapeOf(8, 4, 4, 256);
  depth3.bits = 3;
  PictureShape rle = ShapeOf(8, 4, 4, 256);
  rle.compression = 1;
  const char text[] = "plain text, no picture\n";
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    HRESULT opened;
  } cases[] = {
      {"rows cut short", std::vector<uint8_t>(good.begin(), good.end() - 10), WINCODEC_ERR_BADIMAGE},
      {"cut inside the header", std::vector<uint8_t>(good.begin(), good.begin() + 30), WINCODEC_ERR_BADIMAGE},
      {"shorter than its stated size", WithU32(good, 2, static_cast<uint32_t>(good.size() + 1)), WINCODEC_ERR_BADIMAGE},
      {"a depth of 3 bits", MakeQvx(depth3), WINCODEC_ERR_UNKNOWNIMAGEFORMAT},
      {"run-length rows", MakeQvx(rle), WINCODEC_ERR_UNKNOWNIMAGEFORMAT},
      {"the signature alone", std::vector<uint8_t>(good.begin(), good.begin() + 2), WINCODEC_ERR_UNKNOWNIMAGEFORMAT},
      {"text", std::vector<uint8_t>(text, text + sizeof text - 1), WINCODEC_ERR_COMPONENTNOTFOUND},
  };
  std::string temp = TempPath("tavko-broken.qvx");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(temp, c.bytes));
    Opened file;
    OpenFile(temp, &file);
    EXPECT_EQ(file.result, c.opened) << std::hex << file.result;
    TestStream stream(c.bytes, UINT64_MAX);
    Opened memory;
    OpenStream(&stream, &memory);
    EXPECT_EQ(memory.result, c.opened) << std::hex << memory.result;
  }
  // A height of -2^31 in a stream that claims room for all its rows: no
  // frame of 2^31 rows is offered.
  const std::vector<uint8_t> tall = WithU32(MakeQvx(ShapeOf(1, 1, 1, 2)), 22, 0x80000000u);
  TestStream huge(tall, UINT64_MAX, uint64_t{1} << 34);
  Opened opened;
  OpenStream(&huge, &opened);
  EXPECT_EQ(opened.result, WINCODEC_ERR_UNKNOWNIMAGEFORMAT) << std::hex << opened.result;
  // A stream that fails once the header has been read: the rows are not
  // had, and no pixel is handed over.
  TestStream failing(good, 100);
  OpenStream(&failing, &opened);
  ASSERT_EQ(opened.result, S_OK);
  std::vector<BYTE> pixels(9 * 3 * 7, 0x5A);
  EXPECT_EQ(opened.frame->CopyPixels(nullptr, 27, static_cast<UINT>(pixels.size()), pixels.data()),
            WINCODEC_ERR_STREAMREAD);
  EXPECT_EQ(pixels, std::vector<BYTE>(pixels.size(), 0x5A));
  // One that fails past the first piece of rows: the error still, whole
  // (rows straight into the caller's) and for a part (rows of its own).
  const std::vector<uint8_t> large = MakeQvx(ShapeOf(24, 1024, 400));
  TestStream late(large, (1u << 20) + 100);
  OpenStream(&late, &opened);
  ASSERT_EQ(opened.result, S_OK);
  std::vector<BYTE> rows(3072 * 400);
  const WICRect part = {0, 0, 1024, 1};
  for (const WICRect* rect : {static_cast<const WICRect*>(nullptr), &part})
    EXPECT_EQ(opened.frame->CopyPixels(rect, 3072, static_cast<UINT>(rows.size()), rows.data()),
              WINCODEC_ERR_STREAMREAD);
  // Rectangles outside the picture, short rows, a short buffer.
  TestStream whole(good, UINT64_MAX);
  OpenStream(&whole, &opened);
  ASSERT_EQ(opened.result, S_OK);
  struct Bad {
    WICRect rect;
    UINT stride, size;
  } bad[] = {{{-1, 0, 2, 2}, 27, 189}, {{8, 0, 2, 1}, 27, 189}, {{0, 6, 1, 2}, 27, 189},
             {{0, 0, 9, 7}, 26, 189},  {{0, 0, 9, 7}, 27, 188}};
  for (const Bad& b : bad) EXPECT_EQ(opened.frame->CopyPixels(&b.rect, b.stride, b.size, pixels.data()), E_INVALIDARG);
  // A plain BMP still goes to WIC's own BMP decoder.
  ASSERT_TRUE(WriteFileBytes(temp, MakeBmp(ShapeOf(24, 9, 7))));
  Opened bmp;
  OpenFile(temp, &bmp);
  ASSERT_EQ(bmp.result, S_OK);
  GUID container;
  EXPECT_EQ(bmp.decoder->GetContainerFormat(&container), S_OK);
  EXPECT_TRUE(container == GUID_ContainerFormatBmp);
  DeleteFileA(temp.c_str());
}

std::wstring Text(IWICBitmapCodecInfo* info, HRESULT (STDMETHODCALLTYPE IWICBitmapCodecInfo::*get)(UINT, WCHAR*, UINT*)) {
  UINT size = 0;
  (info->*get)(0, nullptr, &size);
  std::wstring text(size, L'\0');
  if (size > 0 && (info->*get)(size, &text[0], &size) == S_OK) text.resize(size - 1);
  return text;
}

// The codec as the component lists it: found among the decoders by its
// MIME type, with its name, extension and pixel formats; and the decoder a
// QVX file opens with names the same container.
TEST(WicCodec, ListedAmongTheDecoders) {
  Ref<IEnumUnknown> decoders;
  ASSERT_EQ(Factory->CreateComponentEnumerator(WICDecoder, WICComponentEnumerateDefault, decoders.put()), S_OK);
  Ref<IWICBitmapDecoderInfo> ours;
  IUnknown* item;
  ULONG got;
  while (decoders->Next(1, &item, &got) == S_OK) {
    IWICBitmapDecoderInfo* info = nullptr;
    if (item->QueryInterface(IID_IWICBitmapDecoderInfo, reinterpret_cast<void**>(&info)) == S_OK) {
      if (Text(info, &IWICBitmapCodecInfo::GetMimeTypes) == L"image/x-qvx" && ours.p == nullptr)
        ours.p = info;
      else
        info->Release();
    }
    item->Release();
  }
  ASSERT_NE(ours.p, nullptr) << "no decoder for image/x-qvx";
  EXPECT_EQ(Text(ours.p, &IWICBitmapCodecInfo::GetFileExtensions), L".qvx");
  EXPECT_EQ(Text(ours.p, &IWICComponentInfo::GetFriendlyName), L"TAVKO QVX Decoder");
  GUID formats[8];
  UINT count = 0;
  EXPECT_EQ(ours->GetPixelFormats(8, formats, &count), S_OK);
  EXPECT_EQ(count, 4u);
  GUID listed, opened;
  EXPECT_EQ(ours->GetContainerFormat(&listed), S_OK);
  Opened sample;
  OpenFile(Env("TAVKO_SAMPLES_DIR", "samples") + "/card8.qvx", &sample);
  ASSERT_EQ(sample.result, S_OK);
  EXPECT_EQ(sample.decoder->GetContainerFormat(&opened), S_OK);
  EXPECT_TRUE(listed == opened);
  Ref<IWICBitmapDecoderInfo> own;
  ASSERT_EQ(sample.decoder->GetDecoderInfo(own.put()), S_OK);
  EXPECT_EQ(Text(own.p, &IWICBitmapCodecInfo::GetMimeTypes), L"image/x-qvx");
  // Its own answer to whether it can decode: all of a picture, some of a
  // cut one, none of a BMP; the stream is left where it was.
  Ref<IWICBitmapDecoder> fresh;
  ASSERT_EQ(ours->CreateInstance(fresh.put()), S_OK);
  const std::vector<uint8_t> good = MakeQvx(ShapeOf(4, 5, 3, 16));
  struct Ask {
    std::vector<uint8_t> bytes;
    DWORD capability;
  } asks[] = {{good, WICBitmapDecoderCapabilityCanDecodeAllImages | WICBitmapDecoderCapabilityCanDecodeSomeImages},
              {std::vector<uint8_t>(good.begin(), good.end() - 1), WICBitmapDecoderCapabilityCanDecodeSomeImages},
              {MakeBmp(ShapeOf(4, 5, 3, 16)), 0}};
  for (const Ask& ask : asks) {
    TestStream stream(ask.bytes, UINT64_MAX);
    LARGE_INTEGER three;
    three.QuadPart = 3;
    ULARGE_INTEGER at;
    stream.Seek(three, STREAM_SEEK_SET, nullptr);
    DWORD capability = 99;
    EXPECT_EQ(fresh->QueryCapability(&stream, &capability), S_OK);
    EXPECT_EQ(capability, ask.capability);
    LARGE_INTEGER zero = {};
    stream.Seek(zero, STREAM_SEEK_CUR, &at);
    EXPECT_EQ(at.QuadPart, 3u);
  }
}

std::wstring RegistryText(HKEY key, const wchar_t* subkey, const wchar_t* name) {
  wchar_t text[1024] = L"";
  DWORD bytes = sizeof text;
  RegGetValueW(key, subkey, name, RRF_RT_REG_SZ, nullptr, text, &bytes);
  return text;
}

// A copy of the codec from another folder whose registration fails
// part-way (a key it must create sits under a volatile one, where the
// registry refuses a lasting key) puts back every value it changed: the
// registration before it still names its own file and opens QVX files.
TEST(WicCodec, FailedRegistrationKeepsTheOneBefore) {
  const std::wstring decoder = L"Software\\Classes\\CLSID\\{77230C5A-8A0D-49F3-A6B1-F977416E7BFF}";
  const std::wstring server = RegistryText(HKEY_LOCAL_MACHINE, (decoder + L"\\InprocServer32").c_str(), nullptr);
  ASSERT_FALSE(server.empty()) << "the codec is not registered";
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring copy = std::wstring(folder) + L"tavko-copy\\TAVKOWIC.dll";
  CreateDirectoryW((std::wstring(folder) + L"tavko-copy").c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(server.c_str(), copy.c_str(), FALSE));
  HMODULE module = LoadLibraryW(copy.c_str());
  ASSERT_NE(module, nullptr);
  auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module, "DllRegisterServer"));
  ASSERT_NE(registerServer, nullptr);
  const std::wstring patterns = decoder + L"\\Patterns";
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, patterns.c_str()), ERROR_SUCCESS);
  HKEY volatileKey;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, patterns.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &volatileKey, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(volatileKey);
  EXPECT_EQ(registerServer(), SELFREG_E_CLASS);
  EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, (decoder + L"\\InprocServer32").c_str(), nullptr), server);
  EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, L".qvx", L"Content Type"), L"image/x-qvx");
  // The registration as it was: the patterns back through its own file.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, patterns.c_str());
  FreeLibrary(module);
  DeleteFileW(copy.c_str());
  RemoveDirectoryW((std::wstring(folder) + L"tavko-copy").c_str());
  HMODULE registered = LoadLibraryW(server.c_str());
  ASSERT_NE(registered, nullptr);
  EXPECT_EQ(reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(registered, "DllRegisterServer"))(), S_OK);
  FreeLibrary(registered);
  Opened sample;
  OpenFile(Env("TAVKO_SAMPLES_DIR", "samples") + "/card8.qvx", &sample);
  EXPECT_EQ(sample.result, S_OK);
}

// --hold FILE MARKER: opens FILE through the imaging component and keeps
// its codec loaded while MARKER exists, as a picture viewer or Explorer's
// thumbnail host would; "holding" on the output once it does.
int Hold(const char* file, const char* marker) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&Factory))))
    return 1;
  int status = 1;
  {
    Opened picture;
    OpenFile(file, &picture);
    if (picture.result == S_OK) {
      std::printf("holding\n");
      std::fflush(stdout);
      while (GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES) Sleep(100);
      status = 0;
    }
  }
  Factory->Release();
  CoUninitialize();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--hold") == 0) return Hold(argv[2], argv[3]);
  std::string why;
  if (!LoadPluginExports(Env("TAVKO_SPI", ""), &Plugin, &why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(&Factory)))) {
    std::fprintf(stderr, "no imaging component\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  Factory->Release();
  CoUninitialize();
  return result;
}
