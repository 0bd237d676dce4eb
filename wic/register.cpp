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
//
// The decoder's two keys are the registration's own: registering takes
// them over from any other copy, and unregistering removes them only when
// InprocServer32 names this very file, so that unregistering one copy
// leaves another copy's registration working. Everything else may belong
// to another program as well: a value is written only where there is none,
// and the decoder key keeps a list of the keys and values registration
// created (kCreatedKeys, kWrittenValues) so that unregistering removes
// those and nothing else. The extension's keys are shared by both
// bitnesses: each registration takes over the other's claims to them, and
// they stay while either is registered.
//
// A registration that fails part-way puts back what it changed, leaving
// the registry as it found it (an earlier registration included).
#include <olectl.h>
#include <shlobj.h>
#include <wincodec.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "wic/codec.h"
#include "wic/guids.h"

namespace {

// Key paths below HKEY_LOCAL_MACHINE.
const std::wstring kDecoderKey = std::wstring(L"Software\\Classes\\CLSID\\") + kQvxDecoderClsidText;
const std::wstring kInstanceKey =
    std::wstring(L"Software\\Classes\\CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\") +
    kQvxDecoderClsidText;
const std::wstring kExtensionKey = L"Software\\Classes\\.qvx";
const std::wstring kThumbnailKey = kExtensionKey + L"\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const std::wstring kPropertyHandlerKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\.qvx";

const wchar_t kPhotoThumbnailProvider[] = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";
const wchar_t kPhotoPropertyHandler[] = L"{a38b883c-1682-497e-97b0-0a3a9e801682}";
const wchar_t kName[] = L"TAVKO QVX Decoder";
const wchar_t kMimeType[] = L"image/x-qvx";
const wchar_t kPerceivedType[] = L"image";

// The record in the decoder key: keys registration created (outside the
// decoder key), and values it wrote where there were none, as "key|name"
// (an empty name for a key's default value). Both REG_MULTI_SZ.
const wchar_t kCreatedKeys[] = L"TAVKO Created Keys";
const wchar_t kWrittenValues[] = L"TAVKO Written Values";

// The values written outside the decoder's keys, each only where none is.
struct SharedValue {
  const std::wstring* key;
  const wchar_t* name;  // nullptr: the key's default value
  const wchar_t* data;
};
const SharedValue kSharedValues[] = {
    {&kExtensionKey, L"Content Type", kMimeType},
    {&kExtensionKey, L"PerceivedType", kPerceivedType},
    {&kThumbnailKey, nullptr, kPhotoThumbnailProvider},
    {&kPropertyHandlerKey, nullptr, kPhotoPropertyHandler},
};

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

bool IsExtensionKey(const std::wstring& path) {
  return _wcsnicmp(path.c_str(), kExtensionKey.c_str(), kExtensionKey.size()) == 0 &&
         (path.size() == kExtensionKey.size() || path[kExtensionKey.size()] == L'\\' ||
          path[kExtensionKey.size()] == L'|');
}

// The view of the registry the other bitness's DLL registers in; 0 where
// there is only one (32-bit Windows).
REGSAM OtherView() {
#ifdef _WIN64
  return KEY_WOW64_32KEY;
#else
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

// path in a view of the registry (0: this DLL's own), for reading.
HKEY Open(const std::wstring& path, REGSAM view) {
  HKEY key;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS ? key : nullptr;
}

bool KeyExists(const std::wstring& path, REGSAM view = 0) {
  HKEY key = Open(path, view);
  if (key != nullptr) RegCloseKey(key);
  return key != nullptr;
}

// The data of a value of one of types, as wide characters (false when
// absent or of another type).
bool ReadData(const std::wstring& path, const wchar_t* name, DWORD types, REGSAM view, std::vector<wchar_t>* data) {
  HKEY key = Open(path, view);
  if (key == nullptr) return false;
  DWORD bytes = 0;
  LONG read = RegGetValueW(key, nullptr, name, types, nullptr, nullptr, &bytes);
  if (read == ERROR_SUCCESS) {
    data->assign(bytes / sizeof(wchar_t) + 2, L'\0');
    bytes = static_cast<DWORD>(data->size() * sizeof(wchar_t));
    read = RegGetValueW(key, nullptr, name, types, nullptr, data->data(), &bytes);
  }
  RegCloseKey(key);
  return read == ERROR_SUCCESS;
}

// The text of a value ("" with false when absent or not text), with the
// environment's variables of an expandable one expanded.
bool ReadText(const std::wstring& path, const wchar_t* name, std::wstring* text, REGSAM view = 0) {
  std::vector<wchar_t> data;
  bool ok = ReadData(path, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, view, &data);
  *text = ok ? data.data() : L"";
  if (ok && text->find(L'%') != std::wstring::npos) {
    DWORD size = ExpandEnvironmentStringsW(text->c_str(), nullptr, 0);
    std::vector<wchar_t> expanded(size + 1, L'\0');
    if (size > 0 && ExpandEnvironmentStringsW(text->c_str(), expanded.data(), size + 1) > 0) *text = expanded.data();
  }
  return ok;
}

bool ValueIs(const std::wstring& path, const wchar_t* name, const wchar_t* data) {
  std::wstring stored;
  return ReadText(path, name, &stored) && _wcsicmp(stored.c_str(), data) == 0;
}

std::vector<std::wstring> ReadList(const std::wstring& path, const wchar_t* name, REGSAM view) {
  std::vector<std::wstring> list;
  std::vector<wchar_t> data;
  if (!ReadData(path, name, RRF_RT_REG_MULTI_SZ, view, &data)) return list;
  for (const wchar_t* item = data.data(); *item; item += wcslen(item) + 1) list.push_back(item);
  return list;
}

void AddOnce(std::vector<std::wstring>* list, const std::wstring& item) {
  for (const std::wstring& had : *list)
    if (_wcsicmp(had.c_str(), item.c_str()) == 0) return;
  list->push_back(item);
}

std::wstring ValueItem(const std::wstring& key, const wchar_t* name) { return key + L"|" + (name ? name : L""); }

// What a registration claims as its own outside the decoder's keys.
struct Claims {
  std::vector<std::wstring> keys;
  std::vector<std::wstring> values;
};

// The claims of the registration in a view. One made by a version that
// kept no record claims what it wrote in its time: the shared values that
// hold our data, and the extension's and property handler's keys.
Claims ClaimsIn(REGSAM view) {
  Claims claims;
  if (!KeyExists(kDecoderKey, view)) return claims;
  HKEY decoder = Open(kDecoderKey, view);
  bool recorded = false;
  if (decoder != nullptr) {
    recorded = RegQueryValueExW(decoder, kCreatedKeys, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(decoder);
  }
  if (recorded) {
    claims.keys = ReadList(kDecoderKey, kCreatedKeys, view);
    claims.values = ReadList(kDecoderKey, kWrittenValues, view);
    return claims;
  }
  for (const std::wstring* key : {&kExtensionKey, &kThumbnailKey, &kPropertyHandlerKey}) {
    for (std::wstring path = *key; path.size() > kExtensionKey.size() || path == kExtensionKey;) {
      if (KeyExists(path, view)) AddOnce(&claims.keys, path);
      if (key == &kPropertyHandlerKey || path == kExtensionKey) break;
      path.erase(path.rfind(L'\\'));
    }
  }
  for (const SharedValue& value : kSharedValues) {
    std::wstring stored;
    if (ReadText(*value.key, value.name, &stored, view) && _wcsicmp(stored.c_str(), value.data) == 0)
      AddOnce(&claims.values, ValueItem(*value.key, value.name));
  }
  return claims;
}

// Changes to the registry that can be taken back: every key created and
// every value set, with what it held before.
class Changes {
 public:
  ~Changes() {
    for (HKEY key : open_) RegCloseKey(key);
  }

  // Opens path for writing, creating the levels that are missing (each one
  // noted); nullptr on failure.
  HKEY Key(const std::wstring& path) {
    HKEY key = nullptr;
    size_t end = 0;
    do {
      end = path.find(L'\\', end + 1);
      std::wstring level = path.substr(0, end);
      if (key != nullptr) RegCloseKey(key);
      key = nullptr;
      DWORD disposition = 0;
      const REGSAM access = end == std::wstring::npos ? KEY_READ | KEY_WRITE : KEY_READ;
      if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, level.c_str(), 0, nullptr, 0, access, nullptr, &key, &disposition) !=
          ERROR_SUCCESS)
        return nullptr;
      if (disposition == REG_CREATED_NEW_KEY) {
        done_.push_back({level, true, L"", false, 0, {}});
        created_.push_back(level);
      }
    } while (end != std::wstring::npos);
    open_.push_back(key);
    return key;
  }

  // Sets a value; with onlyWhereNone, a value that is there is left as it
  // is, and one written where there was none is noted in written().
  bool Set(const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD bytes,
           bool onlyWhereNone = false) {
    HKEY key = Key(path);
    if (key == nullptr) return false;
    Done before = {path, false, name ? name : L"", false, 0, {}};
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &before.type, nullptr, &size) == ERROR_SUCCESS) {
      if (onlyWhereNone) return true;
      before.data.resize(size);
      if (RegQueryValueExW(key, name, nullptr, &before.type, before.data.data(), &size) != ERROR_SUCCESS) return false;
      before.data.resize(size);
      before.existed = true;
    }
    if (RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes) != ERROR_SUCCESS) return false;
    done_.push_back(before);
    if (onlyWhereNone) written_.push_back(ValueItem(path, name));
    return true;
  }
  bool SetText(const std::wstring& path, const wchar_t* name, const std::wstring& text, bool onlyWhereNone = false) {
    return Set(path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
               onlyWhereNone);
  }
  bool SetNumber(const std::wstring& path, const wchar_t* name, DWORD number) {
    return Set(path, name, REG_DWORD, &number, sizeof number);
  }

  // Takes back every change, the last first.
  void Undo() {
    for (HKEY key : open_) RegCloseKey(key);
    open_.clear();
    for (auto change = done_.rbegin(); change != done_.rend(); ++change) {
      if (change->isKey) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, change->path.c_str());
        continue;
      }
      HKEY key;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, change->path.c_str(), 0, KEY_WRITE, &key) != ERROR_SUCCESS) continue;
      const wchar_t* name = change->name.empty() ? nullptr : change->name.c_str();
      if (change->existed)
        RegSetValueExW(key, name, 0, change->type, change->data.data(), static_cast<DWORD>(change->data.size()));
      else
        RegDeleteValueW(key, name);
      RegCloseKey(key);
    }
    done_.clear();
  }

  const std::vector<std::wstring>& created() const { return created_; }
  const std::vector<std::wstring>& written() const { return written_; }

 private:
  struct Done {
    std::wstring path;
    bool isKey;
    std::wstring name;
    bool existed;  // the value was there before, holding type and data
    DWORD type;
    std::vector<BYTE> data;
  };
  std::vector<Done> done_;
  std::vector<HKEY> open_;
  std::vector<std::wstring> created_, written_;
};

