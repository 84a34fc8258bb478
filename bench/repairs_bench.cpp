#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_surface.h"
#include "load_dib_rows.h"
#include "ops/adaptive_deinterlace.h"
#include "ops/black_bands.h"
#include "ops/combing.h"
#include "ops/field_interpolation.h"
#include "ops/field_ops.h"
#include "ops/pixel_rows.h"
#include "tight_jpeg.h"

namespace tessary {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

// Where the two fields of the frame disagree.
enum class Motion {
    // Everywhere a little (noise and an offset between the fields), so that
    // the adaptive repair rebuilds every row of the other field: its slowest case.
    Everywhere,
    // Only in a rectangle half as wide and half as high as the frame (a
    // quarter of it), where the second field shows the picture moved on by
    // kMotionShift pixels; the rest is one still picture in both fields. It
    // stands an eighth of the frame from the top left corner, off the centre:
    // a subject over all nine thirds of the frame reads as a moved camera.
    Rectangle,
    // Nowhere: a progressive frame, which the adaptive repair leaves as it is.
    Still,
};
constexpr int32_t kMotionShift = 12;

// Smooth shapes and fine texture, so that the encoder sees something like a
// real capture; `field` is added to every channel.
uint8_t Channel(int32_t x, int32_t y, int c, double field, uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    const double shape =
        96.0 * std::sin(x * 0.011 + c) * std::cos(y * 0.017 - c) + 40.0 * std::sin((x + y) * 0.05);
    const double noise = static_cast<double>(seed >> 28) - 8.0;
    const double v = 128.0 + shape + field + noise;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Red, green, blue of every pixel, top row first.
std::vector<uint8_t> MakePicture(Motion motion) {
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
        const double field = motion != Motion::Everywhere ? 0.0 : (y % 2) ? 6.0 : -6.0;
        uint8_t* row = rgb.data() + static_cast<size_t>(y) * kWidth * 3;
        for (int32_t x = 0; x < 3 * kWidth; ++x) {
            row[x] = Channel(x / 3, y, x % 3, field, seed);
        }
    }
    if (motion == Motion::Rectangle) {
        // Within the rectangle, rows of the second field come from kMotionShift
        // pixels to the left.
        const size_t left = kWidth / 8 * 3, bytes = kWidth / 2 * 3, shift = kMotionShift * 3;
        for (int32_t y = kHeight / 8 + 1; y < kHeight * 5 / 8; y += 2) {
            uint8_t* row = rgb.data() + static_cast<size_t>(y) * kWidth * 3;
            std::memmove(row + left, row + left - shift, bytes);
        }
    }
    return rgb;
}

// Bottom-up blue-green-red rows padded to 4 bytes, and the same pixels as a
// tight top-down red-green-blue buffer for the encoder.
struct Frame {
    std::vector<uint8_t> dibRows;
    std::vector<uint8_t> rgb;
    uint32_t stride = ((kWidth * 24 + 31) / 32) * 4;
};

Frame MakeFrame(Motion motion) {
    Frame frame;
    frame.dibRows.assign(static_cast<size_t>(frame.stride) * kHeight, 0);
    frame.rgb = MakePicture(motion);
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* dib = frame.dibRows.data() + static_cast<size_t>(kHeight - 1 - y) * frame.stride;
        const uint8_t* rgb = frame.rgb.data() + static_cast<size_t>(y) * kWidth * 3;
        for (int32_t x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                dib[3 * x + 2 - c] = rgb[3 * x + c];
            }
        }
    }
    return frame;
}

// Loads the frame into the store through a real BMP file, as the batch run would.
bool LoadFrame(CDibImage& image, const Frame& frame) {
    return bench::LoadDibRows(image, frame.dibRows, kWidth, kHeight);
}

const Frame& SharedFrame(Motion motion) {
    static const Frame everywhere = MakeFrame(Motion::Everywhere);
    static const Frame rectangle = MakeFrame(Motion::Rectangle);
    static const Frame still = MakeFrame(Motion::Still);
    return motion == Motion::Everywhere  ? everywhere
           : motion == Motion::Rectangle ? rectangle
                                         : still;
}

// Puts the frame into the surface and locks it, or marks the benchmark failed.
bool PrepareSurface(benchmark::State& state, CImageSurface& surface, const Frame& frame) {
    if (!LoadFrame(*surface.GetImage(), frame)) {
        state.SkipWithError("could not load the frame");
        return false;
    }
    surface.Lock();
    return true;
}

// Each iteration repairs the original pixels again.
void RestoreFrame(CImageSurface& surface, const Frame& frame) {
    surface.GetImage()->SetBits(frame.dibRows.data(), static_cast<uint32_t>(frame.dibRows.size()));
}

