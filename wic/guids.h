// The identities of the QVX codec: its class, its container format and its
// vendor, as GUID values and as the strings the registry holds.
#pragma once

#include <windows.h>

// {77230C5A-8A0D-49F3-A6B1-F977416E7BFF}
const CLSID kQvxDecoderClsid = {0x77230c5a, 0x8a0d, 0x49f3, {0xa6, 0xb1, 0xf9, 0x77, 0x41, 0x6e, 0x7b, 0xff}};
const wchar_t kQvxDecoderClsidText[] = L"{77230C5A-8A0D-49F3-A6B1-F977416E7BFF}";

// {C77D2C2C-2EC5-4F4C-BAD0-015605DAFEEE}
const GUID kQvxContainerFormat = {0xc77d2c2c, 0x2ec5, 0x4f4c, {0xba, 0xd0, 0x01, 0x56, 0x05, 0xda, 0xfe, 0xee}};
const wchar_t kQvxContainerFormatText[] = L"{C77D2C2C-2EC5-4F4C-BAD0-015605DAFEEE}";

// {1D979E6C-B8B1-45CF-9EBC-A7854D1AAA6E}
const wchar_t kQvxVendorText[] = L"{1D979E6C-B8B1-45CF-9EBC-A7854D1AAA6E}";
