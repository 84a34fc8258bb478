#include "batch/batch_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "batch/batch_parallel.h"
#include "batch/batch_report.h"
#include "image/image_surface.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/gif_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::TempDir;

// Records every call of the run, in order, and cancels at a chosen poll.
class RecordingSink : public ProgressSink {
  public:
    explicit RecordingSink(int cancelAtPoll = -1, bool createResult = true)
        : m_cancelAtPoll(cancelAtPoll), m_createResult(createResult) {}

    void SetRange(int32_t lower, int32_t upper) override {
        calls.push_back("SetRange " + std::to_string(lower) + " " + std::to_string(upper));
    }
    bool Create() override {
        calls.push_back("Create");
        return m_createResult;
    }
    void SetStatus(const std::string& text) override { calls.push_back("SetStatus " + text); }
    void SetPos(int32_t position) override {
        calls.push_back("SetPos " + std::to_string(position));
    }
    int PollCancel() override {
        calls.push_back("PollCancel");
        return m_polls++ == m_cancelAtPoll ? 1 : 0;
    }
    void ShowMessage(const std::string& text) override { calls.push_back("ShowMessage " + text); }
    void Destroy() override { calls.push_back("Destroy"); }

    std::vector<std::string> calls;

  private:
    int m_cancelAtPoll;
    bool m_createResult;
    int m_polls = 0;
};

// A 10 x 10 24-bit picture whose rows alternate between two greys, as the
// two fields of a still from video would, saved with the product's own writer.
void WriteStripedBmp(const std::string& path, uint32_t even, uint32_t odd) {
    CImageSurface surface;
    CDibImage& image = *surface.GetImage();
    for (int32_t y = 0; y < 10; ++y) {
        const uint32_t v = y % 2 == 0 ? even : odd;
        for (int32_t x = 0; x < 10; ++x) {
            image.SetPixel(x, y, PackRgb(v, v, v));
        }
    }
    image.SaveBmp(path.c_str());
    ASSERT_TRUE(image.GetSaveReport().written) << path;
}

// The red channel of column 0, row by row, of an image file.
std::vector<uint32_t> RowsOf(const std::string& path) {
    CImageSurface surface;
    CDibImage& image = *surface.GetImage();
    image.Load(path.c_str());
    std::vector<uint32_t> rows;
    for (int32_t y = 0; y < image.GetHeight(); ++y) {
        rows.push_back(RedOf(image.GetPixel(0, y)));
    }
    return rows;
}

std::string Head(const std::string& path, size_t count) {
    const test::Bytes bytes = test::ReadBytes(path);
    return std::string(bytes.begin(),
                       bytes.begin() + static_cast<long>(std::min(count, bytes.size())));
}

TEST(FileNameFromPath, TakesTheLastComponentAfterEitherSeparator) {
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"E:\\in\\a.BMP", "a.BMP"},
        {"D:/pics/x.jpg", "x.jpg"},
        {"x.jpg", "x.jpg"},
        {"a/b\\c.jpeg", "c.jpeg"},
        {"a\\b/c", "c"},
        {"/tmp/folder/", ""},
        {"", ""},
        // Multi-byte UTF-8 names come through whole, in folders and in the name.
        {"/tmp/Ünïcødé/фото кадр.JPG", "фото кадр.JPG"},
        {"日本/画像.bmp", "画像.bmp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileNameFromPath(c.path), c.name) << c.path;
    }
}

TEST(OutputFormatFor, LooksOnlyAtTheLastThreeCharactersInAnyCase) {
    const struct {
        const char* name;
        OutputFormat format;
    } cases[] = {
        {"E:\\out\\a.BMP", OutputFormat::Bmp},
        {"a.bmp", OutputFormat::Bmp},
        {"a.bMp", OutputFormat::Bmp},
        {"abmp", OutputFormat::Bmp},
        {"bmp", OutputFormat::Bmp},
        {"mp", OutputFormat::Jpeg},
        {"", OutputFormat::Jpeg},
        {"a.jpg", OutputFormat::Jpeg},
        {"a.bmp.jpg", OutputFormat::Jpeg},
        {"a.bmpx", OutputFormat::Jpeg},
        {"a.gif", OutputFormat::Jpeg},
        {"a.dib", OutputFormat::Jpeg},
        {"a.png", OutputFormat::Png},
        {"a.PnG", OutputFormat::Png},
        {"apng", OutputFormat::Png},
        {"a.png.jpg", OutputFormat::Jpeg},
        {"a.pngx", OutputFormat::Jpeg},
        {"a.tif", OutputFormat::Tiff},
        {"a.TIFF", OutputFormat::Tiff},
        {"tiff", OutputFormat::Tiff},
        {"a.ff", OutputFormat::Jpeg},
        {"a.xiff", OutputFormat::Jpeg},
        {"a.tiffs", OutputFormat::Jpeg},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OutputFormatFor(c.name), c.format) << c.name;
        EXPECT_EQ(IsBmpOutputName(c.name), c.format == OutputFormat::Bmp) << c.name;
    }
}

