// The in-process server's entries: the loader's, and COM's.
#include "wic/codec.h"
#include "wic/guids.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    CodecModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != kQvxDecoderClsid) return CLASS_E_CLASSNOTAVAILABLE;
  IClassFactory* factory = NewDecoderFactory();
  if (factory == nullptr) return E_OUTOFMEMORY;
  HRESULT result = factory->QueryInterface(iid, out);
  factory->Release();
  return result;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return CodecObjectCount == 0 && CodecLockCount == 0 ? S_OK : S_FALSE;
}
