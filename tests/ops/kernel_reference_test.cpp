// The row kernels are written for the vectoriser and built for several
// instruction sets; each is held here, bit for bit, to a plain per-pixel
// version of what it computes, on random pictures of every width from 1 to 67
// and odd heights, so that the tails of vector loops and the picture's edges
// are covered.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "ops/black_bands.h"
#include "ops/fade_blend.h"
#include "ops/field_interpolation.h"
#include "ops/field_ops.h"
#include "ops/field_shift.h"
#include "tests/ops/picture.h"

namespace tessary {
namespace {

constexpr int32_t kMaxWidth = 67;

// Noise, hard diagonal edges at a random slope (which turn the interpolator's
// search aside), and flat blocks: what makes each branch of the kernels run.
std::vector<uint8_t> RandomBgr(std::mt19937& random, int32_t width, int32_t height) {
    std::vector<uint8_t> bgr(size_t(width) * size_t(height) * 3);
    const int kind = int(random() % 3);
    const int32_t slope = int32_t(random() % 7) - 3;
    const int32_t offset = int32_t(random() % 40);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t c = 0; c < 3; ++c) {
                uint8_t& v = bgr[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)];
                if (kind == 0) {
                    v = uint8_t(random());
                } else if (kind == 1) {
                    v = ((x + slope * y + offset) / 5) % 2 != 0 ? uint8_t(220 - 30 * c)
                                                                : uint8_t(random() % 24);
                } else {
                    v = uint8_t(((x / 8 + y / 4) % 3) * 100 + random() % 3);
                }
            }
        }
    }
    return bgr;
}

// A picture in a store, loaded from top-down bytes.
struct Picture {
    CImageSurface surface;
    PixelRows rows;
    Picture(const std::vector<uint8_t>& bgr, int32_t width, int32_t height) {
        EXPECT_TRUE(test::LoadBlankImage(*surface.GetImage(), width, height));
        rows = RowsOf(*surface.GetImage());
        for (int32_t y = 0; y < height; ++y) {
            std::copy_n(bgr.data() + size_t(y) * size_t(width) * 3, size_t(width) * 3, rows.Row(y));
        }
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bgr;
        for (int32_t y = 0; y < rows.height; ++y) {
            bgr.insert(bgr.end(), rows.Row(y), rows.Row(y) + rows.RowBytes());
        }
        return bgr;
    }
};

// Random sizes: every width, an odd height up to 25.
template <typename Check>
void ForRandomPictures(Check check) {
    std::mt19937 random(20261210);
    for (int32_t width = 1; width <= kMaxWidth; ++width) {
        for (int32_t round = 0; round < 3; ++round) {
            const int32_t height = 1 + 2 * int32_t(random() % 13);
            SCOPED_TRACE(testing::Message() << width << " x " << height << ", round " << round);
            check(random, width, height, RandomBgr(random, width, height));
            if (testing::Test::HasFailure()) {
                return;
            }
        }
    }
}

int32_t LumaAt(const std::vector<uint8_t>& bgr, int32_t width, int32_t x, int32_t y) {
    const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
    return bgr[at] + 2 * bgr[at + 1] + bgr[at + 2];
}

