#include "ops/combing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tessary {

namespace {

// Bottom field only when its rows are clearly the more consistent.
constexpr double kBottomMargin = 0.9;

void LumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma) {
    for (int32_t x = 0; x < width; ++x) {
        luma[x] = static_cast<int16_t>(bgr[3 * x] + 2 * bgr[3 * x + 1] + bgr[3 * x + 2]);
    }
}

// +1 where row p sticks out above both neighbours a and b, -1 where it sticks
// out below both, 0 elsewhere.
void StickOut(const int16_t* a, const int16_t* p, const int16_t* b, int32_t width, int8_t* sign) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t up = p[x] - a[x];
        const int32_t down = p[x] - b[x];
        const bool above = up > kToothContrast && down > kToothContrast;
        const bool below = up < -kToothContrast && down < -kToothContrast;
        sign[x] = static_cast<int8_t>(int32_t{above} - int32_t{below});
    }
}

// Teeth of one row from the signs of the row and its neighbours, opened along
// the row so that only runs of three pixels or more remain.
void MarkTeeth(const int8_t* above, const int8_t* row, const int8_t* below, int32_t width,
               uint8_t* raw, uint8_t* marks) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t s = row[x];
        raw[x] = s != 0 && (above[x] == -s || below[x] == -s);
    }
    std::memset(marks, 0, size_t(width));
    for (int32_t x = 1; x + 1 < width; ++x) {
        const uint8_t core = raw[x - 1] & raw[x] & raw[x + 1];
        marks[x - 1] |= core;
        marks[x] |= core;
        marks[x + 1] |= core;
    }
}

}  // namespace

void FindCombTeeth(const PixelRows& rows, CombTeeth& teeth) {
    teeth.width = rows.IsEmpty() ? 0 : rows.width;
    teeth.height = rows.IsEmpty() ? 0 : rows.height;
    const size_t width = size_t(teeth.width);
    const size_t pixels = width * size_t(teeth.height);
    teeth.luma.resize(pixels);
    teeth.marks.assign(pixels, 0);
    if (pixels == 0) {
        return;
    }
    for (int32_t y = 0; y < teeth.height; ++y) {
        LumaOfRow(rows.Row(y), teeth.width, teeth.luma.data() + size_t(y) * width);
    }
    // Signs of three rows in turn; the picture's first and last rows have no
    // neighbour on one side and never stick out.
    std::vector<int8_t> signs(3 * width, 0);
    std::vector<uint8_t> raw(width);
    auto signOf = [&](int32_t y) { return signs.data() + size_t((y + 3) % 3) * width; };
    auto fillSign = [&](int32_t y) {
        if (y <= 0 || y >= teeth.height - 1) {
            std::memset(signOf(y), 0, width);
            return;
        }
        StickOut(teeth.LumaOf(y - 1), teeth.LumaOf(y), teeth.LumaOf(y + 1), teeth.width, signOf(y));
    };
    fillSign(0);
    fillSign(1);
    for (int32_t y = 1; y + 1 < teeth.height; ++y) {
        fillSign(y + 1);
        MarkTeeth(signOf(y - 1), signOf(y), signOf(y + 1), teeth.width, raw.data(),
                  teeth.marks.data() + size_t(y) * width);
    }
}

Field MoreConsistentField(const CombTeeth& teeth) {
    uint64_t roughness[2] = {0, 0};
    for (int32_t y = 2; y + 2 < teeth.height; ++y) {
        const uint8_t* marks = teeth.MarksOf(y);
        const int16_t* up = teeth.LumaOf(y - 2);
        const int16_t* row = teeth.LumaOf(y);
        const int16_t* down = teeth.LumaOf(y + 2);
        uint64_t sum = 0;
        for (int32_t x = 0; x < teeth.width; ++x) {
            sum += marks[x] * uint64_t(std::abs(2 * row[x] - up[x] - down[x]));
        }
        roughness[y & 1] += sum;
    }
    return double(roughness[1]) < kBottomMargin * double(roughness[0]) ? Field::Bottom : Field::Top;
}

CombingReport ReportCombing(const CombTeeth& teeth) {
    CombingReport report;
    const size_t pixels = teeth.marks.size();
    if (pixels == 0) {
        return report;
    }
    uint64_t count = 0;
    for (const uint8_t mark : teeth.marks) {
        count += mark;
    }
    report.score = 1000.0 * double(count) / double(pixels);
    report.combed = report.score > kCombedScore;
    report.keep = MoreConsistentField(teeth);
    return report;
}

CombingReport DetectCombing(const PixelRows& rows) {
    CombTeeth teeth;
    FindCombTeeth(rows, teeth);
    return ReportCombing(teeth);
}

}  // namespace tessary
