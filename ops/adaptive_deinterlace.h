#pragma once

#include <optional>

#include "ops/combing.h"
#include "ops/pixel_rows.h"

namespace tessary {

// Repairs only where the two fields disagree. The combed areas (the comb
// teeth, grown by a few pixels and a row of the rebuilt field each way) take
// the other field's rows rebuilt from the kept field by FieldInterpolator; the
// rebuilt rows fade into the captured ones over a few pixels at the edge of an
// area, so that no seam shows. Every pixel outside those areas, and every row
// of the kept field, stays exactly as captured: a picture without combing comes
// out unchanged. `keep` names the field to keep; without it the field whose
// rows are the more consistent picture is kept (MoreConsistentField).
// Returns what it found and the field it kept (in `keep` of the report).
CombingReport DeinterlaceAdaptive(const PixelRows& rows, std::optional<Field> keep = std::nullopt);

}  // namespace tessary