// The interpolator, pixel by pixel: seven directions, the cost of each summed
// over five pixels, a side taken only when clearly better, a held cubic along it.
std::vector<uint8_t> KeepFieldReference(const std::vector<uint8_t>& bgr, int32_t width,
                                        int32_t height, Field keep) {
    const int32_t firstKept = FirstRowOf(keep);
    const int32_t lastKept = height - 1 - ((height - 1 - firstKept) & 1);
    std::vector<uint8_t> out = bgr;
    if (lastKept < firstKept) {
        return out;
    }
    const auto row = [&](int32_t y) { return std::clamp(y, firstKept, lastKept); };
    const auto col = [&](int32_t x) { return std::clamp(x, 0, width - 1); };
    const auto luma = [&](int32_t x, int32_t y) { return LumaAt(bgr, width, col(x), row(y)); };
    for (int32_t y = 1 - firstKept; y < height; y += 2) {
        for (int32_t x = 0; x < width; ++x) {
            int32_t cost[7];
            for (int32_t s = -3; s <= 3; ++s) {
                int32_t sum = 0;
                for (int32_t d = -2; d <= 2; ++d) {
                    const int32_t at = x + d;
                    const int32_t a = luma(at + s, y - 1);
                    const int32_t b = luma(at - s, y + 1);
                    sum += 2 * std::abs(a - b) + std::abs(luma(at + 3 * s, y - 3) - a) +
                           std::abs(b - luma(at - 3 * s, y + 3));
                }
                cost[s + 3] = sum + 48 * std::abs(s);
            }
            const int32_t straight = cost[3];
            // Each wider step only while every narrower one on that side kept winning.
            const auto side = [&](int32_t dir, int32_t& size) {
                int32_t best = straight;
                size = 0;
                for (int32_t s = 1; s <= 3 && cost[3 + dir * s] < best; ++s) {
                    best = cost[3 + dir * s];
                    size = s;
                }
                return best;
            };
            int32_t leftSize = 0;
            int32_t rightSize = 0;
            const int32_t left = side(-1, leftSize);
            const int32_t right = side(1, rightSize);
            const int32_t bar = std::min(straight, std::max(left, right));
            int32_t step = 0;
            if (3 * left < bar && left <= right) {
                step = -leftSize;
            } else if (3 * right < bar && right < left) {
                step = rightSize;
            }
            for (int32_t c = 0; c < 3; ++c) {
                const auto at = [&](int32_t px, int32_t py) {
                    return int32_t(
                        bgr[(size_t(row(py)) * size_t(width) + size_t(col(px))) * 3 + size_t(c)]);
                };
                const int32_t a = at(x + step, y - 1);
                const int32_t b = at(x - step, y + 1);
                const int32_t value =
                    (9 * (a + b) - at(x + 3 * step, y - 3) - at(x - 3 * step, y + 3) + 8) >> 4;
                out[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)] =
                    uint8_t(std::clamp(value, std::min(a, b), std::max(a, b)));
            }
        }
    }
    return out;
}

TEST(KernelReference, InterpolatorMatchesThePlainSearch) {
    ForRandomPictures(
        [](std::mt19937&, int32_t width, int32_t height, const std::vector<uint8_t>& bgr) {
            for (const Field keep : {Field::Top, Field::Bottom}) {
                Picture picture(bgr, width, height);
                InterpolateField(picture.rows, keep);
                EXPECT_EQ(picture.Bytes(), KeepFieldReference(bgr, width, height, keep));
            }
        });
}

