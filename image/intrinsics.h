#pragma once

// The x86 intrinsics, for the hand-written paths that sit beside the row
// kernels' compiled variants (TESSARY_KERNEL_VARIANTS).
#include "image/row_kernel.h"

#if defined(TESSARY_KERNEL_VARIANTS)
// GCC 12's intrinsics pass an undefined vector as the unused operand of their
// masked builtins, which its own uninitialised-use check then reports.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif
