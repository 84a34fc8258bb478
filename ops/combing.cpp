#include "ops/combing.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tessary {

namespace {

// Bottom field only when its rows are clearly the more consistent.
constexpr double kBottomMargin = 0.75;
// Keeps a picture with a few teeth and no detail at all from scoring 100.
constexpr double kScoreFloor = 0.05e-3;

void LumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma) {
    for (int32_t x = 0; x < width; ++x) {
        luma[x] = static_cast<int16_t>(bgr[3 * x] + 2 * bgr[3 * x + 1] + bgr[3 * x + 2]);
    }
}

// Keeps only runs of kToothRun or more ones along the row; returns how many are left.
uint32_t KeepRuns(const uint8_t* raw, int32_t width, uint8_t* kept) {
    std::memset(kept, 0, size_t(width));
    for (int32_t x = 0; x + kToothRun <= width; ++x) {
        uint8_t core = 1;
        for (int32_t k = 0; k < kToothRun; ++k) {
            core &= raw[x + k];
        }
        for (int32_t k = 0; k < kToothRun; ++k) {
            kept[x + k] |= core;
        }
    }
    uint32_t count = 0;
    for (int32_t x = 0; x < width; ++x) {
        count += kept[x];
    }
    return count;
}

// Row y against the other field (the rows next to it) and its own (two away):
// `teeth` where the other field predicts it much worse, `detail` where its own does.
void CompareFields(const CombTeeth& frame, int32_t y, uint8_t* teeth, uint8_t* detail) {
    const int16_t* up2 = frame.LumaOf(y - 2);
    const int16_t* up = frame.LumaOf(y - 1);
    const int16_t* row = frame.LumaOf(y);
    const int16_t* down = frame.LumaOf(y + 1);
    const int16_t* down2 = frame.LumaOf(y + 2);
    for (int32_t x = 0; x < frame.width; ++x) {
        const int32_t other = std::abs(2 * row[x] - up[x] - down[x]);
        const int32_t own = std::abs(2 * row[x] - up2[x] - down2[x]);
        teeth[x] = other > kToothFactor * own + kToothContrast;
        detail[x] = own > kToothFactor * other + kToothContrast;
    }
}

}  // namespace

void FindCombTeeth(const PixelRows& rows, CombTeeth& frame) {
    frame.width = rows.IsEmpty() ? 0 : rows.width;
    frame.height = rows.IsEmpty() ? 0 : rows.height;
    frame.teeth = 0;
    frame.detail = 0;
    const size_t width = size_t(frame.width);
    const size_t pixels = width * size_t(frame.height);
    frame.luma.resize(pixels);
    frame.marks.assign(pixels, 0);
    if (pixels == 0) {
        return;
    }
    for (int32_t y = 0; y < frame.height; ++y) {
        LumaOfRow(rows.Row(y), frame.width, frame.luma.data() + size_t(y) * width);
    }
    // Two rows at the top and the bottom lack a neighbour in their own field
    // and are never marked.
    std::vector<uint8_t> teeth(width);
    std::vector<uint8_t> detail(width);
    std::vector<uint8_t> kept(width);
    for (int32_t y = 2; y + 2 < frame.height; ++y) {
        CompareFields(frame, y, teeth.data(), detail.data());
        frame.teeth += KeepRuns(teeth.data(), frame.width, frame.marks.data() + size_t(y) * width);
        frame.detail += KeepRuns(detail.data(), frame.width, kept.data());
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
    const double teethShare = double(teeth.teeth) / double(pixels);
    const double detailShare = double(teeth.detail) / double(pixels);
    report.score = 100.0 * teethShare / (teethShare + detailShare + kScoreFloor);
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
