#include "image/image_surface.h"

#include <cmath>

namespace tessary {

namespace {

inline bool FitsCoordinate(int64_t v) {
    return v >= INT32_MIN && v <= INT32_MAX;
}

// Drawing loops run in 64 bits so that no rectangle or radius overflows; a
// position that does not fit a coordinate lies outside every image and is
// passed over, as the store would drop it.
template <typename Plot>
void PlotAt(int64_t x, int64_t y, Plot plot) {
    if (FitsCoordinate(x) && FitsCoordinate(y)) {
        plot(static_cast<int32_t>(x), static_cast<int32_t>(y));
    }
}

// Corners are written by both loops.
template <typename Plot>
void FrameOutline(int64_t x0, int64_t y0, int64_t x1, int64_t y1, Plot plot) {
    for (int64_t x = x0; x < x1; ++x) {
        PlotAt(x, y0, plot);
        PlotAt(x, y1 - 1, plot);
    }
    for (int64_t y = y0; y < y1; ++y) {
        PlotAt(x0, y, plot);
        PlotAt(x1 - 1, y, plot);
    }
}

template <typename Border, typename Fill>
void BoxArea(int64_t x0, int64_t y0, int64_t x1, int64_t y1, Border border, Fill fill) {
    for (int64_t x = x0; x < x1; ++x) {
        PlotAt(x, y0, border);
        PlotAt(x, y1 - 1, border);
    }
    for (int64_t y = y0 + 1; y <= y1 - 2; ++y) {
        PlotAt(x0, y, border);
        PlotAt(x1 - 1, y, border);
        for (int64_t x = x0 + 1; x <= x1 - 2; ++x) {
            PlotAt(x, y, fill);
        }
    }
}

template <typename Plot>
void DiscArea(int64_t cx, int64_t cy, int64_t r, Plot plot) {
    const int64_t r2 = r * r;
    for (int64_t y = cy - r; y < cy + r; ++y) {
        for (int64_t x = cx - r; x < cx + r; ++x) {
            if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r2) {
                PlotAt(x, y, plot);
            }
        }
    }
}

inline float Midpoint(float a, float b) {
    return static_cast<float>((static_cast<double>(a) + b) * 0.5);
}

inline bool SamePosition(float xa, float ya, float xb, float yb) {
    return xa == xb && ya == yb;
}

}  // namespace

CImageSurface::~CImageSurface() = default;

int CImageSurface::Lock() {
    m_image.Lock();
    return 1;
}

int CImageSurface::IsLocked() {
    return m_image.IsLocked();
}

int CImageSurface::Unlock() {
    m_image.Unlock();
    return 1;
}

int CImageSurface::GetRed(int32_t x, int32_t y) {
    return static_cast<int>(RedOf(GetPixel(x, y)));
}

int CImageSurface::GetGreen(int32_t x, int32_t y) {
    return static_cast<int>(GreenOf(GetPixel(x, y)));
}

int CImageSurface::GetBlue(int32_t x, int32_t y) {
    return static_cast<int>(BlueOf(GetPixel(x, y)));
}

int CImageSurface::GetHue(int32_t x, int32_t y) {
    return CColorMath().HueOfColor(GetPixel(x, y));
}

int CImageSurface::GetSaturation(int32_t x, int32_t y) {
    return CColorMath().SaturationOfColor(GetPixel(x, y));
}

int CImageSurface::GetValue(int32_t x, int32_t y) {
    return CColorMath().ValueOfColor(GetPixel(x, y));
}

float CImageSurface::GetHueF(int32_t x, int32_t y) {
    return CColorMath().HueOfColorF(GetPixel(x, y));
}

float CImageSurface::GetSaturationF(int32_t x, int32_t y) {
    return CColorMath().SaturationOfColorF(GetPixel(x, y));
}

float CImageSurface::GetValueF(int32_t x, int32_t y) {
    return CColorMath().ValueOfColorF(GetPixel(x, y));
}

