// Processor features for the wide row conversions, found once at run time
// so that the plug-in still runs on processors without them.
#pragma once

// Nonzero when the processor has SSE2 / SSSE3 (and the build can use them).
int HasSse2();
int HasSsse3();

// The CPUID instruction exists (always on x86-64; probed on i686).
int HasCpuid();
