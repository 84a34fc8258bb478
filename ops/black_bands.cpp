#include "ops/black_bands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace tessary {

namespace {

// Luma scaled by 4 (as blue + 2 green + red is), as the levels below are.
constexpr int32_t kScale = 4;
// Share of a band row's pixels (in 1/1000) that may be brighter than its black allows.
constexpr int32_t kBrightPerMille = 10;
// A row that starts a band holds only noise: its neighbours differ by at most
// this much on average (levels), and averaged over blocks of kBandBlock
// pixels it is nearly flat: the blocks stray from its mean less than
// kSeedCoarseShare of what its pixels do, plus kSeedCoarseSlack. Noise averages
// out over a block; a picture's content, however dark and faint, is smooth
// and does not.
constexpr double kSeedMaxSteps = 8.0;
constexpr double kSeedCoarseShare = 0.5;
constexpr double kSeedCoarseSlack = 0.1;
// A row whose pixels stray less than this from its mean holds no content to
// speak of, however its blocks lie: JPEG turns the clipped noise of a black
// at 0 into whole blocks a level apart.
constexpr double kSeedFlatSpread = 0.5;
// Levels by which a band row's pixels, and its blocks, may stray beyond what
// the band's own noise does: room for a noiseless band's rounding, too little
// for a dark picture's content.
constexpr double kNoiseSlack = 1.0;
constexpr double kCoarseSlack = 0.1;
// A band row's noise may be up to this many times the band's, or the band's
// less the same share of it.
constexpr double kNoiseGrowth = 1.5;
// How far a band row's mean may stray from the band's black: kMeanNoises times
// the noise of a row's mean (its blocks' noise over the square root of their
// count, as the band shows it), and as much again for the level itself, plus
// kLevelQuantum for rounding. A band's black holds steady; a dark picture's
// brightness drifts.
constexpr double kMeanNoises = 3.5;
constexpr double kLevelQuantum = 0.125;
// Rows a band needs before its rows' means tell how much they wander (one
// JPEG block), and the most that wander may count for, in the noises of a
// row's mean its blocks imply.
constexpr int32_t kWanderRows = 8;
constexpr double kMaxWander = 3.0;
// The looser bound, in levels and in noises of a row's mean, that a band's
// rows keep beside a clear edge: a colour block of 4:2:0 spans 16 rows, and
// its band rows take on a little of the picture's colour.
constexpr double kLevelSlack = 0.5;
constexpr double kLooseMeanNoises = 3.0;
// The standard deviation of noise over the mean distance from its middle,
// and that of the distance itself over its mean (both for normal noise).
constexpr double kSigmaPerSpread = 1.25;
constexpr double kCoarseNoisePerMean = 0.755;
constexpr double kPi = 3.14159265358979323846;
// A band pixel is bright above its black by this many times the band's
// spread, plus kBrightMargin levels.
constexpr double kBrightSpreads = 4.0;
constexpr double kBrightMargin = 8.0;
// A band meets a clear edge when its first row off the band's black, or the
// next, is this many times further from it than the band's own noise goes:
// no dark picture under the same noise looks like that. kLevelQuantum on top
// for a noiseless band.
constexpr double kEdgeNoises = 3.0;
constexpr int32_t kEdgeRows = 2;
// Ringing spreads over at most the other rows of a JPEG block of 8, by at most
// kRingingSpread levels on average, beside an edge kEdgeContrast levels above
// the band.
constexpr int32_t kRingingRows = 7;
constexpr double kRingingSpread = 3.0;
constexpr double kEdgeContrast = 40.0;
// A weaker edge still rings, in proportion to its contrast: a JPEG block of
// kLumaBlockRows rows (on a grid from the frame's top) that holds the band's
// last rows and the picture's first shows the band's rows off its black by at
// most kRingShare of the edge's contrast, and the edge itself as a jump of at
// least kEdgeJumpShare of it, which a picture fading in from the band's black
// never makes.
constexpr int32_t kLumaBlockRows = 8;
constexpr double kRingShare = 0.25;
constexpr double kEdgeJumpShare = 0.5;
// Ringing follows the edge along the row: beyond its row's offset it varies
// from pixel to pixel by no more than the band's noise and kRingSpreadShare
// of the edge's contrast, while a dark picture's own detail varies about as
// much as its rows stray.
constexpr double kRingSpreadShare = 0.0625;
// The colour of 4:2:0 JPEG is kept in blocks of kChromaBlockRows rows, and a
// block that holds picture spreads its colour over the band's rows in it. The
// band's own colour is measured over its first kColourRows rows outside that
// block, and a row at the band's end whose colour strays beyond the band's by
// more than kColourNoises times the band's own wander (plus kColourQuantum for
// rounding) and by more than kRingShare of the colour of the kBeyondRows rows
// past the end (or of the rows already dropped) is picture of the band's
// brightness: the band ends before it. The band's last row must first show
// kPictureShare of that colour: ringing seldom reaches it, a picture's row
// does, and so does a band row that shares its colour sample with one.
constexpr int32_t kChromaBlockRows = 16;
constexpr int32_t kColourRows = 16;
constexpr int32_t kMinColourRows = 2;
constexpr double kColourNoises = 4.0;
constexpr double kColourQuantum = 0.25;
constexpr int32_t kBeyondRows = 2;
constexpr double kPictureShare = 0.4;
// A band row shares its colour sample with its neighbour in a pair of rows,
// and the decoder blends in a quarter of the next pair's: the picture's colour
// reaches the band's last kChromaReach rows, at most kLentShare of it there.
constexpr int32_t kChromaReach = 2;
constexpr double kLentShare = 0.75;
// Rows that share one colour sample.
constexpr double kPairRows = 2.0;
// Colour, in levels of red less green plus blue less green per pixel, that a
// 4:2:0 block at the qualities captures are kept at (75 and better) codes as
// one shade over its 16 rows: its mean's quantum is about a level of blue
// less luma there, twice that in these terms.
constexpr double kBlockColourQuantum = 2.0;
// A band's black is grey; a flat dark strip of colour at the picture's edge
// (a night sky) is picture.
constexpr double kBlackTint = 3.0;
// Rows after a doubtful row that must keep the band's black for that row to
// count as the band's noise rather than its end.
constexpr int32_t kConfirmRows = 2;
// Rows just before a band's doubtful end whose means lean the same way by
// this many noises of a mean are where the picture began.
constexpr double kSuspectNoises = 2.5;
// Scores of a row beyond kDriftAllowance count as evidence of a drift off the
// band's black, and a sum beyond kDriftAlarm proves it. A band's level
// wanders a little more slowly than its noise shows row by row, so a mean's
// score counts only beyond kMeanDriftAllowance more.
constexpr double kDriftAllowance = 1.0;
constexpr double kDriftAlarm = 5.0;
constexpr double kMeanDriftAllowance = 0.5;
// A band that fades into the picture with fewer rows than this left gives no
// evidence of being a band at all.
constexpr int32_t kMinFadingRows = 4;
// A noise row changes this many times more than the picture above it does.
constexpr double kNoiseFactor = 2.5;
// The smallest change, in levels per pixel, that counts as noise whatever the picture.
constexpr double kNoiseFloor = 4.0;
// The first noise row changes this many times more than the row above it.
constexpr double kBreakJump = 2.0;
constexpr int32_t kFieldStep = 2;
// Rows above the noise zone that tell how much the picture itself changes.
constexpr int32_t kBaselineRows = 32;

// The luma JPEG stores for a pixel (0.299 red, 0.587 green, 0.114 blue), in
// 256ths of the scale of blue + 2 green + red, so that a grey is measured as
// that sum measures it. JPEG in 4:2:0 keeps this luma for every row but shares
// the colour between rows and spreads it over the rows near an edge, so a
// band row beside a coloured picture takes on some of its colour while its
// stored luma stays the band's: the band is judged in the stored luma.
constexpr int32_t kStoredRed = 306;
constexpr int32_t kStoredGreen = 601;
constexpr int32_t kStoredBlue = 117;
constexpr int32_t kStoredShift = 8;
static_assert(kStoredRed + kStoredGreen + kStoredBlue == kScale << kStoredShift,
              "a grey's stored luma is its level");

TESSARY_ROW_KERNEL void StoredLumaOfRow(const uint8_t* bgr, int32_t width, int16_t* luma) {
    constexpr int32_t kHalf = 1 << (kStoredShift - 1);
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* pixel = bgr + 3 * int64_t{x};
        luma[x] = int16_t(
            (kStoredBlue * pixel[0] + kStoredGreen * pixel[1] + kStoredRed * pixel[2] + kHalf) >>
            kStoredShift);
    }
}

