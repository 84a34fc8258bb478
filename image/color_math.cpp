#include "image/color_math.h"

#include <cmath>
#include <cstdlib>

namespace tessary {

namespace {

// One 32-bit store of a value computed in double precision.
inline float Store(double value) {
    return static_cast<float>(value);
}

inline float Scaled(int channel) {
    return Store(static_cast<double>(channel) * kByteToFloat);
}

inline int Unscaled(float channel) {
    return TruncToInt(static_cast<double>(channel) * 255.0);
}

// The interpolations divide integer differences in floating point; the
// differences are formed in 64 bits so that no pair of positions overflows.
inline float Fraction(int start, int end, int pos) {
    const double num = static_cast<double>(int64_t{pos} - start);
    const double den = static_cast<double>(int64_t{end} - start);
    return Store(num / den);
}

}  // namespace

CColorMath::CColorMath() : m_pi(3.1415926535), m_degToRad(3.1415926535 / 180.0) {}

float CColorMath::RandomInRange(float lo, float hi) {
    if (hi < lo) {
        return lo;
    }
    // RAND_MAX is far above 32767 here; the low 15 bits give the 0..32767 the
    // scale is made for.
    const int r = std::rand() & 0x7FFF;
    return Store(static_cast<double>(lo) +
                 static_cast<double>(r) * kRandomScale * (static_cast<double>(hi) - lo));
}

float CColorMath::Distance3D(float x1, float y1, float z1, float x2, float y2, float z2) {
    const double dx = static_cast<double>(x2) - x1;
    const double dy = static_cast<double>(y2) - y1;
    const double dz = static_cast<double>(z2) - z1;
    return Store(std::sqrt(dx * dx + dy * dy + dz * dz));
}

float CColorMath::Distance2D(float x1, float y1, float x2, float y2) {
    const double dx = static_cast<double>(x2) - x1;
    const double dy = static_cast<double>(y2) - y1;
    return Store(std::sqrt(dx * dx + dy * dy));
}

float CColorMath::CornerProduct(float x1, float y1, float x2, float y2, float x3, float y3) {
    const double a = (static_cast<double>(y2) - y1) * (static_cast<double>(y2) - y3);
    const double b = (static_cast<double>(x2) - x1) * (static_cast<double>(x3) - x2);
    return Store(a - b);
}

float CColorMath::Angle2D(float x1, float y1, float x2, float y2) {
    const double dx = static_cast<double>(x2) - x1;
    const double dy = static_cast<double>(y2) - y1;
    if (dx == 0.0 && dy == 0.0) {
        return 0.0f;
    }
    return Store(std::atan2(dy, dx));
}

int CColorMath::IsAngleInRange(float x1, float y1, float x2, float y2, float start, float span) {
    const float angle = Angle2D(x1, y1, x2, y2);
    return (start < angle && angle < static_cast<double>(start) + span) ? 1 : 0;
}

float CColorMath::PolarX(float angle, float radius) {
    return Store(std::cos(static_cast<double>(angle)) * radius);
}

float CColorMath::PolarY(float angle, float radius) {
    return Store(std::sin(static_cast<double>(angle)) * radius);
}

float CColorMath::LinearInterpolate(float valueAtEnd, float valueAtStart, int start, int end,
                                    int pos) {
    if (end == start) {
        return valueAtEnd;
    }
    const double t = Fraction(start, end, pos);
    return Store((1.0 - t) * valueAtStart + t * valueAtEnd);
}

float CColorMath::CosineWave(float pos, float amplitude, float frequency) {
    return Store((std::cos(static_cast<double>(pos) * m_pi * frequency) + 1.0) * 0.5 * amplitude);
}

float CColorMath::CosineInterpolate(float valueAtStart, float valueAtEnd, int start, int end,
                                    int pos, float frequency) {
    if (end == start) {
        return valueAtStart;
    }
    const double t = Fraction(start, end, pos);
    const double g = Store((std::cos(t * m_pi * frequency) + 1.0) * 0.5);
    return Store((1.0 - g) * valueAtEnd + g * valueAtStart);
}

PackedColor CColorMath::HsvToColor(int h, int s, int v) {
    const auto red = static_cast<uint32_t>(RedFromHsv(h, s, v));
    const auto green = static_cast<uint32_t>(GreenFromHsv(h, s, v));
    const auto blue = static_cast<uint32_t>(BlueFromHsv(h, s, v));
    return PackRgb(red, green, blue);
}

PackedColor CColorMath::HsvToColorF(float h, float s, float v) {
    return PackRgb(ByteFromFloat(RedFromHsvF(h, s, v)), ByteFromFloat(GreenFromHsvF(h, s, v)),
                   ByteFromFloat(BlueFromHsvF(h, s, v)));
}

int CColorMath::RedFromHsv(int h, int s, int v) {
    int red = 0, green = 0, blue = 0;
    HsvToRgb(h, s, v, red, green, blue);
    return red;
}

float CColorMath::RedFromHsvF(float h, float s, float v) {
    float red = 0, green = 0, blue = 0;
    HsvToRgbF(h, s, v, red, green, blue);
    return red;
}

int CColorMath::GreenFromHsv(int h, int s, int v) {
    int red = 0, green = 0, blue = 0;
    HsvToRgb(h, s, v, red, green, blue);
    return green;
}

float CColorMath::GreenFromHsvF(float h, float s, float v) {
    float red = 0, green = 0, blue = 0;
    HsvToRgbF(h, s, v, red, green, blue);
    return green;
}

int CColorMath::BlueFromHsv(int h, int s, int v) {
    int red = 0, green = 0, blue = 0;
    HsvToRgb(h, s, v, red, green, blue);
    return blue;
}

float CColorMath::BlueFromHsvF(float h, float s, float v) {
    float red = 0, green = 0, blue = 0;
    HsvToRgbF(h, s, v, red, green, blue);
    return blue;
}

float CColorMath::HueOfColorF(PackedColor color) {
    float h = 0, s = 0, v = 0;
    RgbToHsvF(FloatFromByte(RedOf(color)), FloatFromByte(GreenOf(color)),
              FloatFromByte(BlueOf(color)), h, s, v);
    return h;
}

float CColorMath::SaturationOfColorF(PackedColor color) {
    float h = 0, s = 0, v = 0;
    RgbToHsvF(FloatFromByte(RedOf(color)), FloatFromByte(GreenOf(color)),
              FloatFromByte(BlueOf(color)), h, s, v);
    return s;
}

float CColorMath::ValueOfColorF(PackedColor color) {
    float h = 0, s = 0, v = 0;
    RgbToHsvF(FloatFromByte(RedOf(color)), FloatFromByte(GreenOf(color)),
              FloatFromByte(BlueOf(color)), h, s, v);
    return v;
}

int CColorMath::HueOfColor(PackedColor color) {
    int h = 0, s = 0, v = 0;
    RgbToHsv(static_cast<int>(RedOf(color)), static_cast<int>(GreenOf(color)),
             static_cast<int>(BlueOf(color)), h, s, v);
    return h;
}

int CColorMath::SaturationOfColor(PackedColor color) {
    int h = 0, s = 0, v = 0;
    RgbToHsv(static_cast<int>(RedOf(color)), static_cast<int>(GreenOf(color)),
             static_cast<int>(BlueOf(color)), h, s, v);
    return s;
}

int CColorMath::ValueOfColor(PackedColor color) {
    int h = 0, s = 0, v = 0;
    RgbToHsv(static_cast<int>(RedOf(color)), static_cast<int>(GreenOf(color)),
             static_cast<int>(BlueOf(color)), h, s, v);
    return v;
}

int CColorMath::HsvToRgb(int h, int s, int v, int& red, int& green, int& blue) {
    float r = 0, g = 0, b = 0;
    HsvToRgbF(static_cast<float>(h), Scaled(s), Scaled(v), r, g, b);
    red = Unscaled(r);
    green = Unscaled(g);
    blue = Unscaled(b);
    return 1;
}

int CColorMath::HsvToRgbF(float h, float s, float v, float& red, float& green, float& blue) {
    float hue = std::isfinite(h) ? std::fabs(h) : 0.0f;
    if (hue > 360.0f) {
        // fmod is exact, so the wrapped hue is still a float value.
        hue = Store(std::fmod(static_cast<double>(hue), 360.0));
    }
    if (hue == 360.0f) {
        hue = 0.0f;
    }
    const double x = static_cast<double>(hue) * kOneSixtieth;
    const int i = static_cast<int>(std::floor(x));  // 0..6 after the wrap above
    const float f = Store(static_cast<double>(Store(x)) - i);
    const double sd = s;
    const float p = Store((1.0 - sd) * v);
    const float q = Store((1.0 - f * sd) * v);
    const float t = Store((1.0 - (1.0 - f) * sd) * v);
    switch (i) {
        case 0:
            red = v, green = t, blue = p;
            break;
        case 1:
            red = q, green = v, blue = p;
            break;
        case 2:
            red = p, green = v, blue = t;
            break;
        case 3:
            red = p, green = q, blue = v;
            break;
        case 4:
            red = t, green = p, blue = v;
            break;
        case 5:
            red = v, green = p, blue = q;
            break;
        default:
            red = v, green = v, blue = v;
            break;
    }
    return 1;
}

int CColorMath::RgbToHsv(int red, int green, int blue, int& h, int& s, int& v) {
    float hf = 0, sf = 0, vf = 0;
    RgbToHsvF(Scaled(red), Scaled(green), Scaled(blue), hf, sf, vf);
    h = TruncToInt(hf);
    s = Unscaled(sf);
    v = Unscaled(vf);
    return 1;
}

int CColorMath::RgbToHsvF(float red, float green, float blue, float& h, float& s, float& v) {
    float max = red;
    if (green > max)
        max = green;
    if (blue > max)
        max = blue;
    float min = red;
    if (green < min)
        min = green;
    if (blue < min)
        min = blue;
    v = max;
    if (max == 0.0f) {
        s = 0.0f;
        h = 0.0f;
        return 1;
    }
    const float delta = Store(static_cast<double>(max) - min);
    s = Store(static_cast<double>(delta) / max);
    float hue = 0.0f;
    if (delta != 0.0f) {
        if (red == max) {
            hue = Store((static_cast<double>(green) - blue) / delta);
        } else if (green == max) {
            hue = Store((static_cast<double>(blue) - red) / delta + 2.0);
        } else {
            hue = Store((static_cast<double>(red) - green) / delta + 4.0);
        }
    }
    hue = Store(static_cast<double>(hue) * 60.0);
    if (hue < 0.0f) {
        hue = Store(static_cast<double>(hue) + 360.0);
    }
    h = hue;
    return 1;
}

}  // namespace tessary
