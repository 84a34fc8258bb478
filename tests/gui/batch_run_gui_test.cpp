#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/main_dialog.h"
#include "app/progress_dialog.h"
#include "tests/gui/gui_test_support.h"
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
    }

    // Watches the window from a timer, which fires only while the run pumps events;
    // presses Cancel once the bar stands at cancelAt.
    void Watch(int cancelAt) {
        auto* timer = new QTimer(&dialog);
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, [this, cancelAt] {
            CProgressDialog* p = VisibleProgressWindow();
            if (!p) {
                return;
            }
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
            if (Control<QProgressBar>(p, 1003)->value() == cancelAt && !cancelled) {
                cancelled = true;
                Click(Control<QPushButton>(p, 2));
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
    ASSERT_EQ(seen.statuses.size(), 3);
    EXPECT_EQ(seen.statuses[1], inputs[1] + " --> " + QString::fromStdString(outDir.File("b.bmp")));
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

}  // namespace
}  // namespace tessary
