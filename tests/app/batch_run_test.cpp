#include "app/batch_run.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "image/image_surface.h"
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
    void FileDone(const FileReport& report) override {
        calls.push_back("FileDone");
        reports.push_back(report);
    }

    std::vector<std::string> calls;
    std::vector<FileReport> reports;

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

TEST(IsBmpOutputName, LooksOnlyAtTheLastThreeCharactersInAnyCase) {
    const struct {
        const char* name;
        bool bmp;
    } cases[] = {
        {"E:\\out\\a.BMP", true},
        {"a.bmp", true},
        {"a.bMp", true},
        {"abmp", true},
        {"bmp", true},
        {"mp", false},
        {"", false},
        {"a.jpg", false},
        {"a.bmp.jpg", false},
        {"a.bmpx", false},
        {"a.gif", false},
        {"a.dib", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsBmpOutputName(c.name), c.bmp) << c.name;
    }
}

TEST(RunBatch, CallsTheSinkInOrderWithStatusAndPosition) {
    TempDir dir;
    const std::string out = dir.Path() + "/";
    const std::vector<std::string> inputs = {dir.File("in/a.bmp"), dir.File("in/b.bmp")};
    RecordingSink sink;
    EXPECT_FALSE(RunBatch(inputs, out, BatchSettings{}, sink));
    const std::vector<std::string> expected = {
        "SetRange 0 2",
        "Create",
        "SetStatus " + inputs[0] + " --> " + out + "a.bmp",
        "SetPos 0",
        "FileDone",
        "PollCancel",
        "SetStatus " + inputs[1] + " --> " + out + "b.bmp",
        "SetPos 1",
        "FileDone",
        "PollCancel",
        "Destroy",
    };
    EXPECT_EQ(sink.calls, expected);
}

TEST(RunBatch, EmptyListOnlyOpensAndClosesTheWindow) {
    RecordingSink sink;
    EXPECT_FALSE(RunBatch({}, "/nonexistent/", BatchSettings{}, sink));
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"SetRange 0 0", "Create", "Destroy"}));
}

TEST(RunBatch, CancelFinishesTheFileInHandAndStartsNoOther) {
    for (int k = 0; k < 3; ++k) {
        TempDir dir;
        std::vector<std::string> inputs;
        for (const char* name : {"0.bmp", "1.bmp", "2.bmp"}) {
            inputs.push_back(dir.File(std::string("missing/") + name));
        }
        RecordingSink sink(k);
        EXPECT_TRUE(RunBatch(inputs, dir.Path() + "/", BatchSettings{}, sink));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(test::FileExists(dir.File(std::to_string(i) + ".bmp")), i <= k)
                << "cancel during file " << k << ", file " << i;
        }
        // Cancelling during the last file still shows the message, before the window goes.
        ASSERT_GE(sink.calls.size(), 2u);
        EXPECT_EQ(sink.calls[sink.calls.size() - 2], std::string("ShowMessage ") + kCancelMessage);
        EXPECT_EQ(sink.calls.back(), "Destroy");
        EXPECT_EQ(sink.reports.size(), static_cast<size_t>(k + 1));
    }
}

TEST(RunBatch, GoesOnWhenTheWindowCannotBeCreated) {
    TempDir dir;
    RecordingSink sink(-1, false);
    RunBatch({dir.File("x/a.bmp"), dir.File("x/b.bmp")}, dir.Path() + "/", BatchSettings{}, sink);
    EXPECT_TRUE(test::FileExists(dir.File("a.bmp")));
    EXPECT_TRUE(test::FileExists(dir.File("b.bmp")));
}

TEST(RunBatch, LaterFileWithTheSameNameWinsAndRepeatsAreProcessedAgain) {
    TempDir dir;
    WriteStripedBmp(dir.File("f.bmp"), 200, 200);
    ASSERT_EQ(::mkdir(dir.File("second").c_str(), 0700), 0);
    WriteStripedBmp(dir.File("second/f.bmp"), 40, 40);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    const std::string out = dir.File("out") + "/";
    RecordingSink sink;
    RunBatch({dir.File("f.bmp"), dir.File("f.bmp"), dir.File("second/f.bmp")}, out, BatchSettings{},
             sink);
    ASSERT_EQ(sink.reports.size(), 3u);
    EXPECT_EQ(sink.reports[0].output, sink.reports[1].output);
    EXPECT_EQ(RowsOf(out + "f.bmp"), std::vector<uint32_t>(10, 40));
}