TEST(RunBatch, CallsTheSinkInOrderWithStatusAndPosition) {
    TempDir dir;
    const std::string out = dir.Path() + "/";
    const std::vector<std::string> inputs = {dir.File("in/a.bmp"), dir.File("in/b.bmp")};
    RecordingSink sink;
    EXPECT_FALSE(RunBatch(inputs, out, BatchSettings{}, sink));
    const std::vector<std::string> expected = {
        "SetRange 0 2", "Create",     "SetStatus " + inputs[0] + " --> " + out + "a.bmp",
        "SetPos 0",     "PollCancel", "SetStatus " + inputs[1] + " --> " + out + "b.bmp",
        "SetPos 1",     "PollCancel", "Destroy",
    };
    EXPECT_EQ(sink.calls, expected);
}

TEST(RunBatch, EmptyListOnlyOpensAndClosesTheWindow) {
    RecordingSink sink;
    EXPECT_FALSE(RunBatch({}, "/nonexistent/", BatchSettings{}, sink));
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"SetRange 0 0", "Create", "Destroy"}));
}

// Three real inputs in dir/in, so that each one run writes an output.
std::vector<std::string> ThreeInputs(const TempDir& dir) {
    EXPECT_EQ(::mkdir(dir.File("in").c_str(), 0700), 0);
    std::vector<std::string> inputs;
    for (const char* name : {"0.bmp", "1.bmp", "2.bmp"}) {
        inputs.push_back(dir.File(std::string("in/") + name));
        WriteStripedBmp(inputs.back(), 10, 20);
    }
    return inputs;
}

TEST(RunBatch, CancelFinishesTheFileInHandAndStartsNoOther) {
    for (int k = 0; k < 3; ++k) {
        TempDir dir;
        const std::vector<std::string> inputs = ThreeInputs(dir);
        RecordingSink sink(k);
        const RunOutcome outcome =
            RunSequential(PlanSequentialRun(inputs, dir.Path() + "/", BatchSettings{}), sink);
        EXPECT_TRUE(outcome.cancelled);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(test::FileExists(dir.File(std::to_string(i) + ".bmp")), i <= k)
                << "cancel during file " << k << ", file " << i;
        }
        // Cancelling during the last file still shows the message, before the window goes.
        ASSERT_GE(sink.calls.size(), 2u);
        EXPECT_EQ(sink.calls[sink.calls.size() - 2], std::string("ShowMessage ") + kCancelMessage);
        EXPECT_EQ(sink.calls.back(), "Destroy");
        EXPECT_EQ(outcome.processed, static_cast<size_t>(k + 1));
        EXPECT_EQ(FailureSummary(outcome), "");  // files not started are no failures
    }
}

TEST(RunBatch, GoesOnWhenTheWindowCannotBeCreated) {
    TempDir dir;
    RecordingSink sink(-1, false);
    RunBatch(ThreeInputs(dir), dir.Path() + "/", BatchSettings{}, sink);
    EXPECT_TRUE(test::FileExists(dir.File("0.bmp")));
    EXPECT_TRUE(test::FileExists(dir.File("2.bmp")));
}