// Every repair is a lambda of its own type, so that each benchmark gets its
// own copy of the timing loop with the repair inlined, as a caller has it.
const auto kAllRepairs = [](CImageSurface& surface) {
    Deinterlace(surface);
    ClipRows(surface, 8, 4);
    SoftenBorders(surface, 8, 4);
};
const auto kAdaptive = [](CImageSurface& surface) {
    benchmark::DoNotOptimize(DeinterlaceAdaptive(RowsOf(*surface.GetImage())));
};
const auto kKeepTop = [](CImageSurface& surface) {
    KeepField(RowsOf(*surface.GetImage()), Field::Top);
};
const auto kDetect = [](CImageSurface& surface) {
    const PixelRows rows = RowsOf(*surface.GetImage());
    benchmark::DoNotOptimize(DetectCombing(rows));
    benchmark::DoNotOptimize(DetectBands(rows));
};

template <typename Repair>
void RunRepairs(benchmark::State& state, Repair repair, Motion motion = Motion::Everywhere) {
    const Frame& frame = SharedFrame(motion);
    CImageSurface surface;
    if (!PrepareSurface(state, surface, frame)) {
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        RestoreFrame(surface, frame);
        state.ResumeTiming();
        repair(surface);
        benchmark::ClobberMemory();
    }
    surface.Unlock();
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_Repairs(benchmark::State& state) {
    RunRepairs(state, kAllRepairs);
}
BENCHMARK(BM_Repairs)->Unit(benchmark::kMillisecond);

void BM_Deinterlace(benchmark::State& state) {
    RunRepairs(state, [](CImageSurface& surface) { Deinterlace(surface); });
}
BENCHMARK(BM_Deinterlace)->Unit(benchmark::kMillisecond);

void BM_Adaptive(benchmark::State& state) {
    RunRepairs(state, kAdaptive);
}
BENCHMARK(BM_Adaptive)->Unit(benchmark::kMillisecond);

void BM_AdaptiveTypical(benchmark::State& state) {
    RunRepairs(state, kAdaptive, Motion::Rectangle);
}
BENCHMARK(BM_AdaptiveTypical)->Unit(benchmark::kMillisecond);

void BM_KeepTop(benchmark::State& state) {
    RunRepairs(state, kKeepTop);
}
BENCHMARK(BM_KeepTop)->Unit(benchmark::kMillisecond);

void BM_Detect(benchmark::State& state) {
    RunRepairs(state, kDetect);
}
BENCHMARK(BM_Detect)->Unit(benchmark::kMillisecond);

// The yardstick: libjpeg-turbo's quality-100 encode of the frame into memory.
void EncodeQuality100(const Frame& frame) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    EncodeTightRows(cinfo, frame.rgb.data(), kWidth, kHeight, 3, JCS_RGB, 100);
    jpeg_destroy_compress(&cinfo);
    benchmark::DoNotOptimize(outSize);
    std::free(out);
}

void BM_JpegQuality100(benchmark::State& state) {
    const Frame& frame = SharedFrame(Motion::Everywhere);
    for (auto _ : state) {
        EncodeQuality100(frame);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_JpegQuality100)->Unit(benchmark::kMillisecond);

// A repair and the encode of the same frame taken turn about in every
// iteration, so that both see the same load on a shared machine; "share" is
// the repair's time as a part of the encode's. The reported time is the
// repair's alone.
template <typename Repair>
void RunShareOfEncode(benchmark::State& state, Repair repair, Motion motion = Motion::Everywhere) {
    using Clock = std::chrono::steady_clock;
    const Frame& frame = SharedFrame(motion);
    CImageSurface surface;
    if (!PrepareSurface(state, surface, frame)) {
        return;
    }
    double repairSeconds = 0;
    double encodeSeconds = 0;
    for (auto _ : state) {
        RestoreFrame(surface, frame);
        const auto start = Clock::now();
        repair(surface);
        benchmark::ClobberMemory();
        const auto repaired = Clock::now();
        EncodeQuality100(frame);
        const auto encoded = Clock::now();
        const double seconds = std::chrono::duration<double>(repaired - start).count();
        repairSeconds += seconds;
        encodeSeconds += std::chrono::duration<double>(encoded - repaired).count();
        state.SetIterationTime(seconds);
    }
    surface.Unlock();
    state.counters["share"] = encodeSeconds > 0 ? repairSeconds / encodeSeconds : 0;
}

void BM_RepairsShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, kAllRepairs);
}
BENCHMARK(BM_RepairsShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

// The frame's fields disagree everywhere: the adaptive repair's slowest case.
void BM_AdaptiveShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, kAdaptive);
}
BENCHMARK(BM_AdaptiveShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

// Only a quarter of the frame moved: what the adaptive repair is made for.
void BM_AdaptiveTypicalShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, kAdaptive, Motion::Rectangle);
}
BENCHMARK(BM_AdaptiveTypicalShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

// Nothing moved: what deciding that costs.
void BM_AdaptiveStillShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, kAdaptive, Motion::Still);
}
BENCHMARK(BM_AdaptiveStillShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_KeepTopShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, kKeepTop);
}
BENCHMARK(BM_KeepTopShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_DetectShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, kDetect);
}
BENCHMARK(BM_DetectShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