TEST(RunBatch, OutputLocationIsAPlainPrefixOfTheName) {
    TempDir dir;
    WriteStripedBmp(dir.File("a.BMP"), 10, 10);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    for (const char* location : {"out", "out/"}) {
        RecordingSink sink;
        RunBatch({dir.File("a.BMP")}, dir.File(location), BatchSettings{}, sink);
    }
    EXPECT_EQ(Head(dir.File("outa.BMP"), 2), "BM");
    EXPECT_EQ(Head(dir.File("out/a.BMP"), 2), "BM");
}

TEST(RunBatch, WritesBmpOnlyForBmpNamesAndJpegOtherwise) {
    TempDir dir;
    const struct {
        const char* name;
        const char* magic;
    } cases[] = {{"a.BMP", "BM"},
                 {"b.jpeg", "\xFF\xD8\xFF"},
                 {"c.gif", "\xFF\xD8\xFF"},
                 {"d", "\xFF\xD8\xFF"},
                 {"e.xbmp", "BM"}};
    ASSERT_EQ(::mkdir(dir.File("in").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    std::vector<std::string> inputs;
    for (const auto& c : cases) {
        inputs.push_back(dir.File(std::string("in/") + c.name));
        WriteStripedBmp(inputs.back(), 90, 90);  // content decides the reader, not the name
    }
    RecordingSink sink;
    RunBatch(inputs, dir.File("out/"), BatchSettings{}, sink);
    for (const auto& c : cases) {
        const std::string magic = c.magic;
        EXPECT_EQ(Head(dir.File(std::string("out/") + c.name), magic.size()), magic) << c.name;
    }
    for (const FileReport& report : sink.reports) {
        EXPECT_EQ(report.load.source, LoadSource::Bmp);
        EXPECT_TRUE(report.repairable);
        EXPECT_TRUE(report.saveAttempted && report.save.written) << report.output;
    }
}

TEST(RunBatch, MissingBmpGivesTheBlackPlaceholderAndTextGivesNothing) {
    TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("notes.bmp"), test::Bytes(200, 'x')));
    ASSERT_EQ(::mkdir(dir.File("out").c_str(), 0700), 0);
    RecordingSink sink;
    RunBatch({dir.File("gone.bmp"), dir.File("notes.bmp")}, dir.File("out/"), BatchSettings{},
             sink);
    const test::Bytes placeholder = test::ReadBytes(dir.File("out/gone.bmp"));
    ASSERT_GE(placeholder.size(), 54u);
    EXPECT_EQ(placeholder[18], 10);  // width
    EXPECT_EQ(placeholder[22], 10);  // height
    EXPECT_EQ(placeholder[28], 8);   // bits per pixel
    EXPECT_EQ(RowsOf(dir.File("out/gone.bmp")), std::vector<uint32_t>(10, 0));
    EXPECT_FALSE(test::FileExists(dir.File("out/notes.bmp")));

    ASSERT_EQ(sink.reports.size(), 2u);
    EXPECT_EQ(sink.reports[0].load.source, LoadSource::MissingFile);
    EXPECT_FALSE(sink.reports[0].repairable);
    EXPECT_EQ(sink.reports[1].load.source, LoadSource::None);
    EXPECT_FALSE(sink.reports[1].saveAttempted);
}

TEST(ProcessFile, SkipsTheMissingFilePlaceholderWhenAsked) {
    TempDir dir;
    CImageSurface surface;
    const FileReport report = ProcessFile(surface, dir.File("gone.bmp"), dir.File("out.bmp"),
                                          BatchSettings{}, MissingInput::Skip);
    EXPECT_EQ(report.load.source, LoadSource::MissingFile);
    EXPECT_FALSE(report.saveAttempted);
    EXPECT_TRUE(dir.List().empty());
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

}  // namespace
}  // namespace tessary
