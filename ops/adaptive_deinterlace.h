#pragma once

#include <optional>

#include "image/deep_rows.h"
#include "ops/combing.h"
#include "ops/pixel_rows.h"

namespace tessary {

// Repairs only where the two fields disagree. A picture that DetectCombing
// finds not combed comes out unchanged. Otherwise the rows of the field
// not kept are rebuilt by FieldInterpolator at the comb teeth and, near them,
// wherever the other field predicts a row worse than its own; the rebuilt
// pixels fade into the captured ones over a few pixels, so that no seam
// shows. Every other pixel, and every row of the kept field, stays exactly as
// captured. `keep` names the field to keep; without it the field DetectCombing
// names is kept. Returns DetectCombing's report, with the field kept in `keep`.
// With `deep` (the same picture at 16 bits, which `rows` holds rounded) the
// same pixels are rebuilt and faded at 16 bits and rounded into `rows`.
CombingReport DeinterlaceAdaptive(const PixelRows& rows, std::optional<Field> keep = std::nullopt,
                                  const DeepRows& deep = {});

}  // namespace tessary
