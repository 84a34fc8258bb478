#include "ops/field_ops.h"

#include <algorithm>

#include "image/deep_rows.h"
#include "ops/pixel_rows.h"

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

// The 16-bit picture of the surface's image with the 8-bit rows that hold it
// rounded, when it has one.
struct DeepPicture {
    DeepRows deep;
    PixelRows rows;
    bool IsEmpty() const { return deep.IsEmpty(); }
};

DeepPicture DeepPictureOf(CImageSurface& surface) {
    CDibImage& image = *surface.GetImage();
    const DeepPicture picture{DeepRowsOf(image.GetDeep()), RowsOf(image)};
    if (picture.rows.IsEmpty() || picture.deep.width != picture.rows.width ||
        picture.deep.height != picture.rows.height) {
        return {};
    }
    return picture;
}

TESSARY_ROW_KERNEL void AverageDeepRows(uint16_t* __restrict upper, uint16_t* __restrict lower,
                                        int64_t samples) {
    for (int64_t i = 0; i < samples; ++i) {
        const auto mean = static_cast<uint16_t>((uint32_t{upper[i]} + lower[i]) >> 1);
        upper[i] = mean;
        lower[i] = mean;
    }
}

// The pair average at 16 bits; the halves are dropped, as at 8 bits.
void AverageDeep(const DeepPicture& picture) {
    const DeepRows& deep = picture.deep;
    const PixelRows& rows = picture.rows;
    for (int32_t lower = 1; lower < deep.height; lower += 2) {
        AverageDeepRows(deep.Row(lower - 1), deep.Row(lower), deep.RowSamples());
        RoundDeepRow(deep.Row(lower), deep.width, rows.Row(lower));
        std::copy_n(rows.Row(lower), rows.RowBytes(), rows.Row(lower - 1));
    }
}

// Each sample times t, cut down as the 8-bit blend does.
void DarkenDeepRow(const DeepPicture& picture, int64_t y, float t) {
    if (y < 0 || y >= picture.deep.height) {
        return;
    }
    uint16_t* row = picture.deep.Row(static_cast<int32_t>(y));
    const double td = t;
    for (int64_t i = 0; i < picture.deep.RowSamples(); ++i) {
        row[i] = static_cast<uint16_t>(row[i] * td);
    }
    RoundDeepRow(row, picture.deep.width, picture.rows.Row(static_cast<int32_t>(y)));
}

}  // namespace

bool Deinterlace(CImageSurface& surface) {
    if (const DeepPicture picture = DeepPictureOf(surface); !picture.IsEmpty()) {
        AverageDeep(picture);
        return true;
    }
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
    if (const DeepPicture picture = DeepPictureOf(surface); !picture.IsEmpty()) {
        for (int32_t y = 0; y < height; ++y) {
            if (y < topEnd || y >= bottomEnd) {
                std::fill_n(picture.deep.Row(y), picture.deep.RowSamples(), uint16_t{0});
            }
        }
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
    const DeepPicture picture = DeepPictureOf(surface);
    const auto darken = [&](int64_t y, float t) {
        if (picture.IsEmpty()) {
            DarkenRow(surface, y, width, t);
        } else {
            DarkenDeepRow(picture, y, t);
        }
    };
    for (int i = 0; i < 3; ++i) {
        darken(int64_t{top} + i, static_cast<float>((i + 1) * 0.25));
    }
    for (int i = 0; i < 3; ++i) {
        darken(int64_t{height} - i - bottom - 1, static_cast<float>((i + 1) * 0.25));
    }
    return true;
}

}  // namespace tessary
