// Every repair at 16 bits a sample against the same repair at 8 bits, on a
// full-HD frame, taken turn about in each iteration so that both see the same
// load on a shared machine.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/deep_rows.h"
#include "image/image_surface.h"
#include "load_dib_rows.h"
#include "ops/deinterlace_method.h"
#include "ops/field_ops.h"

namespace tessary {
namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr uint32_t kStride = ((kWidth * 24 + 31) / 32) * 4;

// Shapes, camera noise and fields out of step: everywhere, or (`moved` false)
// only in a quarter of the frame, where the second field is 12 pixels on.
struct Frame {
    std::vector<uint8_t> dibRows;   // bottom-up blue, green, red, padded
    std::vector<uint16_t> samples;  // top-down red, green, blue
};

Frame MakeFrame(bool everywhere) {
    Frame frame;
    frame.dibRows.assign(size_t(kStride) * kHeight, 0);
    frame.samples.resize(size_t(kWidth) * kHeight * 3);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int32_t> noise(-2000, 2000);
    for (int32_t y = 0; y < kHeight; ++y) {
        const bool inside = y >= kHeight / 8 && y < kHeight * 5 / 8;
        const int32_t shift = y % 2 == 1 && (everywhere || inside) ? 12 : 0;
        const double field = everywhere ? (y % 2 ? 1500.0 : -1500.0) : 0.0;
        uint16_t* row = frame.samples.data() + size_t(y) * kWidth * 3;
        uint8_t* dib = frame.dibRows.data() + size_t(kHeight - 1 - y) * kStride;
        for (int32_t x = 0; x < kWidth; ++x) {
            const bool moves = everywhere || (x >= kWidth / 8 && x < kWidth * 5 / 8);
            const int32_t at = moves ? x - shift : x;
            for (int c = 0; c < 3; ++c) {
                const double shape = 24000.0 * std::sin(at * 0.011 + c) * std::cos(y * 0.017 - c) +
                                     10000.0 * std::sin((at + y) * 0.05);
                const double v = 32768.0 + shape + field + noise(random);
                const auto sample = uint16_t(std::clamp(v, 0.0, 65535.0));
                row[3 * x + c] = sample;
                dib[3 * x + 2 - c] = ByteOfSample(sample);
            }
        }
    }
    return frame;
}

const Frame& SharedFrame(bool everywhere) {
    static const Frame moved = MakeFrame(true);
    static const Frame partly = MakeFrame(false);
    return everywhere ? moved : partly;
}

// Loads the frame's bytes into the store through a real BMP file.
bool LoadFrame(CDibImage& image, const Frame& frame) {
    return bench::LoadDibRows(image, frame.dibRows, kWidth, kHeight);
}

// The frame again: its bytes, and with `deep` its samples too.
bool Restore(CDibImage& image, const Frame& frame, bool deep) {
    image.SetBits(frame.dibRows.data(), uint32_t(frame.dibRows.size()));
    if (!deep) {
        return true;
    }
    DeepPixels samples;
    if (!samples.Allocate(kWidth, kHeight)) {
        return false;
    }
    std::memcpy(samples.samples.get(), frame.samples.data(), frame.samples.size() * 2);
    return image.SetDeep(std::move(samples));
}

// The time reported is the 16-bit repair's; "ratio" is its total time over
// the 8-bit repair's, and "ms8" the 8-bit repair's time per run.
template <typename Repair>
void RunBothDepths(benchmark::State& state, Repair repair, bool everywhere = true) {
    using Clock = std::chrono::steady_clock;
    const Frame& frame = SharedFrame(everywhere);
    CImageSurface bytes;
    CImageSurface deep;
    if (!LoadFrame(*bytes.GetImage(), frame) || !LoadFrame(*deep.GetImage(), frame)) {
        state.SkipWithError("could not load the frame");
        return;
    }
    double seconds8 = 0;
    double seconds16 = 0;
    for (auto _ : state) {
        Restore(*bytes.GetImage(), frame, false);
        if (!Restore(*deep.GetImage(), frame, true)) {
            state.SkipWithError("no room for the samples");
            return;
        }
        bytes.Lock();
        deep.Lock();
        const auto start = Clock::now();
        repair(bytes);
        benchmark::ClobberMemory();
        const auto middle = Clock::now();
        repair(deep);
        benchmark::ClobberMemory();
        const auto end = Clock::now();
        bytes.Unlock();
        deep.Unlock();
        seconds8 += std::chrono::duration<double>(middle - start).count();
        const double time16 = std::chrono::duration<double>(end - middle).count();
        seconds16 += time16;
        state.SetIterationTime(time16);
    }
    state.counters["ratio"] = seconds8 > 0 ? seconds16 / seconds8 : 0;
    state.counters["ms8"] = 1000 * seconds8 / double(state.iterations());
}

void BM_DeepAverage(benchmark::State& state) {
    RunBothDepths(state, [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Average); });
}
BENCHMARK(BM_DeepAverage)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_DeepKeepTop(benchmark::State& state) {
    RunBothDepths(state, [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Top); });
}
BENCHMARK(BM_DeepKeepTop)->Unit(benchmark::kMillisecond)->UseManualTime();

// Combed everywhere: the whole field rebuilt.
void BM_DeepAdaptive(benchmark::State& state) {
    RunBothDepths(state, [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Adaptive); });
}
BENCHMARK(BM_DeepAdaptive)->Unit(benchmark::kMillisecond)->UseManualTime();

// A quarter of the frame moved: rebuilt and faded in there alone.
void BM_DeepAdaptiveTypical(benchmark::State& state) {
    RunBothDepths(
        state, [](CImageSurface& s) { DeinterlaceBy(s, DeinterlaceMethod::Adaptive); }, false);
}
BENCHMARK(BM_DeepAdaptiveTypical)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_DeepClip(benchmark::State& state) {
    RunBothDepths(state, [](CImageSurface& s) { ClipRows(s, 8, 4); });
}
BENCHMARK(BM_DeepClip)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_DeepSoften(benchmark::State& state) {
    RunBothDepths(state, [](CImageSurface& s) { SoftenBorders(s, 8, 4); });
}
BENCHMARK(BM_DeepSoften)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
