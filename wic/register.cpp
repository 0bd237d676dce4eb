// regsvr32's entries: the keys that make the decoder known to the imaging
// component of the DLL's own bitness, and the .qvx extension to Explorer.
//
// HKLM\Software\Classes (its 32-bit view for the 32-bit DLL):
//   CLSID\{decoder}                        decoder information, InprocServer32,
//                                          Formats\{pixel formats}, Patterns\0
//   CLSID\{WIC decoders category}\Instance\{decoder}
//   .qvx                                   Content Type, PerceivedType, and
//   .qvx\ShellEx\{thumbnail handler}       = the system's photo thumbnail provider
// HKLM\Software\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.qvx
//                                          = the system's photo property handler
// The extension's keys are shared by both bitnesses, so unregistering one
// DLL leaves them while the other is still registered.
#include <olectl.h>
#include <shlobj.h>
#include <wincodec.h>

#include <cstring>
#include <string>

#include "wic/codec.h"
#include "wic/guids.h"

namespace {

const wchar_t kClasses[] = L"Software\\Classes";
const std::wstring kDecoderKey = std::wstring(L"CLSID\\") + kQvxDecoderClsidText;
const std::wstring kInstanceKey =
    std::wstring(L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\") + kQvxDecoderClsidText;
const wchar_t kExtension[] = L".qvx";
const wchar_t kShellEx[] = L"ShellEx";
const wchar_t kThumbnailHandler[] = L"ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const wchar_t kPhotoThumbnailProvider[] = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";
const wchar_t kPropertySystem[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem";
const wchar_t kPropertyHandlers[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers";
const wchar_t kPropertyHandlerKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.qvx";
const wchar_t kPhotoPropertyHandler[] = L"{a38b883c-1682-497e-97b0-0a3a9e801682}";
const wchar_t kName[] = L"TAVKO QVX Decoder";
const wchar_t kMimeType[] = L"image/x-qvx";
const wchar_t kPerceivedType[] = L"image";

const GUID* const kPixelFormats[] = {&GUID_WICPixelFormat1bppIndexed, &GUID_WICPixelFormat4bppIndexed,
                                     &GUID_WICPixelFormat8bppIndexed, &GUID_WICPixelFormat24bppBGR};

std::wstring Text(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::wstring Version() {
  std::wstring version;
  for (const char* c = TAVKO_VERSION; *c; ++c) version += static_cast<wchar_t>(*c);
  return version;
}

// A key with its values, created under root; false at the first failure.
class Writer {
 public:
  Writer(HKEY root, const std::wstring& path) {
    ok_ = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key_, nullptr) == ERROR_SUCCESS;
  }
  ~Writer() {
    if (ok_) RegCloseKey(key_);
  }
  Writer& Text(const wchar_t* name, const std::wstring& value) {
    Set(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return *this;
  }
  Writer& Number(const wchar_t* name, DWORD value) {
    Set(name, REG_DWORD, &value, sizeof value);
    return *this;
  }
  Writer& Binary(const wchar_t* name, const BYTE* bytes, DWORD count) {
    Set(name, REG_BINARY, bytes, count);
    return *this;
  }
  bool ok() const { return ok_; }

 private:
  void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    if (ok_) ok_ = RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
  }
  HKEY key_ = nullptr;
  bool ok_ = false;
};

HKEY OpenClasses(REGSAM access) {
  HKEY classes = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kClasses, 0, nullptr, 0, access, nullptr, &classes, nullptr) !=
      ERROR_SUCCESS)
    return nullptr;
  return classes;
}

bool WriteKeys(HKEY classes) {
  wchar_t path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(CodecModule, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  const std::wstring decoder = kDecoderKey;
  bool ok = Writer(classes, decoder)
                .Text(nullptr, kName)
                .Text(L"FriendlyName", kName)
                .Text(L"Author", L"the TAVKO authors")
                .Text(L"Vendor", kQvxVendorText)
                .Text(L"Version", Version())
                .Text(L"ContainerFormat", kQvxContainerFormatText)
                .Text(L"FileExtensions", kExtension)
                .Text(L"MimeTypes", kMimeType)
                .Number(L"SupportAnimation", 0)
                .Number(L"SupportChromakey", 0)
                .Number(L"SupportLossless", 1)
                .Number(L"SupportMultiframe", 0)
                .ok();
  ok = ok && Writer(classes, decoder + L"\\InprocServer32").Text(nullptr, path).Text(L"ThreadingModel", L"Both").ok();
  for (const GUID* format : kPixelFormats) ok = ok && Writer(classes, decoder + L"\\Formats\\" + Text(*format)).ok();
  // The stored signature; QueryCapability checks the rest of the header.
  const BYTE pattern[2] = {0xBD, 0xB2}, mask[2] = {0xFF, 0xFF};
  ok = ok && Writer(classes, decoder + L"\\Patterns\\0")
                 .Number(L"Position", 0)
                 .Number(L"Length", 2)
                 .Binary(L"Pattern", pattern, 2)
                 .Binary(L"Mask", mask, 2)
                 .Number(L"EndOfStream", 0)
                 .ok();
  ok = ok && Writer(classes, kInstanceKey).Text(L"CLSID", kQvxDecoderClsidText).Text(L"FriendlyName", kName).ok();
  ok = ok && Writer(classes, kExtension).Text(L"Content Type", kMimeType).Text(L"PerceivedType", kPerceivedType).ok();
  ok = ok && Writer(classes, std::wstring(kExtension) + L"\\" + kThumbnailHandler)
                 .Text(nullptr, kPhotoThumbnailProvider)
                 .ok();
  ok = ok && Writer(HKEY_LOCAL_MACHINE, kPropertyHandlerKey).Text(nullptr, kPhotoPropertyHandler).ok();
  return ok;
}

// True when the text value name of key (a null name: its default) equals value.
bool ValueIs(HKEY key, const wchar_t* subkey, const wchar_t* name, const wchar_t* value) {
  wchar_t stored[64];
  DWORD bytes = sizeof stored;
  if (RegGetValueW(key, subkey, name, RRF_RT_REG_SZ, nullptr, stored, &bytes) != ERROR_SUCCESS) return false;
  return _wcsicmp(stored, value) == 0;
}

// Removes the value when it holds what registration wrote.
void DeleteOurValue(HKEY key, const wchar_t* name, const wchar_t* value) {
  if (ValueIs(key, nullptr, name, value)) RegDeleteValueW(key, name);
}

// Removes subkey of key when it has neither values nor subkeys left.
void DeleteIfEmpty(HKEY key, const wchar_t* subkey) {
  HKEY opened;
  if (RegOpenKeyExW(key, subkey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
  DWORD subkeys = 1, values = 1;
  LONG queried = RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr);
  RegCloseKey(opened);
  if (queried == ERROR_SUCCESS && subkeys == 0 && values == 0) RegDeleteKeyW(key, subkey);
}

// Whether the decoder is registered in the given view of the registry.
bool RegisteredIn(REGSAM view) {
  HKEY key;
  std::wstring path = std::wstring(kClasses) + L"\\" + kDecoderKey;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void DeleteKeys(HKEY classes) {
  RegDeleteTreeW(classes, kDecoderKey.c_str());
  RegDeleteKeyW(classes, kInstanceKey.c_str());
  HKEY handlers;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPropertyHandlers, 0, KEY_READ | KEY_WRITE, &handlers) == ERROR_SUCCESS) {
    if (ValueIs(handlers, kExtension, nullptr, kPhotoPropertyHandler)) {
      HKEY extension;
      if (RegOpenKeyExW(handlers, kExtension, 0, KEY_WRITE, &extension) == ERROR_SUCCESS) {
        RegDeleteValueW(extension, nullptr);
        RegCloseKey(extension);
      }
      DeleteIfEmpty(handlers, kExtension);
    }
    RegCloseKey(handlers);
    // A system without other handlers had neither key before.
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kPropertyHandlers);
    DeleteIfEmpty(HKEY_LOCAL_MACHINE, kPropertySystem);
  }
  // The extension is shared with the other bitness's decoder.
  if (RegisteredIn(KEY_WOW64_64KEY) || RegisteredIn(KEY_WOW64_32KEY)) return;
  HKEY extension;
  if (RegOpenKeyExW(classes, kExtension, 0, KEY_READ | KEY_WRITE, &extension) != ERROR_SUCCESS) return;
  DeleteOurValue(extension, L"Content Type", kMimeType);
  DeleteOurValue(extension, L"PerceivedType", kPerceivedType);
  HKEY handler;
  if (RegOpenKeyExW(extension, kThumbnailHandler, 0, KEY_READ | KEY_WRITE, &handler) == ERROR_SUCCESS) {
    DeleteOurValue(handler, nullptr, kPhotoThumbnailProvider);
    RegCloseKey(handler);
    DeleteIfEmpty(extension, kThumbnailHandler);
  }
  DeleteIfEmpty(extension, kShellEx);
  RegCloseKey(extension);
  DeleteIfEmpty(classes, kExtension);
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  HKEY classes = OpenClasses(KEY_READ | KEY_WRITE);
  if (classes == nullptr) return SELFREG_E_CLASS;
  DeleteKeys(classes);
  RegCloseKey(classes);
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  HKEY classes = OpenClasses(KEY_READ | KEY_WRITE);
  if (classes == nullptr) return SELFREG_E_CLASS;
  bool ok = WriteKeys(classes);
  if (!ok) DeleteKeys(classes);  // nothing half made is left behind
  RegCloseKey(classes);
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return ok ? S_OK : SELFREG_E_CLASS;
}
