#pragma once

#include <cstdint>

#include "image/color_math.h"
#include "image/dib_image.h"
#include "image/packed_color.h"

namespace tessary {

// The per-pixel interface over one embedded image store: colours as packed
// values, integer or float channels, HSV or four channels, plain or blended
// writes, and simple drawing. Every read ends in the store's GetPixel and every
// write in its SetPixel. Calls between the operations go through the virtual
// table, so a derived surface sees (and may change) each step.
//
// Transparency is the share of the existing pixel that remains: 0 (or 0.0)
// paints opaquely, 255 (or 1.0) leaves the pixel as it was.
//
// The operations the repairs use are defined here in the header so that a
// caller that knows the object is a plain surface can inline them.
class CImageSurface {
  public:
    CImageSurface() = default;
    CImageSurface(const CImageSurface&) = delete;
    CImageSurface& operator=(const CImageSurface&) = delete;

    virtual ~CImageSurface();

    virtual CDibImage* GetImage() { return &m_image; }
    virtual int Lock();
    virtual int IsLocked();
    virtual int Unlock();

    virtual PackedColor GetPixel(int32_t x, int32_t y) { return m_image.GetPixel(x, y); }
    virtual int GetRed(int32_t x, int32_t y);
    virtual int GetGreen(int32_t x, int32_t y);
    virtual int GetBlue(int32_t x, int32_t y);
    virtual float GetRedF(int32_t x, int32_t y) { return FloatFromByte(RedOf(GetPixel(x, y))); }
    virtual float GetGreenF(int32_t x, int32_t y) { return FloatFromByte(GreenOf(GetPixel(x, y))); }
    virtual float GetBlueF(int32_t x, int32_t y) { return FloatFromByte(BlueOf(GetPixel(x, y))); }
    virtual int GetHue(int32_t x, int32_t y);
    virtual int GetSaturation(int32_t x, int32_t y);
    virtual int GetValue(int32_t x, int32_t y);
    virtual float GetHueF(int32_t x, int32_t y);
    virtual float GetSaturationF(int32_t x, int32_t y);
    virtual float GetValueF(int32_t x, int32_t y);
    virtual int GetAbgrA(int32_t x, int32_t y);
    virtual int GetAbgrB(int32_t x, int32_t y);
    virtual int GetAbgrG(int32_t x, int32_t y);
    virtual int GetAbgrR(int32_t x, int32_t y);
    virtual float GetAbgrAF(int32_t x, int32_t y);
    virtual float GetAbgrBF(int32_t x, int32_t y);
    virtual float GetAbgrGF(int32_t x, int32_t y);
    virtual float GetAbgrRF(int32_t x, int32_t y);

    virtual int SetRgbFTransparentF(int32_t x, int32_t y, float red, float green, float blue,
                                    float t);
    virtual int SetRgbFTransparent(int32_t x, int32_t y, float red, float green, float blue, int t);
    virtual int SetRgbF(int32_t x, int32_t y, float red, float green, float blue) {
        SetPixel(x, y, PackRgb(ByteFromFloat(red), ByteFromFloat(green), ByteFromFloat(blue)));
        return 1;
    }
    virtual int SetRgbTransparentF(int32_t x, int32_t y, int red, int green, int blue, float t) {
        SetPixelTransparentF(x, y, PackInts(red, green, blue), t);
        return 1;
    }
    virtual int SetRgbTransparent(int32_t x, int32_t y, int red, int green, int blue, int t);
    virtual int SetRgb(int32_t x, int32_t y, int red, int green, int blue) {
        SetPixel(x, y, PackInts(red, green, blue));
        return 1;
    }
    virtual int SetPixelTransparentF(int32_t x, int32_t y, PackedColor color, float t) {
        const PackedColor old = m_image.GetPixel(x, y);
        SetRgb(x, y, BlendF(RedOf(color), RedOf(old), t), BlendF(GreenOf(color), GreenOf(old), t),
               BlendF(BlueOf(color), BlueOf(old), t));
        return 1;
    }
    virtual int SetPixelTransparent(int32_t x, int32_t y, PackedColor color, int t);
    virtual int SetPixel(int32_t x, int32_t y, PackedColor color) {
        m_image.SetPixel(x, y, color);
        return 1;
    }

    virtual int SetHsvFTransparentF(int32_t x, int32_t y, float h, float s, float v, float t);
    virtual int SetHsvFTransparent(int32_t x, int32_t y, float h, float s, float v, int t);
    virtual int SetHsvF(int32_t x, int32_t y, float h, float s, float v);
    virtual int SetHsvTransparentF(int32_t x, int32_t y, int h, int s, int v, float t);
    virtual int SetHsvTransparent(int32_t x, int32_t y, int h, int s, int v, int t);
    virtual int SetHsv(int32_t x, int32_t y, int h, int s, int v);

    virtual int SetAbgrFTransparentF(int32_t x, int32_t y, float a, float blue, float green,
                                     float red, float t);
    virtual int SetAbgrFTransparent(int32_t x, int32_t y, float a, float blue, float green,
                                    float red, int t);
    virtual int SetAbgrF(int32_t x, int32_t y, float a, float blue, float green, float red);
    virtual int SetAbgrTransparentF(int32_t x, int32_t y, int a, int blue, int green, int red,
                                    float t);
    virtual int SetAbgrTransparent(int32_t x, int32_t y, int a, int blue, int green, int red,
                                   int t);
    virtual int SetAbgr(int32_t x, int32_t y, int a, int blue, int green, int red);

    // Boxes and frames cover columns x0..x1-1 and rows y0..y1-1.
    virtual int DrawBoxTransparentF(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                    PackedColor border, float borderT, PackedColor fill,
                                    float fillT);
    virtual int DrawBoxTransparent(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                   PackedColor border, int borderT, PackedColor fill, int fillT);
    virtual int DrawBox(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PackedColor border,
                        PackedColor fill);
    virtual int DrawFrameTransparentF(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                      PackedColor color, float t);
    virtual int DrawFrameTransparent(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                     PackedColor color, int t);
    virtual int DrawFrame(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PackedColor color);
    virtual int DrawDiscTransparent(int32_t cx, int32_t cy, int32_t radius, PackedColor color,
                                    int t);
    virtual int DrawDisc(int32_t cx, int32_t cy, int32_t radius, PackedColor color);

    // Lines plot the midpoint of the segment, then recurse on both halves until
    // the ends are neighbours; colour and transparency are averaged likewise.
    virtual int DrawGradientLineRgbF(float x0, float y0, float red0, float green0, float blue0,
                                     float t0, float x1, float y1, float red1, float green1,
                                     float blue1, float t1);
    virtual int DrawGradientLine(int32_t x0, int32_t y0, PackedColor color0, int t0, int32_t x1,
                                 int32_t y1, PackedColor color1, int t1);
    virtual int DrawGradientLineF(float x0, float y0, PackedColor color0, float t0, float x1,
                                  float y1, PackedColor color1, float t1);
    virtual int DrawLineTransparent(int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                    PackedColor color, int t);
    virtual int DrawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PackedColor color);

  protected:
    // Integer channels count with their low 8 bits only.
    static PackedColor PackInts(int red, int green, int blue) {
        return PackRgb(static_cast<uint32_t>(red), static_cast<uint32_t>(green),
                       static_cast<uint32_t>(blue));
    }
    static int BlendF(uint32_t color, uint32_t old, float t) {
        const double td = t;
        return TruncToInt(color * (1.0 - td) + old * td);
    }
    static int Blend(uint32_t color, uint32_t old, int t);

  private:
    CDibImage m_image;
};

}  // namespace tessary
