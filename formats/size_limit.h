#pragma once

#include <cstdint>

namespace tessary {

// The one limit on any image the program makes or reads: 1 GiB of pixel data.
// A header that asks for more is refused before anything is allocated.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// Fuzz builds run the same checks against a limit small enough that no input
// can make one run take seconds.
inline constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 22;
#else
inline constexpr uint64_t kMaxPixelBytes = uint64_t{1} << 30;
#endif

// The largest file a load reads into memory: the largest picture and as much
// again for whatever a file holds around it.
inline constexpr uint64_t kMaxFileBytes = 2 * kMaxPixelBytes;

}  // namespace tessary