TEST(RunBatch, LaterFileWithTheSameNameWinsAndRepeatsAreProcessedAgain) {
    TempDir dir;
    WriteStripedBmp(dir.File("f.bmp"), 200, 200);
    ASSERT_EQ(::mkdir(dir.File("second").c_str(), 0700), 0);
    WriteStripedBmp(dir.File("second/f.bmp"), 40, 40);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    const std::string out = dir.File("out") + "/";
    RecordingSink sink;
    const RunOutcome outcome = RunSequential(
        PlanSequentialRun({dir.File("f.bmp"), dir.File("f.bmp"), dir.File("second/f.bmp")}, out,
                          BatchSettings{}),
        sink);
    EXPECT_EQ(outcome.written, 3u);
    EXPECT_EQ(RowsOf(out + "f.bmp"), std::vector<uint32_t>(10, 40));
}

TEST(RunBatch, ATypedFolderIsAFolderAndAnythingElseAPrefix) {
    TempDir dir;
    WriteStripedBmp(dir.File("a.BMP"), 10, 10);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    const struct {
        const char* location;
        const char* output;
    } cases[] = {
        {"out", "out/a.BMP"},             // an existing folder without its separator
        {"out/", "out/a.BMP"},            // with it
        {"pre", "prea.BMP"},              // no such folder: a prefix of the name
        {"new/deep/", "new/deep/a.BMP"},  // made with its parents before the first file
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        const SequentialPlan plan =
            PlanSequentialRun({dir.File("a.BMP")}, dir.File(c.location), BatchSettings{});
        EXPECT_EQ(plan.batch.jobs[0].job.output, dir.File(c.output)) << c.location;
        RunSequential(plan, sink);
        EXPECT_EQ(Head(dir.File(c.output), 2), "BM") << c.location;
    }
}

TEST(RunBatch, AFolderThatCannotBeMadeStopsTheRunBeforeAnyFile) {
    TempDir dir;
    WriteStripedBmp(dir.File("a.bmp"), 10, 10);
    ASSERT_TRUE(test::WriteBytes(dir.File("plain"), test::Bytes(4, 0)));
    RecordingSink sink;
    const RunOutcome outcome = RunSequential(
        PlanSequentialRun({dir.File("a.bmp")}, dir.File("plain/sub/"), BatchSettings{}), sink);
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_EQ(outcome.processed, 0u);
    const std::string summary = FailureSummary(outcome);
    EXPECT_EQ(summary.rfind("0 of 1 file was written.\n" + dir.File("plain/sub/") +
                                ": cannot create the output folder: ",
                            0),
              0u)
        << summary;
}

TEST(RunBatch, WritesBmpForBmpNamesPngForPngNamesAndJpegOtherwise) {
    TempDir dir;
    const struct {
        const char* name;
        const char* magic;
    } cases[] = {{"a.BMP", "BM"},
                 {"b.jpeg", "\xFF\xD8\xFF"},
                 {"c.gif", "\xFF\xD8\xFF"},
                 {"d", "\xFF\xD8\xFF"},
                 {"e.xbmp", "BM"},
                 {"f.PNG", "\x89PNG\r\n\x1A\n"},
                 {"g.png.jpg", "\xFF\xD8\xFF"}};
    ASSERT_EQ(::mkdir(dir.File("in").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    std::vector<std::string> inputs;
    for (const auto& c : cases) {
        inputs.push_back(dir.File(std::string("in/") + c.name));
        WriteStripedBmp(inputs.back(), 90, 90);  // content decides the reader, not the name
    }
    RecordingSink sink;
    const RunOutcome outcome =
        RunSequential(PlanSequentialRun(inputs, dir.File("out/"), BatchSettings{}), sink);
    for (const auto& c : cases) {
        const std::string magic = c.magic;
        EXPECT_EQ(Head(dir.File(std::string("out/") + c.name), magic.size()), magic) << c.name;
    }
    EXPECT_EQ(outcome.written, std::size(cases));
}

TEST(RunBatch, MissingAndUnreadableInputsWriteNothingAndAreSummedUp) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("notes.bmp"), test::Bytes(200, 'x')));
    WriteStripedBmp(dir.File("good.bmp"), 10, 10);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    RecordingSink sink;
    const RunOutcome outcome = RunSequential(
        PlanSequentialRun({dir.File("gone.bmp"), dir.File("notes.bmp"), dir.File("good.bmp")},
                          dir.File("out/"), BatchSettings{}),
        sink);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"good.bmp", "notes.bmp", "out"}));
    EXPECT_FALSE(test::FileExists(dir.File("out/gone.bmp")));
    EXPECT_FALSE(test::FileExists(dir.File("out/notes.bmp")));
    EXPECT_EQ(FailureSummary(outcome),
              "1 of 3 files were written.\n"
              "gone.bmp: No such file or directory\n"
              "notes.bmp: not a JPEG, GIF, BMP, PNG or TIFF image");
}

