#include "ops/black_bands.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tessary {

namespace {

// Luma scaled by 4 (blue + 2 green + red), as the levels below are.
constexpr int32_t kScale = 4;
// Share of a band row's pixels (in 1/1000) that may be brighter than kBandPixelLevel.
constexpr int32_t kBrightPerMille = 10;
// A noise row changes this many times more than the picture above it does.
constexpr double kNoiseFactor = 2.5;
// The smallest change, in levels per pixel, that counts as noise whatever the picture.
constexpr double kNoiseFloor = 4.0;
// The first noise row changes this many times more than the row above it.
constexpr double kBreakJump = 2.0;
constexpr int32_t kFieldStep = 2;
// Rows above the noise zone that tell how much the picture itself changes.
constexpr int32_t kBaselineRows = 32;

// The luma of the rows asked for, each worked out once: the detector only
// looks at the rows near the top and the bottom.
class RowMeasures {
  public:
    explicit RowMeasures(const PixelRows& rows)
        : width(rows.width),
          m_rows(rows),
          m_luma(new int16_t[size_t(rows.width) * size_t(rows.height)]),
          m_done(size_t(rows.height), false) {}
    const int16_t* Of(int32_t y) {
        int16_t* luma = m_luma.get() + size_t(y) * size_t(width);
        if (!m_done[size_t(y)]) {
            LumaOfRow(m_rows.Row(y), width, luma);
            m_done[size_t(y)] = true;
        }
        return luma;
    }
    const int32_t width;

  private:
    PixelRows m_rows;
    std::unique_ptr<int16_t[]> m_luma;
    std::vector<bool> m_done;
};

bool IsBandRow(const int16_t* luma, int32_t width) {
    int64_t sum = 0;
    int64_t bright = 0;
    int64_t flatness = 0;
    for (int32_t x = 0; x < width; ++x) {
        sum += luma[x];
        bright += luma[x] > kBandPixelLevel * kScale;
    }
    for (int32_t x = 1; x < width; ++x) {
        flatness += std::abs(luma[x] - luma[x - 1]);
    }
    return sum <= int64_t{kBandMeanLevel} * kScale * width &&
           bright * 1000 <= int64_t{kBrightPerMille} * width &&
           flatness <= int64_t{kBandFlatness} * kScale * width;
}

// Mean change per pixel from the row above, and along the row, in levels.
double VerticalChange(const int16_t* above, const int16_t* row, int32_t width) {
    int64_t sum = 0;
    for (int32_t x = 0; x < width; ++x) {
        sum += std::abs(row[x] - above[x]);
    }
    return double(sum) / (kScale * double(width));
}
double HorizontalChange(const int16_t* row, int32_t width) {
    int64_t sum = 0;
    for (int32_t x = 1; x < width; ++x) {
        sum += std::abs(row[x] - row[x - 1]);
    }
    return double(sum) / (kScale * double(std::max(width - 1, 1)));
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The first row of the head-switching noise that ends at row `last` (inclusive),
// or last + 1 when there is none.
int32_t NoiseStart(RowMeasures& rows, int32_t height, int32_t last) {
    // Rows are compared with the row two above, of the same field, so that
    // the combing of a moving picture does not look like a tear.
    auto torn = [&rows](int32_t y) {
        return VerticalChange(rows.Of(y - kFieldStep), rows.Of(y), rows.width);
    };
    const int32_t zone = std::max(height / kMaxNoiseShare, 1);
    const int32_t zoneTop = std::max(last - zone + 1, kFieldStep + 1);
    const int32_t baselineTop = std::max(zoneTop - kBaselineRows, kFieldStep + 1);
    if (zoneTop - baselineTop < 4) {
        return last + 1;
    }
    std::vector<double> vertical;
    std::vector<double> horizontal;
    for (int32_t y = baselineTop; y < zoneTop; ++y) {
        vertical.push_back(torn(y));
        horizontal.push_back(HorizontalChange(rows.Of(y), rows.width));
    }
    const double verticalLimit = std::max(kNoiseFactor * Median(vertical), kNoiseFloor);
    const double horizontalLimit = std::max(kNoiseFactor * Median(horizontal), kNoiseFloor);
    int32_t start = last + 1;
    for (int32_t y = last; y >= zoneTop; --y) {
        if (torn(y) <= verticalLimit &&
            HorizontalChange(rows.Of(y), rows.width) <= horizontalLimit) {
            break;
        }
        start = y;
    }
    // The noise begins with a jump from the picture above it, not with a
    // picture that grows busier towards the bottom.
    if (start <= last &&
        (torn(start) <= verticalLimit || torn(start) <= kBreakJump * torn(start - 1))) {
        return last + 1;
    }
    return start;
}

}  // namespace

BandReport DetectBands(const PixelRows& rows) {
    BandReport report;
    if (rows.IsEmpty()) {
        return report;
    }
    RowMeasures measures(rows);
    auto band = [&](int32_t y) { return IsBandRow(measures.Of(y), rows.width); };
    int32_t top = 0;
    while (top < rows.height && band(top)) {
        ++top;
    }
    report.top = top;
    if (top == rows.height) {
        return report;
    }
    int32_t last = rows.height - 1;
    while (last > top && band(last)) {
        --last;
    }
    last = NoiseStart(measures, rows.height, last) - 1;
    while (last > top && band(last)) {
        --last;
    }
    report.bottom = rows.height - 1 - last;
    return report;
}

}  // namespace tessary
