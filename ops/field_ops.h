#pragma once

#include <cstdint>

#include "image/image_surface.h"

namespace tessary {

// The three repairs of an interlaced frame, in place, every pixel through the
// surface's virtual operations. Each returns true. Callers that care for speed
// hold the surface locked around them. A picture with 16-bit samples (see
// CDibImage::GetDeep) is repaired at 16 bits instead, row by row, and rounded
// into its 8-bit pixels.

// Replaces rows (0, 1), (2, 3), ... by their average; a last row without a
// partner stays as it is.
bool Deinterlace(CImageSurface& surface);

// Paints `top` rows at the top and `bottom` rows at the bottom black; counts of
// 0 or less paint nothing.
bool ClipRows(CImageSurface& surface, int32_t top, int32_t bottom);

// Darkens the three rows below the top band and the three above the bottom
// band to a quarter, a half and three quarters of their brightness, the darkest
// next to the band.
bool SoftenBorders(CImageSurface& surface, int32_t top, int32_t bottom);

}  // namespace tessary