TEST(FailureSummary, ListsTenFailuresThenHowManyMore) {
    std::vector<FileReport> failures(12);
    for (size_t i = 0; i < failures.size(); ++i) {
        failures[i].input = "/in/f" + std::to_string(i + 1) + ".jpg";
        failures[i].reason = "r" + std::to_string(i + 1);
    }
    std::string expected = "1 of 1,500 files were written.";
    for (size_t i = 1; i <= 10; ++i) {
        expected += "\nf" + std::to_string(i) + ".jpg: r" + std::to_string(i);
    }
    expected += "\nand 2 more";
    EXPECT_EQ(FailureSummary(1, failures, 1500), expected);
    EXPECT_EQ(FailureSummary(1, {}, 1), "");
}

TEST(MakePlan, CountsEachReplacedInputFileOnce) {
    TempDir dir;
    WriteStripedBmp(dir.File("a.bmp"), 10, 10);
    WriteStripedBmp(dir.File("b.bmp"), 10, 10);
    ASSERT_EQ(::symlink(dir.File("b.bmp").c_str(), dir.File("link.bmp").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    const std::string a = dir.File("a.bmp");
    const std::string b = dir.File("b.bmp");
    // Each input with its whole output path: a name prefix of "" leaves it as it is.
    const struct {
        const char* what;
        std::vector<PlanInput> inputs;
        size_t count;
        std::string first;
    } cases[] = {
        {"elsewhere", {{a, dir.File("out/a.bmp")}}, 0, ""},
        {"into its own folder", {{a, a}, {b, dir.File("out/b.bmp")}}, 1, a},
        {"listed twice", {{b, b}, {b, b}, {a, a}}, 2, b},
        {"another spelling", {{a, dir.Path() + "/./a.bmp"}}, 1, a},
        {"through a link", {{b, dir.File("link.bmp")}}, 1, b},
        {"another input's name", {{a, b}, {b, dir.File("out/b.bmp")}}, 1, b},
    };
    for (const auto& c : cases) {
        PlanOptions options;
        options.overwriteInputs = true;
        options.namePrefix = true;
        const ReplacedOriginals replaced = MakePlan(c.inputs, options).replaced;
        EXPECT_EQ(replaced.count, c.count) << c.what;
        EXPECT_EQ(replaced.first, c.first) << c.what;
    }
}

TEST(ProcessFile, AppliesTheChosenRepairsInOrder) {
    // Rows alternate 200 and 100; averaging gives 150. Softening keeps a quarter,
    // a half and three quarters of the three rows next to each band.
    const struct {
        const char* what;
        BatchSettings settings;
        std::vector<uint32_t> rows;
    } cases[] = {
        {"nothing", {}, {200, 100, 200, 100, 200, 100, 200, 100, 200, 100}},
        {"deinterlace", {0, 1, 0, 0, 0}, std::vector<uint32_t>(10, 150)},
        {"clip 2:3", {1, 0, 0, 2, 3}, {0, 0, 200, 100, 200, 100, 200, 0, 0, 0}},
        {"deinterlace, then soften without clip: the row counts are not used",
         {0, 1, 1, 2, 3},
         {37, 75, 112, 150, 150, 150, 150, 112, 75, 37}},
        {"all three", {1, 1, 1, 2, 3}, {0, 0, 37, 75, 84, 75, 37, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        WriteStripedBmp(dir.File("in.bmp"), 200, 100);
        CImageSurface surface;
        ProcessFile(surface, dir.File("in.bmp"), dir.File("out.bmp"), c.settings);
        EXPECT_EQ(RowsOf(dir.File("out.bmp")), c.rows) << c.what;
    }
}

TEST(ProcessFile, WidensOtherDepthsOnlyWhenARepairIsSelected) {
    // An 8-bit grey picture whose rows alternate 200 and 100.
    const test::Bytes grey = test::BmpBuilder(6, 4, 8)
                                 .GreyPalette(256)
                                 .Pixels8([](int32_t, int32_t y) { return y % 2 ? 100 : 200; })
                                 .Build();
    const struct {
        BatchSettings settings;
        uint8_t bits;
        std::vector<uint32_t> rows;
        const char* repairs;
    } cases[] = {
        {{}, 8, {}, ""},  // written as it was read
        {{0, 1, 0, 0, 0}, 24, {150, 150, 150, 150}, "deinterlace"},
        {{1, 1, 0, 1, 0}, 24, {0, 150, 150, 150}, "deinterlace,clip"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(test::WriteBytes(dir.File("in.bmp"), grey));
        CImageSurface surface;
        const FileReport report =
            ProcessFile(surface, dir.File("in.bmp"), dir.File("out.bmp"), c.settings);
        EXPECT_EQ(report.status, FileStatus::Written);
        EXPECT_EQ(report.repairs, c.repairs);
        EXPECT_EQ(report.warning, "");
        EXPECT_EQ(test::ReadBytes(dir.File("out.bmp"))[28], c.bits) << c.repairs;
        if (c.bits == 24) {
            EXPECT_EQ(RowsOf(dir.File("out.bmp")), c.rows) << c.repairs;
        } else {
            // The same indices in the same rows (8 bytes each, with padding).
            const test::Bytes out = test::ReadBytes(dir.File("out.bmp"));
            ASSERT_GE(out.size(), 32u);
            EXPECT_TRUE(std::equal(out.end() - 32, out.end(), grey.end() - 32));
        }
    }
}

TEST(ProcessFile, AReadersWarningComesFirstOnTheFilesLine) {
    test::GifFile animation =
        test::OneImageGif(4, 4, std::vector<uint8_t>(16, 1), test::DistinctPalette(2));
    animation.images.push_back(animation.images[0]);
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("in.gif"), test::BuildGif(animation)));
    const struct {
        BatchSettings settings;
        const char* warning;
    } cases[] = {
        {{}, "warning: animated GIF: only the first frame was used"},
        {{1, 0, 0, 2, 2},
         "warning: animated GIF: only the first frame was used; the clip bands (2 + 2 rows) "
         "cover the whole picture of 4 rows"},
    };
    for (const auto& c : cases) {
        CImageSurface surface;
        const FileReport report =
            ProcessFile(surface, dir.File("in.gif"), dir.File("out.bmp"), c.settings);
        EXPECT_EQ(report.status, FileStatus::Written);
        EXPECT_EQ(report.warning, c.warning);
    }
}

TEST(ProcessFile, WarnsWhenTheClipBandsCoverThePicture) {
    TempDir dir;
    WriteStripedBmp(dir.File("in.bmp"), 200, 100);  // 10 rows
    const struct {
        int32_t top;
        int32_t bottom;
        bool warned;
    } cases[] = {{4, 5, false}, {5, 5, true}, {480, 0, true}};
    for (const auto& c : cases) {
        CImageSurface surface;
        const FileReport report = ProcessFile(surface, dir.File("in.bmp"), dir.File("out.bmp"),
                                              BatchSettings{1, 0, 0, c.top, c.bottom});
        EXPECT_EQ(report.status, FileStatus::Written);
        EXPECT_EQ(!report.warning.empty(), c.warned) << c.top << ":" << c.bottom;
    }
}

// Hears a run as the dialog would: every report, one JSON Lines record each,
// and (when asked) a stop request as a file named f0.bmp starts.
class RecordingListener final : public RunListener {
  public:
    explicit RecordingListener(std::atomic<bool>* stopAfterFirst = nullptr)
        : m_stop(stopAfterFirst) {}
    void FileStarted(const Job& job) override {
        if (m_stop != nullptr && job.input.ends_with("f0.bmp")) {
            m_stop->store(true);
        }
    }
    void FileFinished(const FileReport& report) override {
        std::lock_guard lock(m_mutex);
        records += JsonRecord(report);
    }
    std::string records;

  private:
    std::atomic<bool>* m_stop;
    std::mutex m_mutex;
};

// Runs a dialog plan by either driver: sequentially (0 workers) or on workers.
RunOutcome RunBy(unsigned workers, const SequentialPlan& plan, RunListener& listener,
                 const std::atomic<bool>& stop) {
    return workers == 0 ? RunSequential(plan, listener, stop)
                        : RunOnWorkers(plan, workers, stop, listener);
}

// Makes every repair of a picture named "b.bmp" run out of memory while set.
class FailingRepairOfB {
  public:
    FailingRepairOfB() {
        SetRepairProbeForTesting([](const std::string& input) {
            if (FileNameFromPath(input) == "b.bmp") {
                throw std::bad_alloc();
            }
        });
    }
    ~FailingRepairOfB() { SetRepairProbeForTesting(nullptr); }
};

TEST(RunOutcome, AnAllocationFailureFailsItsFileAndTheRunGoesOn) {
    const FailingRepairOfB failing;
    for (const unsigned workers : {0u, 1u, 2u}) {
        TempDir dir;
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
            WriteStripedBmp(dir.File(name), 200, 100);
        }
        const SequentialPlan plan =
            PlanSequentialRun({dir.File("a.bmp"), dir.File("b.bmp"), dir.File("c.bmp")},
                              dir.File("out/"), BatchSettings{0, 1, 0, 0, 0});
        RecordingListener listener;
        const std::atomic<bool> stop{false};
        const RunOutcome outcome = RunBy(workers, plan, listener, stop);
        EXPECT_EQ(outcome.written, 2u) << workers;
        ASSERT_EQ(outcome.failures.size(), 1u) << workers;
        EXPECT_EQ(outcome.failures[0].reason, "out of memory");
        EXPECT_EQ(FailureSummary(outcome), "2 of 3 files were written.\nb.bmp: out of memory");
        // Only whole outputs, and the file after the failure repaired as usual.
        EXPECT_FALSE(test::FileExists(dir.File("out/b.bmp")));
        EXPECT_EQ(RowsOf(dir.File("out/c.bmp")), std::vector<uint32_t>(10, 150)) << workers;
        EXPECT_EQ(std::count(listener.records.begin(), listener.records.end(), '\n'), 3);
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir.File("out"))) {
            out.push_back(entry.path().filename());
        }
        std::sort(out.begin(), out.end());
        EXPECT_EQ(out, (std::vector<std::string>{"a.bmp", "c.bmp"})) << workers;
    }
}

