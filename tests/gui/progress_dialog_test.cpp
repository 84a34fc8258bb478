#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/progress_dialog.h"
#include "tests/gui/gui_test_support.h"

namespace tessary {
namespace {

using test::Control;

TEST(PercentText, ShareOfTheRange) {
    struct Case {
        int32_t position, lower, upper;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, 3, "0%"},
        {1, 0, 3, "33%"},
        {2, 0, 3, "66%"},
        {100, 0, 100, "100%"},
        {150, 0, 100, "50%"},  // past the end: the remainder, not a clamp
        {200, 0, 100, "0%"},
        {-50, 0, 100, "-50%"},  // the remainder keeps the sign
        {15, 10, 20, "50%"},
        {5, 5, 5, "0%"},  // an empty range has no share and must not divide by zero
        {INT32_MAX, INT32_MIN, INT32_MAX, "100%"},  // no product wraps
        {0, INT32_MIN, INT32_MAX, "50%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PercentText(c.position, c.lower, c.upper), c.text)
            << c.position << " of " << c.lower << ".." << c.upper;
    }
}

class ProgressDialogTest : public testing::Test {
  protected:
    void SetUp() override { parent.show(); }
    QWidget parent;
};

TEST_F(ProgressDialogTest, CreateDisablesParentAndSetsUpFromStoredRange) {
    CProgressDialog progress(&parent);
    progress.SetRange(0, 3);  // before the window exists
    ASSERT_TRUE(progress.Create());
    EXPECT_FALSE(parent.isEnabled());
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(progress.windowTitle(), "Rendering");
    auto* bar = Control<QProgressBar>(&progress, 1003);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 3);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(Control<QLabel>(&progress, 1004)->text(), " 0 %");

    progress.SetStatus("/in/a.jpg --> /out/a.jpg");
    EXPECT_EQ(Control<QLabel>(&progress, 1005)->text(), "/in/a.jpg --> /out/a.jpg");
    QStringList labels;
    for (int pos : {0, 1, 2}) {
        EXPECT_EQ(progress.SetPosition(pos), pos == 0 ? 0 : pos - 1);
        labels << Control<QLabel>(&progress, 1004)->text();
    }
    EXPECT_EQ(labels, QStringList({"0%", "33%", "66%"}));

    progress.Destroy();
    EXPECT_TRUE(parent.isEnabled());
    EXPECT_FALSE(progress.isVisible());
}

TEST_F(ProgressDialogTest, CaptionIdAndOtherStrings) {
    CProgressDialog progress(&parent, 101);
    progress.Create();
    EXPECT_EQ(progress.windowTitle(), "&About Tessary...");
}

// Watches the parent's enabled state change while noting whether the window is still up.
class EnableWatcher : public QObject {
  public:
    EnableWatcher(QWidget* watched, const QWidget* window) : m_window(window) {
        watched->installEventFilter(this);
    }
    bool enabledWhileWindowUp = false;
    bool enabledAfterWindowGone = false;

  protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(object)->isEnabled()) {
            (m_window->isVisible() ? enabledWhileWindowUp : enabledAfterWindowGone) = true;
        }
        return false;
    }

  private:
    const QWidget* m_window;
};

TEST_F(ProgressDialogTest, ParentIsEnabledBeforeTheWindowGoes) {
    CProgressDialog progress(&parent);
    progress.Create();
    EnableWatcher watcher(&parent, &progress);
    progress.Destroy();
    EXPECT_TRUE(watcher.enabledWhileWindowUp);
    EXPECT_FALSE(watcher.enabledAfterWindowGone);
}

TEST_F(ProgressDialogTest, AParentDisabledBeforehandStaysDisabled) {
    parent.setEnabled(false);
    {
        CProgressDialog progress(&parent);
        progress.Create();
        progress.Destroy();
    }
    EXPECT_FALSE(parent.isEnabled());
}

TEST_F(ProgressDialogTest, DestructionAloneEnablesTheParent) {
    {
        CProgressDialog progress(&parent);
        progress.Create();
    }
    EXPECT_TRUE(parent.isEnabled());
}

TEST_F(ProgressDialogTest, EveryWayOfCancellingRecordsOneRequestAndKeepsTheWindow) {
    CProgressDialog progress(&parent);
    progress.Create();
    auto* cancel = Control<QPushButton>(&progress, 2);
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"button", [&] { test::Click(cancel); }},
        {"escape", [&] { QTest::keyClick(&progress, Qt::Key_Escape); }},
        {"enter", [&] { QTest::keyClick(&progress, Qt::Key_Return); }},
        {"close box", [&] { progress.close(); }},
    };
    for (const auto& [name, press] : ways) {
        SCOPED_TRACE(name);
        press();
        EXPECT_TRUE(progress.isVisible());
        EXPECT_EQ(progress.PollCancel(), 1);
        EXPECT_EQ(progress.PollCancel(), 0);
    }
    // Two presses before a poll are one request; moving the bar does not take it.
    test::Click(cancel);
    test::Click(cancel);
    progress.SetPos(1);
    EXPECT_EQ(progress.PollCancel(), 1);
    EXPECT_EQ(progress.PollCancel(), 0);
}

TEST_F(ProgressDialogTest, SetPosAndPollDispatchWhatIsWaiting) {
    CProgressDialog progress(&parent);
    progress.Create();
    int delivered = 0;
    QTimer::singleShot(0, &progress, [&] { ++delivered; });
    progress.SetPos(0);
    EXPECT_EQ(delivered, 1);
    QMetaObject::invokeMethod(
        &progress, [&] { ++delivered; }, Qt::QueuedConnection);
    EXPECT_EQ(progress.PollCancel(), 0);
    EXPECT_EQ(delivered, 2);
    // A click waiting in the queue when the poll starts is seen by that poll.
    QMetaObject::invokeMethod(Control<QPushButton>(&progress, 2), &QPushButton::click,
                              Qt::QueuedConnection);
    EXPECT_EQ(progress.PollCancel(), 1);
}

}  // namespace
}  // namespace tessary
