// Linux stand-in for the Windows services used by the plug-in code.
#include "standin/standin.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Block {
  uint32_t magic;
  int locks;
  SIZE_T size;
  bool mapped;
  unsigned char* bytes;
};

// Like the Windows heap, large blocks come straight from the system as
// fresh zero-filled pages and go back to it when freed.
const SIZE_T kMappedBlockBytes = 512 * 1024;

unsigned char* AllocateBytes(SIZE_T bytes, bool zero, bool* mapped) {
  *mapped = bytes >= kMappedBlockBytes;
  if (*mapped) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : static_cast<unsigned char*>(pages);
  }
  return static_cast<unsigned char*>(zero ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1));
}

void FreeBytes(Block* block) {
  if (block->mapped)
    munmap(block->bytes, block->size);
  else
    std::free(block->bytes);
}

const uint32_t kBlockMagic = 0x4C4F4341u;  // "LOCA"
// File handles are small numbers, as on Windows, so that a caller can tell
// a handle from a pointer by its upper 16 bits.
const uintptr_t kFirstHandle = 0x100;
const int kMaxFiles = 256;

std::mutex lock;
int failAt[standin::kOpCount];
int calls[standin::kOpCount];
int liveBlocks;
int lockedBlocks;
int files[kMaxFiles];
bool filesInit;

struct StoredValue {
  DWORD type;
  DWORD value;
};
std::map<std::string, std::map<std::string, StoredValue>> registry;
int openKeys;

// Counts a call of op and tells whether this call is the one planned to fail.
bool ShouldFail(standin::Op op) {
  ++calls[op];
  if (failAt[op] > 0 && --failAt[op] == 0) return true;
  return false;
}

Block* AsBlock(HLOCAL handle) {
  Block* block = static_cast<Block*>(handle);
  if (block == nullptr || block->magic != kBlockMagic) return nullptr;
  return block;
}

void InitFiles() {
  if (filesInit) return;
  for (int& fd : files) fd = -1;
  filesInit = true;
}

int FileSlot(HANDLE handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value < kFirstHandle || (value - kFirstHandle) % 4 != 0) return -1;
  uintptr_t slot = (value - kFirstHandle) / 4;
  if (slot >= static_cast<uintptr_t>(kMaxFiles) || files[slot] < 0) return -1;
  return static_cast<int>(slot);
}

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  std::lock_guard<std::mutex> guard(lock);
  if (ShouldFail(standin::kLocalAlloc)) return nullptr;
  // Like the real service, refuse what a 32-bit process could never hold.
  if (bytes > 0x7FFFFFFFu) return nullptr;
  Block* block = static_cast<Block*>(std::malloc(sizeof(Block)));
  if (block == nullptr) return nullptr;
  block->size = bytes;
  block->bytes = AllocateBytes(bytes, (flags & LMEM_ZEROINIT) != 0, &block->mapped);
  if (block->bytes == nullptr) {
    std::free(block);
    return nullptr;
  }
  block->magic = kBlockMagic;
  block->locks = 0;
  ++liveBlocks;
  return block;
}

LPVOID LocalLock(HLOCAL handle) {
  std::lock_guard<std::mutex> guard(lock);
  if (ShouldFail(standin::kLocalLock)) return nullptr;
  Block* block = AsBlock(handle);
  if (block == nullptr) return nullptr;
  if (block->locks++ == 0) ++lockedBlocks;
  return block->bytes;
}

BOOL LocalUnlock(HLOCAL handle) {
  std::lock_guard<std::mutex> guard(lock);
  Block* block = AsBlock(handle);
  if (block == nullptr || block->locks == 0) return FALSE;
  if (--block->locks == 0) --lockedBlocks;
  return block->locks > 0;
}

HLOCAL LocalFree(HLOCAL handle) {
  std::lock_guard<std::mutex> guard(lock);
  Block* block = AsBlock(handle);
  if (block == nullptr) return handle;
  if (block->locks > 0) --lockedBlocks;
  block->magic = 0;
  FreeBytes(block);
  std::free(block);
  --liveBlocks;
  return nullptr;
}