TEST(RunOnWorkers, StopsStartingFilesOnceAskedAndListsFailuresInListOrder) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("bad.bmp"), test::Bytes(200, 'x')));
    std::vector<std::string> inputs = {dir.File("bad.bmp")};
    for (int i = 0; i < 8; ++i) {
        inputs.push_back(dir.File("f" + std::to_string(i) + ".bmp"));
        WriteStripedBmp(inputs.back(), 200, 100);
    }
    inputs.push_back(dir.File("gone.bmp"));  // turned down, so reported before the rest
    const SequentialPlan plan = PlanSequentialRun(inputs, dir.File("out/"), BatchSettings{});
    std::atomic<bool> stop{false};
    RecordingListener listener(&stop);
    const RunOutcome outcome = RunOnWorkers(plan, 1, stop, listener);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.written, 1u);  // the file in hand
    ASSERT_EQ(outcome.failures.size(), 2u);
    EXPECT_EQ(outcome.failures[0].input, dir.File("bad.bmp"));
    EXPECT_EQ(outcome.failures[1].input, dir.File("gone.bmp"));
    // What was written is whole, and nothing else is there.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("out"))) {
        EXPECT_EQ(RowsOf(entry.path()),
                  std::vector<uint32_t>({200, 100, 200, 100, 200, 100, 200, 100, 200, 100}))
            << entry.path();
        ++files;
    }
    EXPECT_EQ(files, outcome.written);
}

