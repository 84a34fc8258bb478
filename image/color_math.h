#pragma once

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/packed_color.h"

namespace tessary {

// The float nearest 1/255, one step above it: byte -> float -> byte is then the
// identity for every byte (1/255 itself would lose some to truncation).
inline constexpr float kByteToFloat = std::bit_cast<float>(0x3B808081u);
inline constexpr float kOneSixtieth = 1.0f / 60.0f;
inline constexpr float kRandomScale = 1.0f / 32767.0f;

// Truncates toward zero. Values beyond 32 bits saturate and NaN gives
// INT32_MIN, never undefined behaviour: as a coordinate such a value lies
// outside every image. Plain comparisons rather than conversion intrinsics, so
// that a value folded at compile time converts exactly as it would at run time.
inline int32_t TruncToInt(double value) {
    const double low = value > -2147483648.0 ? value : -2147483648.0;  // NaN fails: low
    const double clamped = low < 2147483647.0 ? low : 2147483647.0;
    return static_cast<int32_t>(clamped);
}

// A float channel as a byte: trunc(v x 255) keeping the low 8 bits, no clamping,
// so 1.5 gives 126 and -0.004 gives 255 (beyond 32 bits: 255 above, 0 below and
// for NaN, as TruncToInt gives). This is on the per-pixel path of every float
// write, so with SSE2 it is one cap and one conversion, without a branch: the
// conversion's "indefinite" answer for NaN and for anything beyond 32 bits is
// INT32_MIN, whose low byte 0 is right for NaN and below; only values above
// need the cap, and a comparison with NaN fails, so NaN passes it untouched.
inline uint32_t ByteFromFloat(float value) {
#if defined(__SSE2__)
    const double product = static_cast<double>(value) * 255.0;
    const double capped = 2147483647.0 < product ? 2147483647.0 : product;
    return static_cast<uint32_t>(_mm_cvttsd_si32(_mm_set_sd(capped))) & 0xFF;
#else
    return static_cast<uint32_t>(TruncToInt(static_cast<double>(value) * 255.0)) & 0xFF;
#endif
}

// Every byte's float, worked out at compile time with the same single-precision
// product; reading one costs a load instead of a conversion and a multiply.
struct ByteFloatTable {
    float values[256];
    constexpr ByteFloatTable() : values() {
        for (uint32_t byte = 0; byte < 256; ++byte) {
            values[byte] = static_cast<float>(byte) * kByteToFloat;
        }
    }
};
inline constexpr ByteFloatTable kByteFloats;

inline float FloatFromByte(uint32_t byte) {
    return kByteFloats.values[byte & 0xFF];
}

// Plane and space geometry, interpolation, a random value in a range, and the
// RGB <-> HSV conversions in float and integer form. Stateless apart from the
// process's random generator. Floats are stored as 32-bit values between steps;
// the arithmetic between stores is done in double precision.
class CColorMath {
  public:
    CColorMath();

    // Draws on std::rand(), taking its low 15 bits (0..32767).
    virtual float RandomInRange(float lo, float hi);
    virtual float Distance3D(float x1, float y1, float z1, float x2, float y2, float z2);
    virtual float Distance2D(float x1, float y1, float x2, float y2);
    virtual float CornerProduct(float x1, float y1, float x2, float y2, float x3, float y3);
    virtual float Angle2D(float x1, float y1, float x2, float y2);
    virtual int IsAngleInRange(float x1, float y1, float x2, float y2, float start, float span);
    virtual float PolarX(float angle, float radius);
    virtual float PolarY(float angle, float radius);
    virtual float LinearInterpolate(float valueAtEnd, float valueAtStart, int start, int end,
                                    int pos);
    virtual float CosineWave(float pos, float amplitude, float frequency);
    virtual float CosineInterpolate(float valueAtStart, float valueAtEnd, int start, int end,
                                    int pos, float frequency);
    virtual PackedColor HsvToColor(int h, int s, int v);
    virtual PackedColor HsvToColorF(float h, float s, float v);
    virtual int RedFromHsv(int h, int s, int v);
    virtual float RedFromHsvF(float h, float s, float v);
    virtual int GreenFromHsv(int h, int s, int v);
    virtual float GreenFromHsvF(float h, float s, float v);
    virtual int BlueFromHsv(int h, int s, int v);
    virtual float BlueFromHsvF(float h, float s, float v);
    virtual float HueOfColorF(PackedColor color);
    virtual float SaturationOfColorF(PackedColor color);
    virtual float ValueOfColorF(PackedColor color);
    virtual int HueOfColor(PackedColor color);
    virtual int SaturationOfColor(PackedColor color);
    virtual int ValueOfColor(PackedColor color);
    virtual int HsvToRgb(int h, int s, int v, int& red, int& green, int& blue);
    // Hues above 360 wrap around the colour wheel; a hue that is not finite is
    // taken as 0.
    virtual int HsvToRgbF(float h, float s, float v, float& red, float& green, float& blue);
    virtual int RgbToHsv(int red, int green, int blue, int& h, int& s, int& v);
    virtual int RgbToHsvF(float red, float green, float blue, float& h, float& s, float& v);

    double m_pi;
    double m_degToRad;
};

}  // namespace tessary