// The stored luma of the rows asked for, each worked out once: the detector
// only looks at the rows near the top and the bottom.
class RowMeasures {
  public:
    explicit RowMeasures(const PixelRows& rows)
        : width(rows.width),
          height(rows.height),
          m_rows(rows),
          m_luma(new int16_t[size_t(rows.width) * size_t(rows.height)]),
          m_done(size_t(rows.height), false) {}
    const int16_t* Of(int32_t y) {
        int16_t* luma = m_luma.get() + size_t(y) * size_t(width);
        if (!m_done[size_t(y)]) {
            StoredLumaOfRow(m_rows.Row(y), width, luma);
            m_done[size_t(y)] = true;
        }
        return luma;
    }
    const uint8_t* Pixels(int32_t y) const { return m_rows.Row(y); }
    const int32_t width;
    const int32_t height;

  private:
    PixelRows m_rows;
    std::unique_ptr<int16_t[]> m_luma;
    std::vector<bool> m_done;
};

// A row's measures per pixel, in levels.
struct RowShape {
    double mean = 0;
    double spread = 0;  // from the level asked for
    double coarse = 0;  // the same for blocks of kBandBlock pixels
    double steps = 0;   // between neighbours
    double brightShare = 0;
};

RowShape ShapeOf(const int16_t* luma, int32_t width, double level, double brightAbove) {
    const BandRowSums sums = MeasureBandRow(luma, width, int32_t(std::lround(level * kScale)),
                                            int32_t(std::floor(brightAbove * kScale)));
    RowShape shape;
    shape.mean = double(sums.sum) / (kScale * double(width));
    shape.spread = double(sums.spread) / (kScale * double(width));
    shape.coarse = double(sums.coarse) / (kScale * double(width));
    shape.steps = double(sums.steps) / (kScale * double(std::max(width - 1, 1)));
    shape.brightShare = double(sums.bright) / double(width);
    return shape;
}

