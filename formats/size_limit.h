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

// How a reader ended, for callers that want to tell "not an image" from "too big".
enum class ReadStatus {
    Ok,
    CantOpen,    // the file could not be opened
    Invalid,     // not this format, or damaged beyond reading
    TooLarge,    // a valid header asking for more than kMaxPixelBytes
    OutOfMemory  // within the limit, but the memory could not be had
};

}  // namespace tessary
