#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/main_dialog.h"
#include "app/progress_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Click;
using test::Control;

CProgressDialog* VisibleProgressWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* p = qobject_cast<CProgressDialog*>(w); p && p->isVisible()) {
            return p;
        }
    }
    return nullptr;
}

// What the progress window showed each time the run let events through.
struct Observed {
    QStringList captions, statuses, percents;
    bool mainEnabledDuringRun = true;
};

class ProcessTest : public testing::Test {
  protected:
    void SetUp() override {
        dialog.show();
        for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
            const std::string path = inDir.File(name);
            ASSERT_TRUE(test::WriteSolidBmp(path, 4, 4, 200, 100, 50));
            inputs << QString::fromStdString(path);
        }
        fake.openAnswers.push_back(inputs);
        Click(Control<QPushButton>(&dialog, 1001));
        fake.folderAnswers.push_back(QString::fromStdString(outDir.Path()));
        Click(Control<QPushButton>(&dialog, 1011));
        ASSERT_TRUE(Control<QPushButton>(&dialog, 1008)->isEnabled());
        // One worker, and each file held until the window has shown it: every step is seen.
        dialog.m_nRunWorkers = 1;
        SetFileStartedHook([this](const Job& job, const std::atomic<bool>& stop) {
            const int index = int(inputs.indexOf(QString::fromStdString(job.input)));
            for (int waited = 0; waited < 5000 && shownFiles.load() <= index && !stop.load();
                 ++waited) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void TearDown() override { SetFileStartedHook(nullptr); }

    // Watches the window from a timer, which fires only while the run pumps events;
    // presses Cancel once the window shows the file at cancelAt.
    void Watch(int cancelAt) {
        auto* timer = new QTimer(&dialog);
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, [this, cancelAt] {
            CProgressDialog* p = VisibleProgressWindow();
            if (!p) {
                return;
            }
            const int shown = shownFiles.load();
            const bool showsNext =
                shown < inputs.size() &&
                Control<QLabel>(p, 1005)->text().startsWith(inputs[shown] + " --> ");
            seen.mainEnabledDuringRun = seen.mainEnabledDuringRun && dialog.isEnabled();
            seen.captions << p->windowTitle();
            const QString status = Control<QLabel>(p, 1005)->text();
            if (seen.statuses.isEmpty() || seen.statuses.back() != status) {
                seen.statuses << status;
            }
            const QString percent = Control<QLabel>(p, 1004)->text();
            if (seen.percents.isEmpty() || seen.percents.back() != percent) {
                seen.percents << percent;
            }
            if (showsNext && shown == cancelAt && !cancelled) {
                cancelled = true;
                Click(Control<QPushButton>(p, 2));
            } else if (showsNext && shown != cancelAt) {
                shownFiles.store(shown + 1);
            }
        });
        timer->start();
    }

    test::TempDir inDir, outDir;
    QStringList inputs;
    test::FakeUi fake;
    CMainDialog dialog;
    Observed seen;
    bool cancelled = false;
    std::atomic<int> shownFiles{0};
};

TEST_F(ProcessTest, WholeRunWritesEveryFileIntoTheChosenFolder) {
    Watch(-1);
    Click(Control<QPushButton>(&dialog, 1008));
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_EQ(outDir.List(), (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp"}));
    EXPECT_TRUE(dialog.isEnabled());
    EXPECT_EQ(VisibleProgressWindow(), nullptr);
    EXPECT_FALSE(seen.mainEnabledDuringRun);
    ASSERT_FALSE(seen.captions.isEmpty());
    EXPECT_EQ(seen.captions.front(), "Rendering");
    EXPECT_EQ(seen.percents, QStringList({" 0 %", "0%", "33%", "66%"}));
    ASSERT_EQ(seen.statuses.size(), 4);  // empty before the first file
    EXPECT_EQ(seen.statuses[2], inputs[1] + " --> " + QString::fromStdString(outDir.File("b.bmp")));
}

TEST_F(ProcessTest, CancelDuringTheSecondFileFinishesItAndStops) {
    bool enabledAtMessage = true;
    bool progressUpAtMessage = false;
    bool ownedByProgress = false;
    fake.onMessage = [&](const QString&) {
        enabledAtMessage = dialog.isEnabled();
        progressUpAtMessage = VisibleProgressWindow() != nullptr;
        ownedByProgress =
            progressUpAtMessage && fake.messages.back().parent == VisibleProgressWindow();
    };
    Watch(1);
    Click(Control<QPushButton>(&dialog, 1008));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(fake.MessageTexts(), QStringList({"Rendering canceled"}));
    EXPECT_FALSE(enabledAtMessage);
    EXPECT_TRUE(progressUpAtMessage);
    EXPECT_TRUE(ownedByProgress) << "the disabled main dialog could not take the box's input";
    EXPECT_EQ(outDir.List(), (std::vector<std::string>{"a.bmp", "b.bmp"}));
    EXPECT_TRUE(dialog.isEnabled());
    EXPECT_EQ(Control<QLabel>(&dialog, CMainDialog::kRunLineId)->text(),
              "2 of 3 files written to " + QString::fromStdString(outDir.Path()) + "/");
}

TEST_F(ProcessTest, TheRunUsesTheFieldsAsThisClickReadsThem) {
    Control<QAbstractButton>(&dialog, 1003)->setChecked(true);
    Click(Control<QPushButton>(&dialog, 1008));
    EXPECT_EQ(dialog.m_bInterlace, 1);
    EXPECT_EQ(outDir.List().size(), 3u);
}

TEST_F(ProcessTest, ABadRowCountStopsTheRunBeforeAnythingIsWritten) {
    const struct {
        int field;
        const char* text;
        const char* message;
    } cases[] = {
        {1005, "999", "Please enter an integer between 0 and 480."},
        {1006, "-1", "Please enter an integer between 0 and 480."},
        {1005, "x", "Please enter an integer."},
    };
    Click(Control<QAbstractButton>(&dialog, 1004));  // the fields take the focus only when on
    Watch(-1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        fake.messages.clear();
        FindControlAs<QLineEdit>(&dialog, c.field)->setText(c.text);
        Control<QPushButton>(&dialog, 1008)->setFocus();
        Click(Control<QPushButton>(&dialog, 1008));
        EXPECT_EQ(fake.MessageTexts(), QStringList({c.message}));
        EXPECT_EQ(dialog.focusWidget(), FindControl(&dialog, c.field));
        EXPECT_TRUE(seen.captions.isEmpty()) << "no progress window";
        EXPECT_TRUE(outDir.List().empty());
        FindControlAs<QLineEdit>(&dialog, c.field)->setText("0");
    }
}

TEST_F(ProcessTest, AfterACancelTheSummaryFollows) {
    ASSERT_EQ(std::remove(inputs[1].toLocal8Bit().constData()), 0);
    Watch(0);
    Click(Control<QPushButton>(&dialog, 1008));
    EXPECT_EQ(fake.MessageTexts(),
              QStringList({"Rendering canceled",
                           "1 of 3 files were written.\nb.bmp: No such file or directory"}));
    EXPECT_EQ(fake.messages.back().parent, &dialog);
    EXPECT_EQ(outDir.List(), std::vector<std::string>{"a.bmp"}) << "nothing for the missing file";
}

// A fresh dialog with the paths listed and the location typed, then Process.
void RunProcess(test::FakeUi& fake, const QStringList& paths, const QString& location,
                const BatchSettings& settings = {}) {
    fake.messages.clear();
    fake.questions.clear();
    CMainDialog dialog;
    dialog.SetSettings(settings);
    dialog.m_strOutputFolder = location;
    dialog.AppendInputs(paths);
    dialog.show();
    Click(Control<QPushButton>(&dialog, 1008));
}

QString PathIn(const test::TempDir& dir, const std::string& name) {
    return QString::fromStdString(dir.File(name));
}

TEST(ProcessMends, OriginalsAreReplacedOnlyWithConsent) {
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        test::TempDir dir;
        // BMP data under JPEG names: a replaced original turns into JPEG data.
        for (const char* name : {"a.jpg", "b.jpg"}) {
            ASSERT_TRUE(test::WriteSolidBmp(dir.File(name), 4, 4, 10, 20, 30));
        }
        const test::Bytes before = test::ReadBytes(dir.File("a.jpg"));
        test::FakeUi fake;
        fake.yesNoAnswers.push_back(yes);
        RunProcess(fake, {PathIn(dir, "a.jpg"), PathIn(dir, "b.jpg"), PathIn(dir, "a.jpg")},
                   QString::fromStdString(dir.Path()));
        ASSERT_EQ(fake.questions.size(), 1u);
        EXPECT_EQ(fake.questions[0].text,
                  "2 originals would be replaced by their repaired pictures, the first of them:\n" +
                      PathIn(dir, "a.jpg") + "\n\nReplace them?");
        EXPECT_TRUE(fake.messages.empty());
        EXPECT_EQ(test::ReadBytes(dir.File("a.jpg")) == before, !yes);
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    }
    EXPECT_EQ(ReplaceQuestion({1, "/p/x.bmp"}),
              "1 original would be replaced by its repaired picture:\n/p/x.bmp\n\nReplace it?");
}

TEST(ProcessMends, ATypedFolderIsAFolderAndANewOneIsMade) {
    test::TempDir in, out;
    ASSERT_TRUE(test::WriteSolidBmp(in.File("a.bmp"), 4, 4, 10, 20, 30));
    ASSERT_TRUE(test::WriteBytes(out.File("file"), {1}));
    const QString base = QString::fromStdString(out.Path());
    struct Case {
        QString location;
        std::string written;  // relative to out; "" for nothing
        QString message;
    };
    const Case cases[] = {
        {base, "a.bmp", {}},
        {base + "/new/deeper/", "new/deeper/a.bmp", {}},
        {base + "/pre-", "pre-a.bmp", {}},  // a name prefix stays one
        {base + "/file/sub/", "",
         "0 of 1 file was written.\n" + base +
             "/file/sub/: cannot create the output folder: Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location.toStdString());
        test::FakeUi fake;
        RunProcess(fake, {PathIn(in, "a.bmp")}, c.location);
        EXPECT_EQ(fake.MessageTexts(),
                  c.message.isEmpty() ? QStringList() : QStringList{c.message});
        if (!c.written.empty()) {
            EXPECT_TRUE(test::FileExists(out.File(c.written)));
        }
    }
    EXPECT_EQ(out.List(), (std::vector<std::string>{"a.bmp", "file", "new", "pre-a.bmp"}));
}

TEST(ProcessMends, FailuresAreSummedUpOnceAndMissingFilesWriteNothing) {
    test::TempDir in, out;
    ASSERT_TRUE(test::WriteSolidBmp(in.File("good.bmp"), 4, 4, 10, 20, 30));
    ASSERT_TRUE(test::WriteBytes(in.File("text.jpg"), {'h', 'i'}));
    test::FakeUi fake;
    RunProcess(fake, {PathIn(in, "missing.bmp"), PathIn(in, "good.bmp"), PathIn(in, "text.jpg")},
               QString::fromStdString(out.Path()) + "/");
    EXPECT_EQ(fake.MessageTexts(),
              QStringList({"1 of 3 files were written.\n"
                           "missing.bmp: No such file or directory\n"
                           "text.jpg: not a JPEG, GIF, BMP, PNG or TIFF image"}));
    EXPECT_EQ(out.List(), std::vector<std::string>{"good.bmp"});
}

TEST(ProcessMends, APalettedPictureIsWidenedSoTheRepairsReachIt) {
    test::TempDir in, out;
    ASSERT_TRUE(test::WriteBytes(in.File("grey.bmp"), test::BmpBuilder(2, 2, 8)
                                                          .GreyPalette(256)
                                                          .Pixels8([](int32_t, int32_t y) {
                                                              return uint8_t(y == 0 ? 0 : 200);
                                                          })
                                                          .Build()));
    BatchSettings deinterlace;
    deinterlace.m_bInterlace = 1;
    test::FakeUi fake;
    RunProcess(fake, {PathIn(in, "grey.bmp")}, QString::fromStdString(out.Path()) + "/",
               deinterlace);
    const test::Bytes written = test::ReadBytes(out.File("grey.bmp"));
    ASSERT_GT(written.size(), 60u);
    EXPECT_EQ(written[28], 24) << "bits per pixel";
    const uint32_t pixels = written[10] | written[11] << 8;
    EXPECT_EQ(written[pixels], 100) << "the two rows averaged";
    EXPECT_TRUE(fake.messages.empty());
}

}  // namespace
}  // namespace tessary
