#pragma once

// Row kernels are built three times on x86-64, for AVX-512 (x86-64-v4), for
// AVX2 and plain, and the processor picks one at run time: without the byte
// shuffles of later processors GCC can't vectorise loops over interleaved
// blue, green, red, and AVX-512 takes twice the pixels per instruction again.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TESSARY_ROW_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define TESSARY_ROW_KERNEL
#endif