// The black of a band as seen so far: the means of its rows' measures.
class BandBlack {
  public:
    explicit BandBlack(int32_t width)
        : m_width(width), m_blocks((width + kBandBlock - 1) / kBandBlock) {}
    void Add(const RowShape& row) {
        ++m_rows;
        AddRunning(row.mean, m_level, m_meanSquares);
        m_spread += (row.spread - m_spread) / m_rows;
        AddRunning(row.coarse, m_coarse, m_coarseSquares);
        m_steps += (row.steps - m_steps) / m_rows;
    }
    double Level() const { return m_level; }
    // The noise of one row's mean.
    double MeanNoise() const {
        return Steadied(kSigmaPerSpread * m_coarse / std::sqrt(double(m_blocks)), m_meanSquares);
    }
    // How much one row's blocks stray from the level, on average, when the
    // row is the band's but `offset` off its level: the blocks' noise is
    // normal about the row's mean.
    double ExpectedCoarse(double offset) const {
        const double sigma = kSigmaPerSpread * m_coarse;
        if (sigma <= 0) {
            return offset;
        }
        const double t = offset / sigma;
        return sigma * std::sqrt(2.0 / kPi) * std::exp(-0.5 * t * t) +
               offset * std::erf(t / std::sqrt(2.0));
    }
    // The noise of that average over a row.
    double CoarseNoise() const {
        return Steadied(kCoarseNoisePerMean * m_coarse / std::sqrt(double(m_blocks)),
                        m_coarseSquares);
    }
    // How far the row's mean, and how much further its blocks, stray from the
    // band's black, each in the noise the band shows for it: about 0 for a
    // row of the band.
    double MeanScore(const RowShape& row) const {
        return (row.mean - m_level) / (MeanNoise() * std::sqrt(1.0 + 1.0 / m_rows) + kLevelQuantum);
    }
    double CoarseScore(const RowShape& row) const {
        return (row.coarse - ExpectedCoarse(std::abs(row.mean - m_level))) /
               (CoarseNoise() + kCoarseSlack);
    }
    // Whether the row's blocks stray no further than the band's noise lets
    // them, in kMeanNoises of that average's noise.
    bool HoldsBlocks(const RowShape& row) const {
        const double offset = std::abs(row.mean - m_level);
        return row.coarse <= kCoarseSlack + ExpectedCoarse(offset) + kMeanNoises * CoarseNoise();
    }
    // How far a row's mean may be from the level: its own noise and the
    // level's, which is the mean of the rows so far.
    double LevelSlack() const {
        return kLevelQuantum + kMeanNoises * MeanNoise() * std::sqrt(1.0 + 1.0 / m_rows);
    }
    double LooseSlack() const {
        return kLevelSlack +
               kLooseMeanNoises * kSigmaPerSpread * m_spread / std::sqrt(double(m_width));
    }
    // A row far off the band: its level several of the band's pixel noises
    // away, its blocks straying several times as far as the band's, or its
    // noise along the row several times more or less than the band's.
    bool FarFrom(const RowShape& row) const {
        const double offset = std::abs(row.mean - m_level);
        return offset >= kLevelQuantum + kEdgeNoises * kSigmaPerSpread * m_spread ||
               row.coarse - offset >= kLevelQuantum + kEdgeNoises * m_coarse ||
               row.steps >= kLevelQuantum + kEdgeNoises * m_steps ||
               row.steps * kEdgeNoises + kLevelQuantum <= m_steps;
    }
    double Spread() const { return m_spread; }
    double BrightAbove() const { return m_level + kBrightSpreads * m_spread + kBrightMargin; }
    bool Holds(const RowShape& row) const {
        return std::abs(row.mean - m_level) <= LevelSlack() && HoldsBlocks(row) && HoldsNoise(row);
    }
    bool HoldsLoosely(const RowShape& row) const {
        return std::abs(row.mean - m_level) <= LooseSlack() && HoldsNoise(row);
    }

  private:
    // Adds this row's `value` to a running mean and its sum of squared
    // differences from it (m_rows already counts the row).
    void AddRunning(double value, double& mean, double& squares) const {
        const double delta = value - mean;
        mean += delta / m_rows;
        squares += delta * (value - mean);
    }
    // A noise of a row's measure: what the noise of the band's blocks implies
    // (`blocks`), or, once the band has rows enough to show it, how much the
    // measure wanders from row to row (`squares` about its mean: a compressor's
    // blocks shift whole rows of a flat black alike), up to kMaxWander times
    // the former so that a picture drifting off the band cannot widen the
    // bound it is judged by.
    double Steadied(double blocks, double squares) const {
        if (m_rows < kWanderRows) {
            return blocks;
        }
        const double wander = std::sqrt(squares / (m_rows - 1));
        return std::max(blocks, std::min(wander, kMaxWander * blocks));
    }
    // The row's noise is the band's. Spreads are measured from the band's
    // level: a row a little off it strays by that much more without being any
    // less flat.
    bool HoldsNoise(const RowShape& row) const {
        const double offset = std::abs(row.mean - m_level);
        return row.spread - offset <= kNoiseGrowth * m_spread + kNoiseSlack &&
               row.coarse - offset <=
                   std::max(kNoiseGrowth * m_coarse, kSeedCoarseShare * m_spread) + kCoarseSlack &&
               std::abs(row.steps - m_steps) <= (kNoiseGrowth - 1) * m_steps + kNoiseSlack &&
               row.brightShare * 1000 <= kBrightPerMille;
    }

    int32_t m_width;
    int32_t m_blocks;
    int32_t m_rows = 0;
    double m_level = 0;
    double m_meanSquares = 0;
    double m_coarseSquares = 0;
    double m_spread = 0;
    double m_coarse = 0;
    double m_steps = 0;
};

RowShape ShapeAgainst(RowMeasures& rows, const BandBlack& black, int32_t y) {
    return ShapeOf(rows.Of(y), rows.width, black.Level(), black.BrightAbove());
}