// KeepField written plainly: the interpolated rows, each block's shift found
// by trying every shift along the row, on the row itself and, unless one
// there leaves under half the other field's own mismatch, on that field's
// rows kLift above and below, over every other row of its block row,
// and the mean of each rebuilt sample and the shifted one held between its
// kept neighbours, unless the shift predicts worse than the other field's own
// rows above and below.
std::vector<uint8_t> ShiftedKeepFieldReference(const std::vector<uint8_t>& bgr, int32_t width,
                                               int32_t height, Field keep) {
    std::vector<uint8_t> out = KeepFieldReference(bgr, width, height, keep);
    if (height < 2) {
        return out;
    }
    const auto at = [&](int32_t x, int32_t y, int32_t c) {
        return int32_t(
            bgr[(size_t(y) * size_t(width) + size_t(std::clamp(x, 0, width - 1))) * 3 + size_t(c)]);
    };
    const auto luma = [&](int32_t x, int32_t y) {
        return (at(x, y, 0) + 2 * at(x, y, 1) + at(x, y, 2) + 2) >> 2;
    };
    const auto keptAround = [&](int32_t y) {
        return std::pair{y > 0 ? y - 1 : std::min(y + 1, height - 1),
                         y + 1 < height ? y + 1 : std::max(y - 1, 0)};
    };
    struct Shift {
        int32_t dx = 0;
        int32_t dy = 0;
        bool none = false;
    };
    const auto shiftOf = [&](int32_t top, int32_t from) {
        const int32_t end = std::min(top + kShiftBlockRows, height);
        int64_t best = INT64_MAX;
        Shift pick;
        // How well the other field predicts its rows from its own rows
        // above and below, where both are in the picture.
        int64_t self = 0;
        for (int32_t r = top; r < end; r += 4) {
            if (r >= kLift && r + kLift < height) {
                for (int32_t p = from; p < std::min(from + kShiftBlock, width); ++p) {
                    self +=
                        std::abs(luma(p, r) - ((luma(p, r - kLift) + luma(p, r + kLift) + 1) >> 1));
                }
            }
        }
        for (const int32_t dy : {0, -kLift, kLift}) {
            bool usable = dy == 0 || best * 2 > self;
            for (int32_t r = top; r < end; r += 4) {
                usable = usable && r + dy >= 0 && r + dy < height;
            }
            for (int32_t i = 0; usable && i <= 2 * kMaxShift; ++i) {
                const int32_t dx = i % 2 == 1 ? -(i + 1) / 2 : i / 2;
                int64_t cost = 0;
                for (int32_t r = top; r < end; r += 4) {
                    const auto [above, below] = keptAround(r);
                    for (int32_t p = from; p < std::min(from + kShiftBlock, width); ++p) {
                        const int32_t mid = (luma(p, above) + luma(p, below) + 1) >> 1;
                        cost += std::abs(luma(p + dx, r + dy) - mid);
                    }
                }
                if (cost < best) {
                    best = cost;
                    pick = {dx, dy};
                }
            }
        }
        pick.none = best > self;
        return pick;
    };
    for (int32_t y = FirstRowOf(OtherField(keep)); y < height; y += 2) {
        const int32_t top = y / kShiftBlockRows * kShiftBlockRows + FirstRowOf(OtherField(keep));
        const auto [above, below] = keptAround(y);
        for (int32_t x = 0; x < width; ++x) {
            const Shift shift = shiftOf(top, x / kShiftBlock * kShiftBlock);
            if (shift.none) {
                continue;
            }
            const int32_t from = y + shift.dy >= 0 && y + shift.dy < height ? y + shift.dy : y;
            for (int32_t c = 0; c < 3; ++c) {
                uint8_t& v = out[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)];
                const int32_t held = std::clamp(at(x + shift.dx, from, c),
                                                std::min(at(x, above, c), at(x, below, c)),
                                                std::max(at(x, above, c), at(x, below, c)));
                v = uint8_t((v + held + 1) >> 1);
            }
        }
    }
    return out;
}

TEST(KernelReference, ShiftedFieldMatchesThePlainSearch) {
    ForRandomPictures(
        [](std::mt19937&, int32_t width, int32_t height, const std::vector<uint8_t>& bgr) {
            for (const Field keep : {Field::Top, Field::Bottom}) {
                Picture picture(bgr, width, height);
                KeepField(picture.rows, keep);
                EXPECT_EQ(picture.Bytes(), ShiftedKeepFieldReference(bgr, width, height, keep));
            }
        });
}

TEST(KernelReference, RowMeasuresMatchPlainSums) {
    ForRandomPictures(
        [](std::mt19937& random, int32_t width, int32_t height, const std::vector<uint8_t>& bgr) {
            Picture picture(bgr, width, height);
            std::vector<int16_t> luma(static_cast<size_t>(width));
            for (int32_t y = 0; y < height; ++y) {
                LumaOfRow(picture.rows.Row(y), width, luma.data());
                const int32_t level = int32_t(random() % 1021);
                const int32_t brightAbove = int32_t(random() % 1021);
                BandRowSums want;
                for (int32_t x = 0; x < width; ++x) {
                    const int32_t l = LumaAt(bgr, width, x, y);
                    ASSERT_EQ(luma[size_t(x)], l);
                    want.sum += l;
                    want.spread += std::abs(l - level);
                    want.bright += l > brightAbove;
                    want.steps += x > 0 ? std::abs(l - LumaAt(bgr, width, x - 1, y)) : 0;
                }
                for (int32_t block = 0; block < width; block += kBandBlock) {
                    int64_t sum = 0;
                    const int32_t end = std::min(width, block + kBandBlock);
                    for (int32_t x = block; x < end; ++x) {
                        sum += LumaAt(bgr, width, x, y);
                    }
                    want.coarse += std::abs(sum - int64_t{end - block} * level);
                }
                const BandRowSums got = MeasureBandRow(luma.data(), width, level, brightAbove);
                EXPECT_EQ(got.sum, want.sum);
                EXPECT_EQ(got.spread, want.spread);
                EXPECT_EQ(got.coarse, want.coarse);
                EXPECT_EQ(got.steps, want.steps);
                EXPECT_EQ(got.bright, want.bright);
            }
        });
}

