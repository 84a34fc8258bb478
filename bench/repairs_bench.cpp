#include <benchmark/benchmark.h>

#include <jpeglib.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/image_surface.h"
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

// A frame with smooth shapes, fine texture and two fields that disagree a
// little, so that the encoder sees something like a real capture.
uint8_t Channel(int32_t x, int32_t y, int c, uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    const double shape =
        96.0 * std::sin(x * 0.011 + c) * std::cos(y * 0.017 - c) + 40.0 * std::sin((x + y) * 0.05);
    const double field = (y % 2) ? 6.0 : -6.0;
    const double noise = static_cast<double>(seed >> 28) - 8.0;
    const double v = 128.0 + shape + field + noise;
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Bottom-up blue-green-red rows padded to 4 bytes, and the same pixels as a
// tight top-down red-green-blue buffer for the encoder.
struct Frame {
    std::vector<uint8_t> dibRows;
    std::vector<uint8_t> rgb;
    uint32_t stride = ((kWidth * 24 + 31) / 32) * 4;
};

Frame MakeFrame() {
    Frame frame;
    frame.dibRows.assign(static_cast<size_t>(frame.stride) * kHeight, 0);
    frame.rgb.resize(static_cast<size_t>(kWidth) * kHeight * 3);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* dib = frame.dibRows.data() + static_cast<size_t>(kHeight - 1 - y) * frame.stride;
        uint8_t* rgb = frame.rgb.data() + static_cast<size_t>(y) * kWidth * 3;
        for (int32_t x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                rgb[3 * x + c] = Channel(x, y, c, seed);
                dib[3 * x + 2 - c] = rgb[3 * x + c];
            }
        }
    }
    return frame;
}

void Put(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>(value >> (8 * i)));
    }
}

// Loads the frame into the store through a real BMP file, as the batch run would.
bool LoadFrame(CDibImage& image, const Frame& frame) {
    std::string file = "BM";
    const uint32_t pixelBytes = static_cast<uint32_t>(frame.dibRows.size());
    Put(file, 54 + pixelBytes, 4), Put(file, 0, 4), Put(file, 54, 4);
    Put(file, 40, 4), Put(file, kWidth, 4), Put(file, kHeight, 4), Put(file, 1, 2);
    Put(file, 24, 2), Put(file, 0, 4), Put(file, pixelBytes, 4), Put(file, 0, 16);
    file.append(reinterpret_cast<const char*>(frame.dibRows.data()), pixelBytes);

    char path[] = "/tmp/tessary-bench-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return false;
    }
    const bool written = write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
    close(fd);
    if (written) {
        image.LoadBmp(path);
    }
    unlink(path);
    return written && image.GetWidth() == kWidth && image.GetHeight() == kHeight;
}

const Frame& SharedFrame() {
    static const Frame frame = MakeFrame();
    return frame;
}

// Puts the frame into the surface and locks it, or marks the benchmark failed.
bool PrepareSurface(benchmark::State& state, CImageSurface& surface) {
    if (!LoadFrame(*surface.GetImage(), SharedFrame())) {
        state.SkipWithError("could not load the frame");
        return false;
    }
    surface.Lock();
    return true;
}

// Each iteration repairs the original pixels again.
void RestoreFrame(CImageSurface& surface) {
    const Frame& frame = SharedFrame();
    surface.GetImage()->SetBits(frame.dibRows.data(), static_cast<uint32_t>(frame.dibRows.size()));
}

void AllRepairs(CImageSurface& surface) {
    Deinterlace(surface);
    ClipRows(surface, 8, 4);
    SoftenBorders(surface, 8, 4);
}

template <typename Repair>
void RunRepairs(benchmark::State& state, Repair repair) {
    CImageSurface surface;
    if (!PrepareSurface(state, surface)) {
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        RestoreFrame(surface);
        state.ResumeTiming();
        repair(surface);
        benchmark::ClobberMemory();
    }
    surface.Unlock();
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_Repairs(benchmark::State& state) {
    RunRepairs(state, AllRepairs);
}
BENCHMARK(BM_Repairs)->Unit(benchmark::kMillisecond);

void BM_Deinterlace(benchmark::State& state) {
    RunRepairs(state, [](CImageSurface& surface) { Deinterlace(surface); });
}
BENCHMARK(BM_Deinterlace)->Unit(benchmark::kMillisecond);

void AdaptiveRepair(CImageSurface& surface) {
    benchmark::DoNotOptimize(DeinterlaceAdaptive(RowsOf(*surface.GetImage())));
}
void KeepTopField(CImageSurface& surface) {
    KeepField(RowsOf(*surface.GetImage()), Field::Top);
}
void DetectCombingAndBands(CImageSurface& surface) {
    const PixelRows rows = RowsOf(*surface.GetImage());
    benchmark::DoNotOptimize(DetectCombing(rows));
    benchmark::DoNotOptimize(DetectBands(rows));
}

void BM_Adaptive(benchmark::State& state) {
    RunRepairs(state, AdaptiveRepair);
}
BENCHMARK(BM_Adaptive)->Unit(benchmark::kMillisecond);

void BM_KeepTop(benchmark::State& state) {
    RunRepairs(state, KeepTopField);
}
BENCHMARK(BM_KeepTop)->Unit(benchmark::kMillisecond);

void BM_Detect(benchmark::State& state) {
    RunRepairs(state, DetectCombingAndBands);
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
    const Frame& frame = SharedFrame();
    for (auto _ : state) {
        EncodeQuality100(frame);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_JpegQuality100)->Unit(benchmark::kMillisecond);

// A repair and the encode taken turn about in every iteration, so that both
// see the same load on a shared machine; "share" is the repair's time as a
// part of the encode's. The reported time is the repair's alone.
template <typename Repair>
void RunShareOfEncode(benchmark::State& state, Repair repair) {
    using Clock = std::chrono::steady_clock;
    CImageSurface surface;
    if (!PrepareSurface(state, surface)) {
        return;
    }
    double repairSeconds = 0;
    double encodeSeconds = 0;
    for (auto _ : state) {
        RestoreFrame(surface);
        const auto start = Clock::now();
        repair(surface);
        benchmark::ClobberMemory();
        const auto repaired = Clock::now();
        EncodeQuality100(SharedFrame());
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
    RunShareOfEncode(state, AllRepairs);
}
BENCHMARK(BM_RepairsShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

// The frame's fields disagree everywhere, so the adaptive repair rebuilds
// every row of the other field: its slowest case.
void BM_AdaptiveShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, AdaptiveRepair);
}
BENCHMARK(BM_AdaptiveShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_KeepTopShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(
        state, [](CImageSurface& surface) { KeepField(RowsOf(*surface.GetImage()), Field::Top); });
}
BENCHMARK(BM_KeepTopShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_DetectShareOfEncode(benchmark::State& state) {
    RunShareOfEncode(state, DetectCombingAndBands);
}
BENCHMARK(BM_DetectShareOfEncode)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