// Rows from `first` on, in steps of `dir` and short of row `end`, that are the
// band's but for a compressor's ringing: a JPEG block that holds both the band
// and a bright edge of the picture spreads the edge's ripples over the band's
// rows in that block. They keep the band's level, and a far brighter row ends
// them within the block; a dark picture beside the band has no such edge.
int32_t RingingRows(RowMeasures& rows, const BandBlack& black, int32_t first, int32_t dir,
                    int32_t end) {
    for (int32_t k = 0; k < kRingingRows; ++k) {
        const int32_t y = first + k * dir;
        if (y == end) {
            return 0;
        }
        const RowShape row = ShapeAgainst(rows, black, y);
        if (row.mean - black.Level() >= kEdgeContrast) {
            return k;
        }
        if (std::abs(row.mean - black.Level()) > black.LooseSlack() ||
            row.spread > kRingingSpread) {
            return 0;
        }
    }
    return 0;
}

// Rows of row `y`'s JPEG block from `y` on, in steps of `dir`.
int32_t RowsLeftInBlock(int32_t y, int32_t dir) {
    const int32_t within = y % kLumaBlockRows;
    return dir > 0 ? kLumaBlockRows - within : within + 1;
}

// Rows from `first` on, in steps of `dir` and short of row `end`, that are the
// band's but for the ringing of a JPEG block holding both the band's last rows
// and a weaker edge of the picture: within the block of `first`, one row jumps
// off the band's black, the picture holding past it, while the rows before it
// stray by no more than kRingShare of that jump's contrast (their pixels vary
// beyond that by no more than kRingSpreadShare of it and the band's noise), and one of
// them at least keeps the black or strays the other way: ringing swings both
// ways (a black at 0 hides the swing below it), a picture fading in leans one
// way only.
int32_t BlockRingingRows(RowMeasures& rows, const BandBlack& black, int32_t first, int32_t dir,
                         int32_t end) {
    // A block's first row off the black may also be the last before it: the
    // decoder blends each row's colour with the next colour row's.
    int32_t rowsToSearch = RowsLeftInBlock(first, dir);
    if (rowsToSearch == 1) {
        rowsToSearch += kLumaBlockRows;
    }
    double ringing = 0;  // the furthest a row so far strayed from the black
    double spread = 0;   // and the most its pixels strayed beyond that
    double previous = 0;
    double least = 0;  // the lowest a row so far lay off the black, and the highest
    double greatest = 0;
    for (int32_t k = 0; k < rowsToSearch; ++k) {
        const int32_t y = first + k * dir;
        if (y == end) {
            return 0;
        }
        const RowShape row = ShapeAgainst(rows, black, y);
        const double offset = row.mean - black.Level();
        const double contrast = std::abs(offset);
        const bool jump =
            (offset - previous) * (offset < 0 ? -1.0 : 1.0) >= kEdgeJumpShare * contrast;
        const double swing = offset < 0 ? -greatest : least;
        const int32_t next = y + dir;
        if (k > 0 && jump && swing <= black.LevelSlack() && black.FarFrom(row) && next != end) {
            const double beyond = ShapeAgainst(rows, black, next).mean - black.Level();
            // The edge's contrast is the picture's: the edge row itself may
            // be softened.
            const double step = std::max(contrast, std::abs(beyond));
            if (beyond * offset > 0 && std::abs(beyond) >= kEdgeJumpShare * contrast &&
                ringing <= kRingShare * step &&
                spread <= black.Spread() + kRingSpreadShare * step) {
                return k;
            }
        }
        ringing = std::max(ringing, contrast);
        spread = std::max(spread, row.spread - contrast);
        least = k == 0 ? offset : std::min(least, offset);
        greatest = k == 0 ? offset : std::max(greatest, offset);
        previous = offset;
    }
    return 0;
}

// Rows from `first` on, in steps of `dir` and short of row `end`, that are the
// band's but for the ringing of a JPEG block holding both the band's last rows
// and a dark picture's edge of texture rather than of level: within the block
// of `first`, the picture's rows vary along the row (beyond their offset)
// clearly more than the band's noise does, and the first of them at least
// kEdgeJumpShare as much as the most varied; the rows before it vary less,
// lie off the band's black by at most kRingShare of the edge's contrast (its
// texture or its level, whichever is greater), and one of them keeps the
// black or strays the other way, as ringing swings both ways. Ringing does not
// cross the block's edge, so the band's rows before the block are clean.
int32_t TextureRingingRows(RowMeasures& rows, const BandBlack& black, int32_t first, int32_t dir,
                           int32_t end) {
    const int32_t count = RowsLeftInBlock(first, dir);
    std::vector<double> offsets;
    std::vector<double> textures;
    double most = 0;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t y = first + k * dir;
        if (y == end) {
            return 0;
        }
        const RowShape row = ShapeAgainst(rows, black, y);
        offsets.push_back(row.mean - black.Level());
        textures.push_back(std::max(row.spread - std::abs(offsets.back()), 0.0));
        most = std::max(most, textures.back());
    }
    if (most < kLevelQuantum + kEdgeNoises * black.Spread()) {
        return 0;
    }
    int32_t edge = 0;
    while (edge < count && textures[size_t(edge)] < kEdgeJumpShare * most) {
        ++edge;
    }
    if (edge == 0 || edge == count) {
        return 0;
    }
    double contrast = most;
    for (int32_t k = edge; k < count; ++k) {
        contrast = std::max(contrast, std::abs(offsets[size_t(k)]));
    }
    const double lean = offsets[size_t(edge)] < 0 ? -1.0 : 1.0;
    double swing = offsets[0] * lean;
    for (int32_t k = 0; k < edge; ++k) {
        if (std::abs(offsets[size_t(k)]) > kRingShare * contrast) {
            return 0;
        }
        swing = std::min(swing, offsets[size_t(k)] * lean);
    }
    return swing <= black.LevelSlack() ? edge : 0;
}

