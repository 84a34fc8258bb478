#pragma once

#include <optional>
#include <string_view>

#include "image/image_surface.h"
#include "ops/combing.h"
#include "ops/pixel_rows.h"

namespace tessary {

// The ways to deinterlace a frame: the pair average of every two rows (the
// default), one field kept and the other rebuilt from it, or only the combed
// areas rebuilt.
enum class DeinterlaceMethod { Average, Top, Bottom, Adaptive };

// "average", "top", "bottom", "adaptive"; nothing for any other name.
std::optional<DeinterlaceMethod> ParseDeinterlaceMethod(std::string_view name);
const char* NameOf(DeinterlaceMethod method);
std::optional<Field> ParseField(std::string_view name);  // "top", "bottom"
const char* NameOf(Field field);

// Deinterlaces the surface's picture by `method`. Average goes through the
// surface pixel by pixel like the other repairs there; the others work on the
// picture's rows (and leave a picture that is not 24 bits per pixel alone).
// `keep` chooses the field for Adaptive; Top and Bottom name their own.
void DeinterlaceBy(CImageSurface& surface, DeinterlaceMethod method,
                   std::optional<Field> keep = std::nullopt);

}  // namespace tessary