// The luma's vector path takes 32 pixels at a time: widths on either side of
// its multiples, rows starting at every byte offset (rows of a packed picture
// are aligned to nothing), and nothing written past the row.
TEST(KernelReference, LumaMatchesThePlainSumAtEveryWidthAndOffset) {
    std::mt19937 random(1920);
    const int32_t widths[] = {1, 2, 31, 32, 33, 63, 64, 65, 95, 96, 97, 1919, 1920, 1921};
    for (const int32_t width : widths) {
        for (const size_t offset : {0, 1, 2, 3, 7, 13}) {
            SCOPED_TRACE(testing::Message() << width << " pixels from byte " << offset);
            std::vector<uint8_t> bytes(offset + size_t(width) * 3);
            for (uint8_t& b : bytes) {
                b = uint8_t(random());
            }
            constexpr int16_t kUntouched = -7;
            std::vector<int16_t> luma(size_t(width) + 1, kUntouched);
            LumaOfRow(bytes.data() + offset, width, luma.data());
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* p = bytes.data() + offset + 3 * size_t(x);
                ASSERT_EQ(luma[size_t(x)], p[0] + 2 * p[1] + p[2]) << "pixel " << x;
            }
            EXPECT_EQ(luma[size_t(width)], kUntouched);
        }
    }
}