// Whether the band meets a clear edge at row `first`: that row or one of the
// next kEdgeRows - 1 is far off the band's black in the band's own noise.
bool ClearEdgeAt(RowMeasures& rows, const BandBlack& black, int32_t first, int32_t dir,
                 int32_t end) {
    for (int32_t k = 0; k < kEdgeRows; ++k) {
        const int32_t y = first + k * dir;
        if (y == end) {
            return false;
        }
        if (black.FarFrom(ShapeAgainst(rows, black, y))) {
            return true;
        }
    }
    return false;
}

// Whether the kConfirmRows rows after row `y` keep the band's black, so that
// row `y` was only the band's noise straying.
bool BandGoesOnAfter(RowMeasures& rows, const BandBlack& black, int32_t y, int32_t dir,
                     int32_t end) {
    for (int32_t k = 1; k <= kConfirmRows; ++k) {
        const int32_t next = y + k * dir;
        if (next == end || !black.Holds(ShapeAgainst(rows, black, next))) {
            return false;
        }
    }
    return true;
}

// The ringing the band's rows share in the JPEG block of 8 rows that holds
// row `off` of those from `seed` on, in steps of `dir`: from which of them the
// block starts, and how far it may lead them off the band's black, kRingShare
// of the contrast the picture's rows in that block show.
struct OffBlockRinging {
    int32_t from = 0;
    double bound = 0;
};

OffBlockRinging RingingAtOff(RowMeasures& rows, const BandBlack& black, int32_t seed, int32_t dir,
                             int32_t off, int32_t end) {
    const int32_t y = seed + off * dir;
    OffBlockRinging ringing;
    ringing.from = off - (RowsLeftInBlock(y, -dir) - 1);
    double contrast = 0;
    for (int32_t k = 0; k < RowsLeftInBlock(y, dir) && y + k * dir != end; ++k) {
        contrast = std::max(contrast,
                            std::abs(ShapeAgainst(rows, black, y + k * dir).mean - black.Level()));
    }
    ringing.bound = kRingShare * contrast;
    return ringing;
}

// Where a band ends that fades into a dark picture rather than meeting a
// clear edge. `means` are the means of the band's rows in order up to the
// first row off its black, whose mean is `offMean`. The rows just before it
// whose means already lean the way it went are picture that still passed for
// band, unless they share the JPEG block of that row and lean no further than
// its ringing while a band row of the block keeps the black or strays the
// other way (ringing swings both ways, a picture fading in leans one way);
// and as the first row of picture may look like band in every way, one more
// row is left.
int32_t FadingEnd(const std::vector<double>& means, const BandBlack& black, double offMean,
                  const OffBlockRinging& ringing) {
    const double lean = offMean >= black.Level() ? 1.0 : -1.0;
    const double suspect = kSuspectNoises * black.MeanNoise();
    auto leanOf = [&](int32_t index) { return (means[size_t(index)] - black.Level()) * lean; };
    auto count = int32_t(means.size());
    bool swings = false;
    for (int32_t k = std::max(ringing.from, 0); k < count; ++k) {
        swings = swings || leanOf(k) <= 0;
    }
    while (count > 1 && leanOf(count - 1) > suspect &&
           !(swings && count - 1 >= ringing.from && leanOf(count - 1) <= ringing.bound)) {
        --count;
    }
    --count;
    return count >= kMinFadingRows ? count : 0;
}

// Where a band ends that meets a clear edge: the rows just before it whose
// means lean one way beyond what the band's own black allows (the way the
// last of them leans, or else the edge's) are the picture's first rows, its
// edge softened by the compressor or fading in.
int32_t EdgeEnd(const std::vector<double>& means, const BandBlack& black, double edgeMean) {
    const double last = means.back() - black.Level();
    const double towards = std::abs(last) > black.LevelSlack() ? last : edgeMean - black.Level();
    const double lean = towards >= 0 ? 1.0 : -1.0;
    auto count = int32_t(means.size());
    while (count > 1 && (means[size_t(count - 1)] - black.Level()) * lean > black.LevelSlack()) {
        --count;
    }
    return count;
}

// Evidence, gathered row by row, that rows have left the band's black though
// none strays far on its own: scores beyond kDriftAllowance add up, and the
// rows since the sum was last 0 are in doubt.
class Drift {
  public:
    // Adds the score of row `index`; whether the evidence now suffices.
    bool Add(double score, int32_t index) {
        m_sum = std::max(0.0, m_sum + score - kDriftAllowance);
        if (m_sum <= 0) {
            m_from = -1;
        } else if (m_from < 0) {
            m_from = index;
        }
        return m_sum > kDriftAlarm;
    }
    bool InDoubt() const { return m_from >= 0; }
    int32_t From() const { return m_from; }

  private:
    double m_sum = 0;
    int32_t m_from = -1;
};

// A colour, as red less green and blue less green per pixel.
struct Tint {
    double red = 0;
    double blue = 0;
};

Tint TintOf(const uint8_t* bgr, int32_t width) {
    int64_t red = 0;
    int64_t blue = 0;
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t* pixel = bgr + 3 * int64_t{x};
        red += int32_t(pixel[2]) - int32_t(pixel[1]);
        blue += int32_t(pixel[0]) - int32_t(pixel[1]);
    }
    return {double(red) / double(width), double(blue) / double(width)};
}