SIZE_T LocalSize(HLOCAL handle) {
  std::lock_guard<std::mutex> guard(lock);
  Block* block = AsBlock(handle);
  return block ? block->size : 0;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD, void*, DWORD disposition, DWORD,
                   HANDLE) {
  std::lock_guard<std::mutex> guard(lock);
  InitFiles();
  if (ShouldFail(standin::kCreateFile)) return INVALID_HANDLE_VALUE;
  if (name == nullptr || access != GENERIC_READ || disposition != OPEN_EXISTING)
    return INVALID_HANDLE_VALUE;
  int slot = 0;
  while (slot < kMaxFiles && files[slot] >= 0) ++slot;
  if (slot == kMaxFiles) return INVALID_HANDLE_VALUE;
  int fd = open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  files[slot] = fd;
  return reinterpret_cast<HANDLE>(kFirstHandle + 4 * static_cast<uintptr_t>(slot));
}

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size) {
  std::lock_guard<std::mutex> guard(lock);
  if (ShouldFail(standin::kGetFileSize)) return FALSE;
  int slot = FileSlot(handle);
  struct stat info;
  if (slot < 0 || fstat(files[slot], &info) != 0) return FALSE;
  size->QuadPart = static_cast<int64_t>(info.st_size);
  return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* high, DWORD method) {
  std::lock_guard<std::mutex> guard(lock);
  if (ShouldFail(standin::kSetFilePointer)) return INVALID_SET_FILE_POINTER;
  int slot = FileSlot(handle);
  int64_t to = high ? (static_cast<int64_t>(*high) << 32) | static_cast<uint32_t>(distance) : distance;
  if (slot < 0 || method != FILE_BEGIN || to < 0) return INVALID_SET_FILE_POINTER;
  off_t at = lseek(files[slot], static_cast<off_t>(to), SEEK_SET);
  if (at < 0) return INVALID_SET_FILE_POINTER;
  if (high) *high = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
  return static_cast<DWORD>(at);
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* read, void*) {
  std::lock_guard<std::mutex> guard(lock);
  if (read) *read = 0;
  if (ShouldFail(standin::kReadFile)) return FALSE;
  bool shortRead = ShouldFail(standin::kReadFileShort);
  int slot = FileSlot(handle);
  if (slot < 0) return FALSE;
  if (shortRead && count > 0) --count;
  DWORD done = 0;
  while (done < count) {
    ssize_t got = ::read(files[slot], static_cast<char*>(buffer) + done, count - done);
    if (got < 0) return FALSE;
    if (got == 0) break;
    done += static_cast<DWORD>(got);
  }
  if (read) *read = done;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  std::lock_guard<std::mutex> guard(lock);
  int slot = FileSlot(handle);
  if (slot < 0) return FALSE;
  close(files[slot]);
  files[slot] = -1;
  return TRUE;
}

int lstrlenA(const char* text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

struct StandinKey {
  std::string path;
};

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD, char*, DWORD, DWORD, void*, HKEY* key,
                     DWORD* disposition) {
  std::lock_guard<std::mutex> guard(lock);
  if (ShouldFail(standin::kRegCreateKey)) return ERROR_ACCESS_DENIED;
  if (root != HKEY_CURRENT_USER || subKey == nullptr || key == nullptr) return ERROR_ACCESS_DENIED;
  bool existed = registry.count(subKey) != 0;
  registry[subKey];
  *key = new StandinKey{subKey};
  ++openKeys;
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
  std::lock_guard<std::mutex> guard(lock);
  if (ShouldFail(standin::kRegQueryValue)) return ERROR_ACCESS_DENIED;
  auto& values = registry[key->path];
  auto found = values.find(name ? name : "");
  if (found == values.end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = found->second.type;
  if (size == nullptr || *size < 4) {
    if (size) *size = 4;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, &found->second.value, 4);
  *size = 4;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  std::lock_guard<std::mutex> guard(lock);
  if (ShouldFail(standin::kRegSetValue)) return ERROR_ACCESS_DENIED;
  if (size != 4 || data == nullptr) return ERROR_ACCESS_DENIED;
  StoredValue stored{type, 0};
  std::memcpy(&stored.value, data, 4);
  registry[key->path][name ? name : ""] = stored;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  std::lock_guard<std::mutex> guard(lock);
  delete key;
  --openKeys;
  return ERROR_SUCCESS;
}

namespace standin {

void FailNth(Op op, int n) {
  std::lock_guard<std::mutex> guard(lock);
  failAt[op] = n;
}

int Calls(Op op) {
  std::lock_guard<std::mutex> guard(lock);
  return calls[op];
}

void Reset() {
  std::lock_guard<std::mutex> guard(lock);
  for (int i = 0; i < kOpCount; ++i) failAt[i] = calls[i] = 0;
}

int LiveBlocks() {
  std::lock_guard<std::mutex> guard(lock);
  return liveBlocks;
}

int LockedBlocks() {
  std::lock_guard<std::mutex> guard(lock);
  return lockedBlocks;
}

int OpenFiles() {
  std::lock_guard<std::mutex> guard(lock);
  InitFiles();
  int open = 0;
  for (int fd : files) open += fd >= 0;
  return open;
}

int LockCount(HLOCAL handle) {
  std::lock_guard<std::mutex> guard(lock);
  Block* block = AsBlock(handle);
  return block ? block->locks : -1;
}

void RegistryClear() {
  std::lock_guard<std::mutex> guard(lock);
  registry.clear();
}

bool RegistryKeyExists(const char* subKey) {
  std::lock_guard<std::mutex> guard(lock);
  return registry.count(subKey) != 0;
}

bool RegistryValue(const char* subKey, const char* name, DWORD* type, DWORD* value) {
  std::lock_guard<std::mutex> guard(lock);
  auto key = registry.find(subKey);
  if (key == registry.end()) return false;
  auto found = key->second.find(name);
  if (found == key->second.end()) return false;
  *type = found->second.type;
  *value = found->second.value;
  return true;
}

void RegistrySetValue(const char* subKey, const char* name, DWORD type, DWORD value) {
  std::lock_guard<std::mutex> guard(lock);
  registry[subKey][name] = StoredValue{type, value};
}

int OpenKeys() {
  std::lock_guard<std::mutex> guard(lock);
  return openKeys;
}

}  // namespace standin
