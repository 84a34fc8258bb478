#pragma once

// Row kernels are built three times on x86-64, for AVX-512 (x86-64-v4), for
// AVX2 and plain, and the processor picks one at run time: without the byte
// shuffles of later processors GCC can't vectorise loops over interleaved
// blue, green, red, and AVX-512 takes twice the pixels per instruction again.
// Clang clones the same way from version 14 on. TESSARY_PLAIN_KERNELS builds
// the plain loops alone, so that the tests can run them on a processor that
// would pick a variant.
#if defined(__x86_64__) && !defined(TESSARY_PLAIN_KERNELS) && \
    ((defined(__GNUC__) && !defined(__clang__)) || (defined(__clang__) && __clang_major__ >= 14))
#define TESSARY_ROW_KERNEL __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
// Where the variants are built, a kernel may also have a hand-written path of
// its own for an instruction set, picked at run time.
#define TESSARY_KERNEL_VARIANTS
#else
#define TESSARY_ROW_KERNEL
#endif