// Whether a row is black rather than a dark colour: a capture's black is
// grey, give or take kBlackTint levels of red and blue less green together.
bool Colourless(const uint8_t* bgr, int32_t width) {
    const Tint tint = TintOf(bgr, width);
    return std::abs(tint.red) + std::abs(tint.blue) <= kBlackTint;
}

// Whether the band's `count`th row from `seed` (in steps of `dir`) shares its
// colour sample of 4:2:0 with the row after it.
bool SharesColourPair(int32_t seed, int32_t dir, int32_t count) {
    const int32_t last = seed + (count - 1) * dir;
    return count > 0 && (last ^ 1) == last + dir;
}

// What a run of rows of one flat colour from an edge is.
struct FlatRun {
    int32_t rows = 0;   // how many, from the seed row on
    bool dark = false;  // dark enough to be a band
    // Where it faded or met its edge: the rows before the first that left the
    // band's black in its stored luma, or was in doubt.
    int32_t off = 0;
    // No row before `off` was in doubt: the stored luma left the band's black
    // at once.
    bool sure = false;
};

// The rows from `seed` on, in steps of `dir`, that keep the seed row's level
// and noise, up to (not including) row `end`; none when the seed row holds
// more than noise.
FlatRun FlatRunFrom(RowMeasures& rows, int32_t seed, int32_t dir, int32_t end) {
    const int16_t* luma = rows.Of(seed);
    const double mean = ShapeOf(luma, rows.width, 0, kBandPixelLevel).mean;
    const RowShape first = ShapeOf(luma, rows.width, mean, kBandPixelLevel);
    if (first.steps > kSeedMaxSteps ||
        (first.coarse > kSeedCoarseShare * first.spread + kSeedCoarseSlack &&
         first.spread > kSeedFlatSpread)) {
        return {};
    }
    FlatRun run;
    run.dark = first.mean <= kBandMeanLevel && first.brightShare * 1000 <= kBrightPerMille &&
               Colourless(rows.Pixels(seed), rows.width);
    BandBlack black(rows.width);
    black.Add(first);
    std::vector<double> means{first.mean};
    int32_t offRow = -1;
    double offMean = 0;
    BandBlack offBlack = black;
    Drift up;
    Drift down;
    Drift coarser;
    for (int32_t y = seed + dir; y != end; y += dir) {
        const RowShape row = ShapeAgainst(rows, black, y);
        const auto index = int32_t(means.size());
        const double meanScore = black.MeanScore(row);
        const double coarseScore = black.CoarseScore(row);
        Drift* const drifts[] = {&up, &down, &coarser};
        const bool alarm = int32_t(up.Add(meanScore - kMeanDriftAllowance, index)) +
                               int32_t(down.Add(-meanScore - kMeanDriftAllowance, index)) +
                               int32_t(coarser.Add(coarseScore, index)) >
                           0;
        if (offRow < 0 &&
            (alarm || (!black.Holds(row) && !BandGoesOnAfter(rows, black, y, dir, end)))) {
            // The picture began with the first row in doubt.
            offRow = index;
            for (const Drift* drift : drifts) {
                if (drift->InDoubt()) {
                    offRow = std::min(offRow, drift->From());
                }
            }
            offMean = offRow == index ? row.mean : means[size_t(offRow)];
            offBlack = black;
        }
        if (!black.HoldsLoosely(row)) {
            int32_t ringing = RingingRows(rows, black, y, dir, end);
            if (ringing == 0) {
                ringing = BlockRingingRows(rows, black, y, dir, end);
            }
            if (ringing == 0) {
                ringing = TextureRingingRows(rows, black, y, dir, end);
            }
            if (ringing > 0 || ClearEdgeAt(rows, black, y, dir, end)) {
                run.rows =
                    ringing > 0 ? int32_t(means.size()) + ringing : EdgeEnd(means, black, row.mean);
                run.off = run.rows;
                // An edge JPEG softened (rows leaning into it were dropped)
                // may hide the picture's first row in the band's last: where
                // they share a colour sample, the pair is left to the picture.
                if (ringing == 0 && run.rows < int32_t(means.size()) &&
                    SharesColourPair(seed, dir, run.rows)) {
                    --run.rows;
                }
                run.sure = offRow < 0 || offRow == int32_t(means.size());
            } else if (offRow < 0) {
                run.off = int32_t(means.size());
                run.sure = true;
                run.rows = FadingEnd(means, black, row.mean,
                                     RingingAtOff(rows, black, seed, dir, run.off, end));
            } else {
                run.off = offRow;
                run.sure = offRow == int32_t(means.size());
                means.resize(size_t(offRow));
                run.rows = FadingEnd(means, offBlack, offMean,
                                     RingingAtOff(rows, offBlack, seed, dir, offRow, end));
            }
            return run;
        }
        // Rows in doubt do not teach the band's black, lest a picture that
        // drifts off it widen the bounds it is judged by.
        if (!up.InDoubt() && !down.InDoubt() && !coarser.InDoubt()) {
            black.Add(row);
        }
        means.push_back(row.mean);
    }
    run.rows = int32_t(means.size());
    return run;
}