int CImageSurface::GetAbgrA(int32_t x, int32_t y) {
    return static_cast<int>(GetPixel(x, y) >> 24);
}

int CImageSurface::GetAbgrB(int32_t x, int32_t y) {
    return static_cast<int>(BlueOf(GetPixel(x, y)));
}

int CImageSurface::GetAbgrG(int32_t x, int32_t y) {
    return static_cast<int>(GreenOf(GetPixel(x, y)));
}

int CImageSurface::GetAbgrR(int32_t x, int32_t y) {
    return static_cast<int>(RedOf(GetPixel(x, y)));
}

float CImageSurface::GetAbgrAF(int32_t x, int32_t y) {
    return FloatFromByte(GetPixel(x, y) >> 24);
}

float CImageSurface::GetAbgrBF(int32_t x, int32_t y) {
    return FloatFromByte(BlueOf(GetPixel(x, y)));
}

float CImageSurface::GetAbgrGF(int32_t x, int32_t y) {
    return FloatFromByte(GreenOf(GetPixel(x, y)));
}

float CImageSurface::GetAbgrRF(int32_t x, int32_t y) {
    return FloatFromByte(RedOf(GetPixel(x, y)));
}

int CImageSurface::SetRgbFTransparentF(int32_t x, int32_t y, float red, float green, float blue,
                                       float t) {
    SetPixelTransparentF(x, y,
                         PackRgb(ByteFromFloat(red), ByteFromFloat(green), ByteFromFloat(blue)), t);
    return 1;
}

int CImageSurface::SetRgbFTransparent(int32_t x, int32_t y, float red, float green, float blue,
                                      int t) {
    SetPixelTransparent(x, y,
                        PackRgb(ByteFromFloat(red), ByteFromFloat(green), ByteFromFloat(blue)), t);
    return 1;
}

int CImageSurface::SetRgbTransparent(int32_t x, int32_t y, int red, int green, int blue, int t) {
    SetPixelTransparent(x, y, PackInts(red, green, blue), t);
    return 1;
}

int CImageSurface::Blend(uint32_t color, uint32_t old, int t) {
    // 64 bits so that no transparency overflows; the result wraps like the
    // 32-bit value it stands for, and only its low 8 bits are written anyway.
    const int64_t tl = t;
    const int64_t mixed = (int64_t{color} * (255 - tl) + int64_t{old} * tl) / 255;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(mixed)));
}

int CImageSurface::SetPixelTransparent(int32_t x, int32_t y, PackedColor color, int t) {
    const PackedColor old = m_image.GetPixel(x, y);
    SetRgb(x, y, Blend(RedOf(color), RedOf(old), t), Blend(GreenOf(color), GreenOf(old), t),
           Blend(BlueOf(color), BlueOf(old), t));
    return 1;
}

int CImageSurface::SetHsvFTransparentF(int32_t x, int32_t y, float h, float s, float v, float t) {
    SetPixelTransparentF(x, y, CColorMath().HsvToColorF(h, s, v), t);
    return 1;
}

int CImageSurface::SetHsvFTransparent(int32_t x, int32_t y, float h, float s, float v, int t) {
    SetPixelTransparent(x, y, CColorMath().HsvToColorF(h, s, v), t);
    return 1;
}

int CImageSurface::SetHsvF(int32_t x, int32_t y, float h, float s, float v) {
    SetPixel(x, y, CColorMath().HsvToColorF(h, s, v));
    return 1;
}

int CImageSurface::SetHsvTransparentF(int32_t x, int32_t y, int h, int s, int v, float t) {
    SetPixelTransparentF(x, y, CColorMath().HsvToColor(h, s, v), t);
    return 1;
}

int CImageSurface::SetHsvTransparent(int32_t x, int32_t y, int h, int s, int v, int t) {
    SetPixelTransparent(x, y, CColorMath().HsvToColor(h, s, v), t);
    return 1;
}

int CImageSurface::SetHsv(int32_t x, int32_t y, int h, int s, int v) {
    SetPixel(x, y, CColorMath().HsvToColor(h, s, v));
    return 1;
}