TEST(KernelReference, FadeAndBlendMatchPlainWeights) {
    ForRandomPictures(
        [](std::mt19937& random, int32_t width, int32_t count, const std::vector<uint8_t>& bgr) {
            // Area maps from sparse to dense, each byte 0 or 1.
            const uint32_t density = 1 + random() % 8;
            std::vector<uint8_t> areas(size_t(width) * size_t(count));
            for (uint8_t& cell : areas) {
                cell = random() % 16 < density;
            }
            std::vector<uint8_t> column(size_t(width) + 2 * kFade);
            for (int32_t k = 0; k < count; ++k) {
                constexpr uint8_t kUntouched = 0xEE;
                std::vector<uint8_t> weights(size_t(width) * 3, kUntouched);
                const Span span = FadeWeights(areas, width, count, k, column, weights.data());
                std::vector<uint8_t> want(size_t(width) * 3, kUntouched);
                int32_t first = width;
                int32_t last = -1;
                for (int32_t x = 0; x < width; ++x) {
                    int32_t cells = 0;
                    for (int32_t d = -1; d <= 1; ++d) {
                        for (int32_t e = -kFade; e <= kFade; ++e) {
                            cells += areas[size_t(std::clamp(k + d, 0, count - 1)) * size_t(width) +
                                           size_t(std::clamp(x + e, 0, width - 1))];
                        }
                        if (areas[size_t(std::clamp(k + d, 0, count - 1)) * size_t(width) +
                                  size_t(x)] != 0) {
                            first = std::min(first, x);
                            last = std::max(last, x);
                        }
                    }
                    std::fill_n(want.begin() + 3 * x, 3,
                                uint8_t((16 * cells + kFadeCells / 2) / kFadeCells));
                }
                const Span wantSpan =
                    last < 0 ? Span{}
                             : Span{std::max(first - kFade, 0), std::min(last + 1 + kFade, width)};
                ASSERT_EQ(span.from, wantSpan.from);
                ASSERT_EQ(span.to, wantSpan.to);
                for (int32_t x = 0; x < width; ++x) {
                    if (x < span.from || x >= span.to) {
                        std::fill_n(want.begin() + 3 * x, 3, kUntouched);
                    }
                }
                EXPECT_EQ(weights, want);

                // The blend of this row by those weights (0 .. 16 each).
                std::vector<uint8_t> captured(bgr.begin() + 3 * k * width,
                                              bgr.begin() + 3 * (k + 1) * width);
                std::vector<uint8_t> rebuilt(captured.size());
                for (uint8_t& v : rebuilt) {
                    v = uint8_t(random());
                }
                for (uint8_t& w : weights) {
                    w = w == kUntouched ? uint8_t(random() % 17) : w;
                }
                // Pixels within the tolerance in all three samples lose their
                // weight; half the rebuilt samples lie near the captured ones.
                for (size_t i = 0; i < rebuilt.size(); ++i) {
                    if (random() % 2 != 0) {
                        const int32_t near = captured[i] + int32_t(random() % 9) - 4;
                        rebuilt[i] = uint8_t(std::clamp(near, 0, 255));
                    }
                }
                const int32_t tolerance = int32_t(random() % 6);
                std::vector<uint8_t> kept = weights;
                for (size_t i = 0; i < kept.size(); i += 3) {
                    bool near = true;
                    for (size_t c = i; c < i + 3; ++c) {
                        near = near && std::abs(captured[c] - rebuilt[c]) <= tolerance;
                    }
                    if (near) {
                        std::fill_n(kept.begin() + std::ptrdiff_t(i), 3, uint8_t{0});
                    }
                }
                KeepAgreeing(captured.data(), rebuilt.data(), width, tolerance, weights.data());
                ASSERT_EQ(weights, kept);
                std::vector<uint8_t> blended = captured;
                Blend(blended.data(), rebuilt.data(), weights.data(), int64_t(blended.size()));
                for (size_t i = 0; i < captured.size(); ++i) {
                    const int32_t move = (rebuilt[i] - captured[i]) * weights[i] + 8;
                    // Halves round up, towards the rebuilt value or away from it alike.
                    const int32_t floored = move >= 0 ? move / 16 : -((-move + 15) / 16);
                    ASSERT_EQ(blended[i], uint8_t(captured[i] + floored)) << "byte " << i;
                }
            }
        });
}

TEST(KernelReference, PairAverageAndClipMatchPlainRows) {
    ForRandomPictures([](std::mt19937& random, int32_t width, int32_t height,
                         const std::vector<uint8_t>& bgr) {
        Picture average(bgr, width, height);
        EXPECT_TRUE(Deinterlace(average.surface));
        std::vector<uint8_t> want = bgr;
        const size_t rowBytes = size_t(width) * 3;
        for (int32_t y = 0; y + 1 < height; y += 2) {
            for (size_t i = 0; i < rowBytes; ++i) {
                const size_t upper = size_t(y) * rowBytes + i;
                const uint8_t mean = uint8_t((bgr[upper] + bgr[upper + rowBytes]) / 2);
                want[upper] = mean;
                want[upper + rowBytes] = mean;
            }
        }
        EXPECT_EQ(average.Bytes(), want);

        const int32_t top = int32_t(random() % uint32_t(height + 2)) - 1;
        const int32_t bottom = int32_t(random() % uint32_t(height + 2)) - 1;
        Picture clipped(bgr, width, height);
        EXPECT_TRUE(ClipRows(clipped.surface, top, bottom));
        want = bgr;
        for (int32_t y = 0; y < height; ++y) {
            if (y < top || y >= height - bottom) {
                std::fill_n(want.begin() + int64_t(y) * int64_t(rowBytes), rowBytes, uint8_t{0});
            }
        }
        EXPECT_EQ(clipped.Bytes(), want);
    });
}

}  // namespace
}  // namespace tessary