// How far a row's colour strays from `tint`, per pixel, over blocks of
// kBandBlock pixels: noise averages out over a block, a picture's colour does not.
double ColourOffset(const uint8_t* bgr, int32_t width, const Tint& tint) {
    double total = 0;
    for (int32_t from = 0; from < width; from += kBandBlock) {
        const int32_t to = std::min(width, from + kBandBlock);
        int32_t red = 0;
        int32_t blue = 0;
        for (int32_t x = from; x < to; ++x) {
            const uint8_t* pixel = bgr + 3 * int64_t{x};
            red += int32_t(pixel[2]) - int32_t(pixel[1]);
            blue += int32_t(pixel[0]) - int32_t(pixel[1]);
        }
        const double count = to - from;
        total += std::abs(red - count * tint.red) + std::abs(blue - count * tint.blue);
    }
    return total / double(width);
}

// Rows from `seed` on, in steps of `dir`, before the colour block of 4:2:0
// JPEG (on its grid from the frame's top) that holds the `index`th of them.
int32_t RowsBeforeBlockOf(int32_t seed, int32_t dir, int32_t index) {
    const int32_t y = seed + index * dir;
    const int32_t blockTop = y / kChromaBlockRows * kChromaBlockRows;
    return dir > 0 ? blockTop - seed : seed - (blockTop + kChromaBlockRows - 1);
}

// Rows from `seed` on, in steps of `dir`, before the colour block of 4:2:0
// JPEG (on its grid from the frame's top) that holds the `last`th of them,
// less the row next to that block, into which the decoder blends its colour:
// only that block's rows can carry the colour of a picture that starts in it.
int32_t RowsBeforeColourBlock(int32_t seed, int32_t dir, int32_t last) {
    return std::max(RowsBeforeBlockOf(seed, dir, last) - 1, 0);
}

// Whether the colour of the band's rows `first` to `off` (where the stored
// luma left the band) is one 4:2:0 lent them: weaker than kLentShare of the
// picture's first rows' colour, in each row and in the colour sample it shares
// with its pair.
bool LentColour(const RowMeasures& rows, int32_t seed, int32_t dir, int32_t first, int32_t off,
                int32_t end, const Tint& tint) {
    auto colourOf = [&](int32_t y) { return ColourOffset(rows.Pixels(y), rows.width, tint); };
    double picture = 0;
    for (int32_t k = off; k < off + kBeyondRows && seed + k * dir != end; ++k) {
        picture = std::max(picture, colourOf(seed + k * dir));
    }
    for (int32_t k = first; k < off; ++k) {
        const int32_t y = seed + k * dir;
        // Its pair's colour sample, as the mean of the pair's two rows: a
        // band row lent colour shares it with a band row, or with the
        // picture's first row, never with a row of the picture's full colour.
        const int32_t mate = y ^ 1;
        const double own = colourOf(y);
        const double pair = mate < rows.height ? (own + colourOf(mate)) / kPairRows : own;
        if (own > kLentShare * picture || pair > kLentShare * picture) {
            return false;
        }
    }
    return true;
}

// Whether the colour of rows `trimmed` to `off` (where the stored luma left
// the band) is the colour block's own rather than a picture's: they lie in the
// block that holds row `off`, and they and the picture's first rows past `off`
// carry no more colour than kBlockColourQuantum. So weak a colour is coded in
// a block of 4:2:0 as about one shade over all its 16 rows, band and picture
// alike, so it tells nothing of where in the block the picture starts.
template <typename ColourAt>
bool SharedBlockColour(const ColourAt& colourAt, int32_t seed, int32_t dir, int32_t trimmed,
                       int32_t off, int32_t end) {
    if (trimmed >= off || trimmed < RowsBeforeBlockOf(seed, dir, off)) {
        return false;
    }
    int32_t counted = 0;
    for (int32_t k = trimmed; k < off + kBeyondRows && seed + k * dir != end; ++k) {
        if (colourAt(k) > kBlockColourQuantum) {
            return false;
        }
        counted += k >= off;
    }
    return counted > 0;
}

// The band's own colour, how far its rows may stray from it, and over how
// many of its first rows that was measured.
struct BandColour {
    Tint tint;
    double bound = 0;
    int32_t measured = 0;
};

// The band's black is grey: a row that is not, and the rest of its colour
// block, cannot show the band's colour either, so the colour is measured over
// the band's first rows before the colour block of its first row that is not
// grey (rows near a picture that passed for band may not show it). A band too
// thin to show it is taken as grey, straying from it as much as its first row
// does. Past the first kColourRows rows and the colour block after them, how
// far the grey goes no longer matters.
BandColour MeasureBandColour(const RowMeasures& rows, int32_t seed, int32_t dir, int32_t count) {
    const int32_t greyRows = std::min(count, kColourRows + kChromaBlockRows + 1);
    int32_t grey = 1;
    while (grey < greyRows && Colourless(rows.Pixels(seed + grey * dir), rows.width)) {
        ++grey;
    }
    const int32_t before =
        std::min(RowsBeforeColourBlock(seed, dir, std::min(grey, count - 1)), kColourRows);
    const bool thin = before < kMinColourRows;
    BandColour colour;
    colour.measured = thin ? 1 : before;
    for (int32_t k = 0; k < colour.measured && !thin; ++k) {
        const Tint row = TintOf(rows.Pixels(seed + k * dir), rows.width);
        colour.tint.red += row.red / colour.measured;
        colour.tint.blue += row.blue / colour.measured;
    }
    double mean = 0;
    double squares = 0;
    for (int32_t k = 0; k < colour.measured; ++k) {
        const double offset = ColourOffset(rows.Pixels(seed + k * dir), rows.width, colour.tint);
        const double delta = offset - mean;
        mean += delta / (k + 1);
        squares += delta * (offset - mean);
    }
    const double blocks = double((rows.width + kBandBlock - 1) / kBandBlock);
    const double wander = thin ? kCoarseNoisePerMean * mean / std::sqrt(blocks)
                               : std::sqrt(squares / std::max(colour.measured - 1, 1));
    colour.bound = mean + kColourNoises * wander + kColourQuantum;
    return colour;
}

