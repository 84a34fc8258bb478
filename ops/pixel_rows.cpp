#include "ops/pixel_rows.h"

#include "formats/dib.h"

namespace tessary {

TESSARY_ROW_KERNEL void LumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma) {
    for (int32_t x = 0; x < width; ++x) {
        luma[x] = static_cast<int16_t>(bgr[3 * x] + 2 * bgr[3 * x + 1] + bgr[3 * x + 2]);
    }
}

PixelRows RowsOf(CDibImage& image) {
    uint8_t* dib = image.GetDibBytes();
    const uint64_t blockSize = image.GetDib().Size();
    if (dib == nullptr || blockSize < kInfoHeaderSize) {
        return {};
    }
    const BitmapInfoHeader header = ParseInfoHeader(dib);
    if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0) {
        return {};
    }
    const uint64_t offset = DibPixelOffset(header);
    const uint64_t stride = DibStride(uint32_t(header.biWidth), 24);
    if (offset > blockSize || stride * uint64_t(header.biHeight) > blockSize - offset) {
        return {};
    }
    PixelRows rows;
    rows.step = -static_cast<int64_t>(stride);
    rows.top = dib + offset + (uint64_t(header.biHeight) - 1) * stride;
    rows.width = header.biWidth;
    rows.height = header.biHeight;
    return rows;
}

}  // namespace tessary
