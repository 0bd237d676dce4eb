// The plug-in's four information strings, also shown by tavko --version.
#pragma once

// Index 0: interface version (32-bit import filter); 1: description;
// 2: file-name filter; 3: the format's display name.
inline const char* const kInfoStrings[4] = {
    "00IN",
    "QVX(PELKO) to DIB filter version.0.04",
    "*.QVX",
    "QVX(PELKO)(1,2,4,8,16(15),24,32bit)",
};
