// Time to open the preview of one picture: from the command to the first paint of
// both parts, and the worker's share of it (load, copy, repairs, copy).
//
// Usage: bench_preview PICTURE [benchmark flags]
// Make a 3840 x 2160 picture with: bench_make_frames jpeg 3840 2160 1 DIR

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <cstdio>
#include <vector>

#include "app/main_dialog.h"
#include "app/preview_render.h"
#include "app/preview_view.h"
#include "app/preview_window.h"
#include "image/dib_image.h"

namespace {

QString g_picture;

tessary::BatchSettings AllRepairs() {
    tessary::BatchSettings settings;
    settings.m_bInterlace = 1;
    settings.m_bClip = 1;
    settings.m_bSoftenBorders = 1;
    settings.m_nClipTop = 8;
    settings.m_nClipBottom = 4;
    return settings;
}

// The parts of the worker's job and of the first paint, to see where the time goes.
void BM_Load(benchmark::State& state) {
    tessary::CDibImage image;
    const QByteArray path = QFile::encodeName(g_picture);
    for (auto _ : state) {
        image.Load(path.constData());
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ImageFromDib(benchmark::State& state) {
    tessary::CDibImage image;
    image.Load(QFile::encodeName(g_picture).constData());
    for (auto _ : state) {
        benchmark::DoNotOptimize(tessary::ImageFromDib(image.GetDib()));
    }
}
BENCHMARK(BM_ImageFromDib)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScaleToFit(benchmark::State& state) {
    const QImage picture = tessary::RenderPreview(g_picture, {}).original;
    const QSize fit = picture.size().scaled(QSize(940, 540), Qt::KeepAspectRatio);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            picture.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
}
BENCHMARK(BM_ScaleToFit)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RenderPreview(benchmark::State& state) {
    for (auto _ : state) {
        tessary::DialogOptions options;
        options = AllRepairs();
        benchmark::DoNotOptimize(tessary::RenderPreview(g_picture, options));
    }
}
BENCHMARK(BM_RenderPreview)->Unit(benchmark::kMillisecond)->UseRealTime();

// The whole open as a user meets it, in a window of the default size, fitted.
void BM_OpenPreview(benchmark::State& state) {
    tessary::CMainDialog dialog;
    dialog.SetSettings(AllRepairs());
    dialog.AppendInputs({g_picture});
    dialog.show();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        dialog.OnPreview(0);
        tessary::PreviewWindow* preview = dialog.Preview();
        // Waits as the program's own event loop does, without spinning.
        QEventLoop loop;
        QObject::connect(preview, &tessary::PreviewWindow::Shown, &loop, &QEventLoop::quit);
        loop.exec();
        preview->View()->repaint();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        state.PauseTiming();
        delete preview;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenPreview)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: %s PICTURE [benchmark flags]\n", argv[0]);
        return 2;
    }
    g_picture = QString::fromLocal8Bit(argv[1]);
    // The picture is this program's; the flags after it are the benchmark's.
    std::vector<char*> flags{argv[0]};
    flags.insert(flags.end(), argv + 2, argv + argc);
    int flagCount = static_cast<int>(flags.size());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&flagCount, flags.data());
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