bool SetList(Changes* changes, const wchar_t* name, const std::vector<std::wstring>& list) {
  std::wstring data;
  for (const std::wstring& item : list) data += item + L'\0';
  data += L'\0';
  return changes->Set(kDecoderKey, name, REG_MULTI_SZ, data.c_str(), static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

bool WriteKeys(Changes* changes) {
  wchar_t path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(CodecModule, path, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  // What earlier registrations claimed stays claimed: this view's, and the
  // other bitness's claims to the keys both share.
  Claims claims = ClaimsIn(0);
  REGSAM other = OtherView();
  if (other != 0) {
    Claims shared = ClaimsIn(other);
    for (const std::wstring& key : shared.keys)
      if (IsExtensionKey(key)) AddOnce(&claims.keys, key);
    for (const std::wstring& value : shared.values)
      if (IsExtensionKey(value)) AddOnce(&claims.values, value);
  }
  const std::wstring& decoder = kDecoderKey;
  bool ok = changes->SetText(decoder, nullptr, kName) && changes->SetText(decoder, L"FriendlyName", kName) &&
            changes->SetText(decoder, L"Author", L"the TAVKO authors") &&
            changes->SetText(decoder, L"Vendor", kQvxVendorText) && changes->SetText(decoder, L"Version", Version()) &&
            changes->SetText(decoder, L"ContainerFormat", kQvxContainerFormatText) &&
            changes->SetText(decoder, L"FileExtensions", L".qvx") &&
            changes->SetText(decoder, L"MimeTypes", kMimeType) &&
            changes->SetNumber(decoder, L"SupportAnimation", 0) &&
            changes->SetNumber(decoder, L"SupportChromakey", 0) &&
            changes->SetNumber(decoder, L"SupportLossless", 1) && changes->SetNumber(decoder, L"SupportMultiframe", 0);
  ok = ok && changes->SetText(decoder + L"\\InprocServer32", nullptr, path) &&
       changes->SetText(decoder + L"\\InprocServer32", L"ThreadingModel", L"Both");
  for (const GUID* format : kPixelFormats) ok = ok && changes->Key(decoder + L"\\Formats\\" + Text(*format));
  // The stored signature; QueryCapability checks the rest of the header.
  const BYTE pattern[2] = {0xBD, 0xB2}, mask[2] = {0xFF, 0xFF};
  const std::wstring patterns = decoder + L"\\Patterns\\0";
  ok = ok && changes->SetNumber(patterns, L"Position", 0) && changes->SetNumber(patterns, L"Length", 2) &&
       changes->Set(patterns, L"Pattern", REG_BINARY, pattern, 2) &&
       changes->Set(patterns, L"Mask", REG_BINARY, mask, 2) && changes->SetNumber(patterns, L"EndOfStream", 0);
  ok = ok && changes->SetText(kInstanceKey, L"CLSID", kQvxDecoderClsidText) &&
       changes->SetText(kInstanceKey, L"FriendlyName", kName);
  for (const SharedValue& value : kSharedValues)
    ok = ok && changes->SetText(*value.key, value.name, value.data, true);
  if (!ok) return false;
  // The decoder key goes whole at unregistering; the rest is claimed.
  const std::wstring inside = kDecoderKey + L"\\";
  for (const std::wstring& key : changes->created())
    if (_wcsicmp(key.c_str(), kDecoderKey.c_str()) != 0 && _wcsnicmp(key.c_str(), inside.c_str(), inside.size()) != 0)
      AddOnce(&claims.keys, key);
  for (const std::wstring& value : changes->written()) AddOnce(&claims.values, value);
  return SetList(changes, kCreatedKeys, claims.keys) && SetList(changes, kWrittenValues, claims.values);
}

// Whether path names this module's file: the same name, or the same file
// reached by another name.
bool IsThisModule(const std::wstring& path) {
  wchar_t own[MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(CodecModule, own, MAX_PATH + 1);
  if (length == 0 || length > MAX_PATH) return false;
  if (_wcsicmp(own, path.c_str()) == 0) return true;
  BY_HANDLE_FILE_INFORMATION a, b;
  auto identify = [](const wchar_t* name, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE file = CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return ok;
  };
  return identify(own, &a) && identify(path.c_str(), &b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Whether the decoder's keys in this view are this copy's to remove: they
// name this file, or a file that no longer exists, or none.
bool RegistrationIsOurs() {
  std::wstring server;
  if (!ReadText(kDecoderKey + L"\\InprocServer32", nullptr, &server) || server.empty()) return true;
  if (IsThisModule(server)) return true;
  DWORD error = GetFileAttributesW(server.c_str()) == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_SUCCESS;
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Removes subkey path when it has neither values nor subkeys left.
void DeleteIfEmpty(const std::wstring& path) {
  HKEY opened;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
  DWORD subkeys = 1, values = 1;
  LONG queried = RegQueryInfoKeyW(opened, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr);
  RegCloseKey(opened);
  if (queried == ERROR_SUCCESS && subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
}

// Removes the claimed value when it still holds what registration wrote.
void DeleteClaimedValue(const std::wstring& item) {
  size_t bar = item.find(L'|');
  if (bar == std::wstring::npos) return;
  std::wstring key = item.substr(0, bar), name = item.substr(bar + 1);
  const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
  for (const SharedValue& value : kSharedValues) {
    if (_wcsicmp(value.key->c_str(), key.c_str()) != 0 || _wcsicmp(value.name ? value.name : L"", name.c_str()) != 0)
      continue;
    if (!ValueIs(key, valueName, value.data)) return;
    HKEY opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_WRITE, &opened) != ERROR_SUCCESS) return;
    RegDeleteValueW(opened, valueName);
    RegCloseKey(opened);
  }
}

// False when the decoder's keys could not be removed.
bool DeleteKeys() {
  Claims claims = ClaimsIn(0);
  LONG deleted = RegDeleteTreeW(HKEY_LOCAL_MACHINE, kDecoderKey.c_str());
  if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) return false;
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kInstanceKey.c_str());
  // The extension stays while the other bitness's decoder is registered.
  REGSAM other = OtherView();
  bool keepExtension = other != 0 && KeyExists(kDecoderKey, other);
  for (const std::wstring& value : claims.values)
    if (!(keepExtension && IsExtensionKey(value))) DeleteClaimedValue(value);
  // Deepest first, each only once it is empty.
  std::sort(claims.keys.begin(), claims.keys.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  for (const std::wstring& key : claims.keys)
    if (!(keepExtension && IsExtensionKey(key))) DeleteIfEmpty(key);
  return true;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  // Another copy's registration is left as it is: this copy has nothing
  // registered to take back.
  if (!KeyExists(kDecoderKey) || !RegistrationIsOurs()) return S_OK;
  bool ok = DeleteKeys();
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  Changes changes;
  bool ok = WriteKeys(&changes);
  if (!ok) changes.Undo();
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return ok ? S_OK : SELFREG_E_CLASS;
}
