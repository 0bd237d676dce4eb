// The codec's COM objects: the class factory and the module's object count.
#pragma once

#include <windows.h>

// Live objects and server locks; the module may unload when both are zero.
extern LONG CodecObjectCount;
extern LONG CodecLockCount;
extern HMODULE CodecModule;

// A new class factory of the QVX decoder, with one reference.
IClassFactory* NewDecoderFactory();
