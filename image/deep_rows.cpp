#include "image/deep_rows.h"

#include "image/row_kernel.h"

namespace tessary {

DeepRows DeepRowsOf(DeepPixels* deep) {
    if (deep == nullptr || deep->IsEmpty() || deep->width > uint32_t{INT32_MAX} ||
        deep->height > uint32_t{INT32_MAX}) {
        return {};
    }
    return {deep->Row(0), static_cast<int64_t>(deep->RowSamples()),
            static_cast<int32_t>(deep->width), static_cast<int32_t>(deep->height)};
}

TESSARY_ROW_KERNEL void RoundDeepRow(const uint16_t* rgb, int32_t width, uint8_t* bgr) {
    for (int32_t x = 0; x < width; ++x) {
        bgr[3 * x] = ByteOfSample(rgb[3 * x + 2]);
        bgr[3 * x + 1] = ByteOfSample(rgb[3 * x + 1]);
        bgr[3 * x + 2] = ByteOfSample(rgb[3 * x]);
    }
}

}  // namespace tessary