TEST(PlanSequentialRun, NamesOutputsByThePlannersRuleAndCountsSharedOutputs) {
    TempDir dir;
    for (const char* name : {"x/f.jpg", "y/f.jpg", "x/g.gif", "y/g.bmp", "x/h.bmp"}) {
        ASSERT_EQ(
            ::mkdir(dir.File(std::string(name).substr(0, 1)).c_str(), 0700) == 0 || errno == EEXIST,
            true);
        WriteStripedBmp(dir.File(name), 200, 100);
    }
    const std::vector<std::string> inputs = {dir.File("x/f.jpg"), dir.File("x/g.gif"),
                                             dir.File("y/f.jpg"), dir.File("y/g.bmp"),
                                             dir.File("x/h.bmp")};
    const struct {
        std::optional<OutputFormat> format;
        std::size_t shared;
        const char* output;  // of the first shared output
        const char* second;  // the input that writes it again
        const char* last;    // x/h.bmp's output
    } cases[] = {
        {std::nullopt, 1, "out/f.jpg", "y/f.jpg", "out/h.bmp"},
        {OutputFormat::Bmp, 2, "out/f.bmp", "y/f.jpg", "out/h.bmp"},
        {OutputFormat::Png, 2, "out/f.png", "y/f.jpg", "out/h.png"},
    };
    for (const auto& c : cases) {
        BatchSettings settings;
        settings.format = c.format;
        const SequentialPlan plan = PlanSequentialRun(inputs, dir.File("out/"), settings);
        const BatchPlan& batch = plan.batch;
        EXPECT_EQ(batch.shared.count, c.shared);
        EXPECT_EQ(batch.shared.output, dir.File(c.output));
        EXPECT_EQ(batch.shared.first, dir.File("x/f.jpg"));
        EXPECT_EQ(batch.shared.second, dir.File(c.second));
        EXPECT_EQ(batch.jobs[4].job.output, dir.File(c.last));
        EXPECT_EQ(plan.folderToCreate, dir.File("out/"));
        EXPECT_EQ(batch.replaced.count, 0u);
    }
    // Into the inputs' own folder, by a prefix: nothing replaced, nothing made.
    const SequentialPlan prefixed = PlanSequentialRun(inputs, dir.File("x/new-"), {});
    EXPECT_EQ(prefixed.batch.jobs[0].job.output, dir.File("x/new-f.jpg"));
    EXPECT_TRUE(prefixed.batch.folders.empty());
    EXPECT_EQ(prefixed.folderToCreate, "");
}