namespace {

inline PackedColor PackAbgr(uint32_t a, uint32_t blue, uint32_t green, uint32_t red) {
    return PackRgb(red, green, blue) | ((a & 0xFF) << 24);
}

inline PackedColor PackAbgrF(float a, float blue, float green, float red) {
    return PackAbgr(ByteFromFloat(a), ByteFromFloat(blue), ByteFromFloat(green),
                    ByteFromFloat(red));
}

inline PackedColor PackAbgrInts(int a, int blue, int green, int red) {
    return PackAbgr(static_cast<uint32_t>(a), static_cast<uint32_t>(blue),
                    static_cast<uint32_t>(green), static_cast<uint32_t>(red));
}

}  // namespace

int CImageSurface::SetAbgrFTransparentF(int32_t x, int32_t y, float a, float blue, float green,
                                        float red, float t) {
    SetPixelTransparentF(x, y, PackAbgrF(a, blue, green, red), t);
    return 1;
}

int CImageSurface::SetAbgrFTransparent(int32_t x, int32_t y, float a, float blue, float green,
                                       float red, int t) {
    SetPixelTransparent(x, y, PackAbgrF(a, blue, green, red), t);
    return 1;
}

int CImageSurface::SetAbgrF(int32_t x, int32_t y, float a, float blue, float green, float red) {
    SetPixel(x, y, PackAbgrF(a, blue, green, red));
    return 1;
}

int CImageSurface::SetAbgrTransparentF(int32_t x, int32_t y, int a, int blue, int green, int red,
                                       float t) {
    SetPixelTransparentF(x, y, PackAbgrInts(a, blue, green, red), t);
    return 1;
}

int CImageSurface::SetAbgrTransparent(int32_t x, int32_t y, int a, int blue, int green, int red,
                                      int t) {
    SetPixelTransparent(x, y, PackAbgrInts(a, blue, green, red), t);
    return 1;
}

int CImageSurface::SetAbgr(int32_t x, int32_t y, int a, int blue, int green, int red) {
    m_image.SetPixel(x, y, PackAbgrInts(a, blue, green, red));
    return 1;
}

int CImageSurface::DrawBoxTransparentF(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                       PackedColor border, float borderT, PackedColor fill,
                                       float fillT) {
    BoxArea(
        x0, y0, x1, y1, [&](int32_t x, int32_t y) { SetPixelTransparentF(x, y, border, borderT); },
        [&](int32_t x, int32_t y) { SetPixelTransparentF(x, y, fill, fillT); });
    return 1;
}

int CImageSurface::DrawBoxTransparent(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                      PackedColor border, int borderT, PackedColor fill,
                                      int fillT) {
    BoxArea(
        x0, y0, x1, y1, [&](int32_t x, int32_t y) { SetPixelTransparent(x, y, border, borderT); },
        [&](int32_t x, int32_t y) { SetPixelTransparent(x, y, fill, fillT); });
    return 1;
}

int CImageSurface::DrawBox(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PackedColor border,
                           PackedColor fill) {
    BoxArea(
        x0, y0, x1, y1, [&](int32_t x, int32_t y) { SetPixel(x, y, border); },
        [&](int32_t x, int32_t y) { SetPixel(x, y, fill); });
    return 1;
}

int CImageSurface::DrawFrameTransparentF(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                         PackedColor color, float t) {
    FrameOutline(x0, y0, x1, y1,
                 [&](int32_t x, int32_t y) { SetPixelTransparentF(x, y, color, t); });
    return 1;
}

int CImageSurface::DrawFrameTransparent(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                        PackedColor color, int t) {
    FrameOutline(x0, y0, x1, y1,
                 [&](int32_t x, int32_t y) { SetPixelTransparent(x, y, color, t); });
    return 1;
}

int CImageSurface::DrawFrame(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PackedColor color) {
    FrameOutline(x0, y0, x1, y1, [&](int32_t x, int32_t y) { SetPixel(x, y, color); });
    return 1;
}

