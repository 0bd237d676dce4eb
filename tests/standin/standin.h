// A small Linux stand-in, for tests only, for the Windows services that the
// plug-in's front end and settings code call: movable local-memory blocks, file reading, lstrlenA
// and four registry calls. It keeps count of what is held so that tests can
// check that every path releases what it took, and it can be told to make
// the n-th call of any acquiring service fail.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef struct StandinKey* HKEY;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef unsigned UINT;
typedef union {
  struct {
    DWORD LowPart;
    LONG HighPart;
  };
  int64_t QuadPart;
} LARGE_INTEGER;

#define WINAPI
#define TRUE 1
#define FALSE 0

#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040

#define GENERIC_READ 0x80000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_BEGIN 0u
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u
#define REG_DWORD 4u
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_MORE_DATA 234L

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
LPVOID LocalLock(HLOCAL block);
BOOL LocalUnlock(HLOCAL block);
HLOCAL LocalFree(HLOCAL block);
SIZE_T LocalSize(HLOCAL block);

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* high, DWORD method);
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void* overlapped);
BOOL CloseHandle(HANDLE file);
int lstrlenA(const char* text);

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, char* keyClass,
                     DWORD options, DWORD access, void* security, HKEY* key, DWORD* disposition);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type,
                      BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD size);
LONG RegCloseKey(HKEY key);

namespace standin {

// Services that can be made to fail.
enum Op {
  kLocalAlloc,
  kLocalLock,
  kCreateFile,
  kGetFileSize,
  kSetFilePointer,
  kReadFile,       // ReadFile returns FALSE
  kReadFileShort,  // ReadFile succeeds but delivers one byte less than asked
  kRegCreateKey,
  kRegQueryValue,
  kRegSetValue,
  kOpCount
};

// Makes the n-th call of op from now on fail (1 is the next call); 0 cancels.
void FailNth(Op op, int n);
// Calls of op since the last Reset.
int Calls(Op op);
// Cancels every planned failure and clears the call counts.
void Reset();

// What is held right now.
int LiveBlocks();
int LockedBlocks();
int OpenFiles();
int LockCount(HLOCAL block);

// The registry: one store for the process, keyed by "subkey\\value".
void RegistryClear();
bool RegistryKeyExists(const char* subKey);
bool RegistryValue(const char* subKey, const char* name, DWORD* type, DWORD* value);
void RegistrySetValue(const char* subKey, const char* name, DWORD type, DWORD value);
int OpenKeys();

}  // namespace standin
