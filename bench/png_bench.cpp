// PNG decoding: the reader into a 24-bit packed DIB against libspng's own
// decode of the same 1920 x 1080 file to RGB8, both reusing their memory from
// one picture to the next as a batch does.
#include <benchmark/benchmark.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <vector>

#include "formats/png_file.h"

namespace tessary {
namespace {

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;

// A frame-grab-like picture: smooth gradients, a hard-edged box and a little
// noise, written by libspng with its default settings (as capture programs
// write with zlib's defaults).
std::vector<uint8_t> MakePng() {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            seed = seed * 1664525 + 1013904223;
            const int noise = int(seed >> 29) - 4;
            const bool box = x > 600 && x < 1100 && y > 300 && y < 700;
            uint8_t* p = &rgb[(size_t(y) * kWidth + x) * 3];
            p[0] = uint8_t(std::clamp(int(x * 255 / kWidth) + noise, 0, 255));
            p[1] = uint8_t(box ? 200 : std::clamp(int(y * 255 / kHeight) + noise, 0, 255));
            p[2] = uint8_t(std::clamp(int((x + y) * 255 / (kWidth + kHeight)) - noise, 0, 255));
        }
    }
    spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr header{kWidth, kHeight, 8, SPNG_COLOR_TYPE_TRUECOLOR, 0, 0, 0};
    spng_set_ihdr(context, &header);
    spng_encode_image(context, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    size_t size = 0;
    int error = 0;
    auto* bytes = static_cast<uint8_t*>(spng_get_png_buffer(context, &size, &error));
    std::vector<uint8_t> png(bytes, bytes + size);
    std::free(bytes);
    spng_ctx_free(context);
    return png;
}

const std::vector<uint8_t>& Png() {
    static const std::vector<uint8_t> png = MakePng();
    return png;
}

bool SpngDecode(const std::vector<uint8_t>& png, std::vector<uint8_t>& rgb) {
    spng_ctx* context = spng_ctx_new(0);
    spng_set_png_buffer(context, png.data(), png.size());
    const bool ok = spng_decode_image(context, rgb.data(), rgb.size(), SPNG_FMT_RGB8, 0) == 0;
    spng_ctx_free(context);
    return ok;
}

bool ReaderDecode(const std::vector<uint8_t>& png, MemoryBlock& dib) {
    return ReadPng(png, &dib, nullptr, std::move(dib)).IsOk();
}

void BM_SpngDecodeToRgb8(benchmark::State& state) {
    Png();  // made before the timing, whichever benchmark runs first
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    for (auto _ : state) {
        if (!SpngDecode(Png(), rgb)) {
            state.SkipWithError("libspng refused the file");
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SpngDecodeToRgb8)->Unit(benchmark::kMillisecond);

void BM_ReadPngToDib(benchmark::State& state) {
    Png();
    MemoryBlock dib;
    for (auto _ : state) {
        if (!ReaderDecode(Png(), dib)) {
            state.SkipWithError("ReadPng refused the file");
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ReadPngToDib)->Unit(benchmark::kMillisecond);

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Both decodes turn about in every iteration, so that they see the same load
// on a shared machine; "ratio" is the reader's wall time over libspng's, and
// "cpu_ratio" the same in processor time of the thread, which the other work
// on a busy machine disturbs less. The reported time is the reader's alone.
void BM_ReadPngOverSpng(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Png();
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    MemoryBlock dib;
    double ours = 0, theirs = 0, oursCpu = 0, theirsCpu = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double startCpu = ThreadSeconds();
        const bool read = ReaderDecode(Png(), dib);
        const auto middle = Clock::now();
        const double middleCpu = ThreadSeconds();
        const bool decoded = SpngDecode(Png(), rgb);
        const auto end = Clock::now();
        const double endCpu = ThreadSeconds();
        if (!read || !decoded) {
            state.SkipWithError("a decoder refused the file");
        }
        ours += std::chrono::duration<double>(middle - start).count();
        theirs += std::chrono::duration<double>(end - middle).count();
        oursCpu += middleCpu - startCpu;
        theirsCpu += endCpu - middleCpu;
        state.SetIterationTime(std::chrono::duration<double>(middle - start).count());
    }
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
    state.counters["cpu_ratio"] = theirsCpu > 0 ? oursCpu / theirsCpu : 0;
    state.counters["file_kB"] = double(Png().size()) / 1000;
}
BENCHMARK(BM_ReadPngOverSpng)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace
}  // namespace tessary

BENCHMARK_MAIN();