// The `count` rows of band from `seed` on, in steps of `dir` (short of row
// `end`), less the rows at its end that hold picture of the band's brightness
// but not its colour (MeasureBandColour). The first `off` rows keep the band's
// stored luma: where the picture's colour starts within kChromaReach rows of
// their end, and weaker than the picture's there, it is the picture's colour
// that 4:2:0 lent the band's last rows, and they stay; so do they where the
// colour is too weak to place the edge (SharedBlockColour) and the stored
// luma left the band at once (`sure`).
int32_t TrimByColour(const RowMeasures& rows, int32_t seed, int32_t dir, int32_t count, int32_t off,
                     bool sure, int32_t end) {
    const BandColour band = MeasureBandColour(rows, seed, dir, count);
    const Tint& tint = band.tint;
    const double bound = band.bound;
    auto colourAt = [&](int32_t k) {
        return ColourOffset(rows.Pixels(seed + k * dir), rows.width, tint);
    };
    double beyond = 0;
    for (int32_t k = count; k < count + kBeyondRows && seed + k * dir != end; ++k) {
        beyond = std::max(beyond, colourAt(k));
    }
    if (colourAt(count - 1) <= std::max(bound, kPictureShare * beyond)) {
        return count;
    }
    int32_t trimmed = count;
    while (trimmed > band.measured) {
        const double offset = colourAt(trimmed - 1);
        if (offset <= bound || offset <= kRingShare * beyond) {
            break;
        }
        beyond = std::max(beyond, offset);
        --trimmed;
    }
    if (sure && SharedBlockColour(colourAt, seed, dir, trimmed, off, end)) {
        return count;
    }
    return trimmed >= off - kChromaReach && LentColour(rows, seed, dir, trimmed, off, end, tint)
               ? std::min(count, std::max(off, trimmed))
               : trimmed;
}

// The rows of a dark run from `seed` that are band: those that keep the
// band's colour too, whether it faded or met an edge in the stored luma (a
// picture of the band's brightness but another colour shows no edge there
// until it brightens).
int32_t Trimmed(const RowMeasures& rows, int32_t seed, int32_t dir, const FlatRun& run,
                int32_t end) {
    return run.rows > 0 ? TrimByColour(rows, seed, dir, run.rows, run.off, run.sure, end) : 0;
}

// Rows of band from `seed` on, in steps of `dir`, short of row `end`.
int32_t BandFrom(RowMeasures& rows, int32_t seed, int32_t dir, int32_t end) {
    if ((end - seed) * dir <= 0) {
        return 0;
    }
    const FlatRun run = FlatRunFrom(rows, seed, dir, end);
    return run.dark ? Trimmed(rows, seed, dir, run, end) : 0;
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

TESSARY_ROW_KERNEL BandRowSums MeasureBandRow(const int16_t* luma, int32_t width, int32_t level,
                                              int32_t brightAbove) {
    // Within a row the sums fit 32 bits for any width up to half a million
    // pixels; the loops work in 32-bit lanes and are added up every block.
    constexpr int32_t kBlock = 1 << 19;
    BandRowSums sums;
    for (int32_t from = 0; from < width; from += kBlock) {
        const int32_t to = std::min(width, from + kBlock);
        int32_t sum = 0;
        int32_t spread = 0;
        int32_t coarse = 0;
        int32_t bright = 0;
        int32_t steps = 0;
        for (int32_t x = from; x < to; ++x) {
            sum += luma[x];
            spread += std::abs(luma[x] - level);
            bright += luma[x] > brightAbove;
        }
        for (int32_t x = std::max(from, 1); x < to; ++x) {
            steps += std::abs(luma[x] - luma[x - 1]);
        }
        for (int32_t block = from; block < to; block += kBandBlock) {
            const int32_t end = std::min(to, block + kBandBlock);
            int32_t blockSum = 0;
            for (int32_t x = block; x < end; ++x) {
                blockSum += luma[x];
            }
            coarse += std::abs(blockSum - (end - block) * level);
        }
        sums.sum += sum;
        sums.spread += spread;
        sums.coarse += coarse;
        sums.steps += steps;
        sums.bright += bright;
    }
    return sums;
}

BandReport DetectBands(const PixelRows& rows) {
    BandReport report;
    if (rows.IsEmpty()) {
        return report;
    }
    RowMeasures measures(rows);
    const FlatRun fromTop = FlatRunFrom(measures, 0, 1, rows.height);
    if (fromTop.rows == rows.height) {
        report.blank = true;
        return report;
    }
    const int32_t top = fromTop.dark ? Trimmed(measures, 0, 1, fromTop, rows.height) : 0;
    int32_t last = rows.height - 1;
    last -= BandFrom(measures, last, -1, top - 1);
    const int32_t noise = NoiseStart(measures, rows.height, last);
    if (noise <= last) {
        // Black rows above the tape noise belong to the band as well.
        last = std::max(noise - 1, top - 1);
        last -= BandFrom(measures, last, -1, top - 1);
    }
    if (last < top) {
        // Bands and tape noise meet: nothing of a picture between them.
        report.blank = true;
        return report;
    }
    report.top = top;
    report.bottom = rows.height - 1 - last;
    return report;
}

}  // namespace tessary