int CImageSurface::DrawDiscTransparent(int32_t cx, int32_t cy, int32_t radius, PackedColor color,
                                       int t) {
    DiscArea(cx, cy, radius, [&](int32_t x, int32_t y) { SetPixelTransparent(x, y, color, t); });
    return 1;
}

int CImageSurface::DrawDisc(int32_t cx, int32_t cy, int32_t radius, PackedColor color) {
    DiscArea(cx, cy, radius, [&](int32_t x, int32_t y) { SetPixel(x, y, color); });
    return 1;
}

int CImageSurface::DrawGradientLineRgbF(float x0, float y0, float red0, float green0, float blue0,
                                        float t0, float x1, float y1, float red1, float green1,
                                        float blue1, float t1) {
    const float mx = Midpoint(x0, x1);
    const float my = Midpoint(y0, y1);
    const float mr = Midpoint(red0, red1);
    const float mg = Midpoint(green0, green1);
    const float mb = Midpoint(blue0, blue1);
    const float mt = Midpoint(t0, t1);
    SetRgbFTransparentF(TruncToInt(mx), TruncToInt(my), mr, mg, mb, mt);

    const int64_t dx = int64_t{TruncToInt(x1)} - TruncToInt(x0);
    const int64_t dy = int64_t{TruncToInt(y1)} - TruncToInt(y0);
    if (dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1) {
        return 1;
    }
    // Ends that are not numbers, or so large that float spacing exceeds a
    // pixel, could otherwise halve forever: a half that would be the whole
    // segment again is not drawn.
    if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) {
        return 1;
    }
    if (!SamePosition(mx, my, x1, y1)) {
        DrawGradientLineRgbF(x0, y0, red0, green0, blue0, t0, mx, my, mr, mg, mb, mt);
    }
    if (!SamePosition(mx, my, x0, y0)) {
        DrawGradientLineRgbF(mx, my, mr, mg, mb, mt, x1, y1, red1, green1, blue1, t1);
    }
    return 1;
}

int CImageSurface::DrawGradientLine(int32_t x0, int32_t y0, PackedColor color0, int t0, int32_t x1,
                                    int32_t y1, PackedColor color1, int t1) {
    DrawGradientLineRgbF(static_cast<float>(x0), static_cast<float>(y0),
                         FloatFromByte(RedOf(color0)), FloatFromByte(GreenOf(color0)),
                         FloatFromByte(BlueOf(color0)), static_cast<float>(t0) * kByteToFloat,
                         static_cast<float>(x1), static_cast<float>(y1),
                         FloatFromByte(RedOf(color1)), FloatFromByte(GreenOf(color1)),
                         FloatFromByte(BlueOf(color1)), static_cast<float>(t1) * kByteToFloat);
    return 1;
}

int CImageSurface::DrawGradientLineF(float x0, float y0, PackedColor color0, float t0, float x1,
                                     float y1, PackedColor color1, float t1) {
    DrawGradientLineRgbF(x0, y0, FloatFromByte(RedOf(color0)), FloatFromByte(GreenOf(color0)),
                         FloatFromByte(BlueOf(color0)), t0, x1, y1, FloatFromByte(RedOf(color1)),
                         FloatFromByte(GreenOf(color1)), FloatFromByte(BlueOf(color1)), t1);
    return 1;
}

int CImageSurface::DrawLineTransparent(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                       PackedColor color, int t) {
    const float red = FloatFromByte(RedOf(color));
    const float green = FloatFromByte(GreenOf(color));
    const float blue = FloatFromByte(BlueOf(color));
    const float tf = static_cast<float>(t) * kByteToFloat;
    DrawGradientLineRgbF(static_cast<float>(x0), static_cast<float>(y0), red, green, blue, tf,
                         static_cast<float>(x1), static_cast<float>(y1), red, green, blue, tf);
    return 1;
}

int CImageSurface::DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PackedColor color) {
    DrawLineTransparent(x0, y0, x1, y1, color, 0);
    return 1;
}

}  // namespace tessary
