#pragma once

#include <cstdint>
#include <vector>

#include "ops/pixel_rows.h"

namespace tessary {

// How the adaptive repair lays rebuilt pixels over captured ones: each rebuilt
// pixel weighs by the share of rebuilt cells around it, so that no seam shows.

// Half the width of the fade between rebuilt and captured pixels.
inline constexpr int32_t kFade = 2;
// The fade sums (2 kFade + 1) pixels of three rebuilt rows.
inline constexpr int32_t kFadeCells = 3 * (2 * kFade + 1);

// The pixels from .. to - 1 of a rebuilt row: the stretch that holds every
// pixel with a weight.
struct Span {
    int32_t from = 0;
    int32_t to = 0;
};

// Weight (0 .. 16) of the rebuilt pixel in each byte of rebuilt row k of
// `count` rows of `width` area bytes (0 or 1 each): the share of area cells
// among the row's and the neighbouring rows' pixels within kFade, rows and
// columns beyond the edges standing in for the missing ones. `column` holds
// width + 2 kFade bytes of scratch. Returns the pixels with a weight; the
// weights of the others are left as they were.
Span FadeWeights(const std::vector<uint8_t>& areas, int32_t width, int32_t count, int32_t k,
                 std::vector<uint8_t>& column, uint8_t* weights);

// Sets to 0 the weights of the pixels (three samples each) whose every
// sample lies within `tolerance` of the rebuilt one: there the two fields
// agree as far as the picture's noise lets one tell, and the captured value
// is kept rather than traded for an invented one.
void KeepAgreeing(const uint8_t* captured, const uint8_t* rebuilt, int32_t pixels,
                  int32_t tolerance, uint8_t* __restrict weights);

// Moves each byte of the captured row towards the rebuilt one by its weight
// out of 16, rounding halves up.
void Blend(uint8_t* __restrict captured, const uint8_t* __restrict rebuilt,
           const uint8_t* __restrict weights, int64_t bytes);
// The same for 16-bit samples.
void Blend(uint16_t* __restrict captured, const uint16_t* __restrict rebuilt,
           const uint8_t* __restrict weights, int64_t samples);

}  // namespace tessary