// Jobs whose outputs are other jobs' inputs read before they are replaced,
// however many workers run them; around a circle, in list order.
TEST(RunParallel, AReplacedInputIsReadFirstWhateverTheWorkers) {
    const struct {
        const char* what;
        std::vector<std::pair<const char*, const char*>> jobs;  // input, output
        std::vector<std::pair<const char*, uint32_t>> after;    // file, grey it holds
        std::vector<uint32_t> order;                            // of the one group
        uint32_t waiting;                                       // the job that waits, if any
    } cases[] = {
        {"a chain",
         {{"a.bmp", "b.bmp"}, {"b.bmp", "c.bmp"}},
         {{"b.bmp", 10}, {"c.bmp", 20}},
         {1, 0},
         kNoJob},
        {"a circle",
         {{"a.bmp", "b.bmp"}, {"b.bmp", "a.bmp"}},
         {{"b.bmp", 10}, {"a.bmp", 10}},
         {0, 1},
         1},
    };
    for (const auto& c : cases) {
        for (const unsigned workers : {1u, 2u, 4u}) {
            TempDir dir;
            WriteStripedBmp(dir.File("a.bmp"), 10, 10);
            WriteStripedBmp(dir.File("b.bmp"), 20, 20);
            std::vector<PlanInput> inputs;
            for (const auto& [input, output] : c.jobs) {
                inputs.push_back({dir.File(input), dir.File(output)});
            }
            PlanOptions options;
            options.overwriteInputs = true;
            options.namePrefix = true;
            const BatchPlan plan = MakePlan(inputs, options);
            ASSERT_EQ(plan.groupHeads.size(), 1u) << c.what;
            std::vector<uint32_t> order;
            for (uint32_t j = plan.groupHeads[0]; j != kNoJob; j = plan.jobs[j].nextInGroup) {
                order.push_back(j);
                EXPECT_EQ(plan.jobs[j].waitsForEarlier, j == c.waiting) << c.what << " " << j;
            }
            EXPECT_EQ(order, c.order) << c.what;
            RecordingListener listener;
            RunParallel(plan, BatchSettings{}, workers, std::atomic<bool>{false}, listener);
            for (const auto& [file, grey] : c.after) {
                EXPECT_EQ(RowsOf(dir.File(file)), std::vector<uint32_t>(10, grey))
                    << c.what << ", " << workers << " workers: " << file;
            }
        }
    }
}

}  // namespace
}  // namespace tessary
