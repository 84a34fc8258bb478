#include "ops/field_ops.h"

#include <algorithm>

namespace tessary {

namespace {

// The sum is stored as a float before it is halved, as single precision would.
inline float Average(float a, float b) {
    const float sum = a + b;
    return sum * 0.5f;
}

void PaintRowBlack(CImageSurface& surface, int32_t y, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        surface.SetRgb(x, y, 0, 0, 0);
    }
}

void DarkenRow(CImageSurface& surface, int64_t y, int32_t width, float t) {
    if (y < INT32_MIN || y > INT32_MAX) {
        return;  // outside every image
    }
    for (int32_t x = 0; x < width; ++x) {
        surface.SetRgbTransparentF(x, static_cast<int32_t>(y), 0, 0, 0, t);
    }
}

}  // namespace

bool Deinterlace(CImageSurface& surface) {
    CDibImage* image = surface.GetImage();
    const int32_t width = image->GetWidth();
    const int32_t height = image->GetHeight();
    for (int64_t row = 1; row < height; row += 2) {
        const auto lower = static_cast<int32_t>(row);
        const int32_t upper = lower - 1;
        for (int32_t x = 0; x < width; ++x) {
            const float redLower = surface.GetRedF(x, lower);
            const float redUpper = surface.GetRedF(x, upper);
            const float greenLower = surface.GetGreenF(x, lower);
            const float greenUpper = surface.GetGreenF(x, upper);
            const float blueLower = surface.GetBlueF(x, lower);
            const float blueUpper = surface.GetBlueF(x, upper);
            const float red = Average(redLower, redUpper);
            const float green = Average(greenLower, greenUpper);
            const float blue = Average(blueLower, blueUpper);
            surface.SetRgbF(x, lower, red, green, blue);
            surface.SetRgbF(x, upper, red, green, blue);
        }
    }
    return true;
}

bool ClipRows(CImageSurface& surface, int32_t top, int32_t bottom) {
    CDibImage* image = surface.GetImage();
    const int32_t width = image->GetWidth();
    const int32_t height = image->GetHeight();
    // Rows beyond the image would only be dropped by the store; the loops stop
    // at its edges so that a huge count does not spin through billions of them.
    const int32_t topEnd = std::min(top, height);
    for (int32_t y = 0; y < topEnd; ++y) {
        PaintRowBlack(surface, y, width);
    }
    const int64_t bottomEnd = std::max<int64_t>(int64_t{height} - bottom, 0);
    for (int64_t y = int64_t{height} - 1; y >= bottomEnd; --y) {
        PaintRowBlack(surface, static_cast<int32_t>(y), width);
    }
    return true;
}

bool SoftenBorders(CImageSurface& surface, int32_t top, int32_t bottom) {
    CDibImage* image = surface.GetImage();
    const int32_t width = image->GetWidth();
    const int32_t height = image->GetHeight();
    if (height <= 0) {
        // No row to soften: a very wide empty picture would otherwise spin
        // through billions of writes that all fall outside it.
        return true;
    }
    for (int i = 0; i < 3; ++i) {
        DarkenRow(surface, int64_t{top} + i, width, static_cast<float>((i + 1) * 0.25));
    }
    for (int i = 0; i < 3; ++i) {
        DarkenRow(surface, int64_t{height} - i - bottom - 1, width,
                  static_cast<float>((i + 1) * 0.25));
    }
    return true;
}

}  // namespace tessary
