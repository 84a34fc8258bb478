#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <span>

#include "app/dialog_builder.h"
#include "app/resources/string_table.h"
#include "tests/gui/gui_test_support.h"

namespace tessary {
namespace {

TEST(DialogUnits, ConvertEachEdgeWithTheFontMetrics) {
    // The classic 8-point metrics: 6 pixels per 4 units across, 13 per 8 down.
    const DialogBaseUnits classic{6, 13};
    EXPECT_EQ(DialogUnitsToPixels(classic, 0, 0, 257, 199), QRect(0, 0, 386, 323));
    EXPECT_EQ(DialogUnitsToPixels(classic, 195, 5, 50, 14), QRect(293, 8, 75, 23));
    // Edges are rounded on their own, so a control ending where the next begins still meets it.
    const QRect left = DialogUnitsToPixels(classic, 10, 15, 1, 1);
    const QRect right = DialogUnitsToPixels(classic, 11, 16, 1, 1);
    EXPECT_EQ(left.right() + 1, right.left());
    EXPECT_EQ(left.bottom() + 1, right.top());
}

TEST(DialogUnits, BaseUnitsFollowTheFont) {
    QFont small = DialogFont(8);
    QFont large = DialogFont(16);
    const DialogBaseUnits a = BaseUnitsFor(small);
    const DialogBaseUnits b = BaseUnitsFor(large);
    EXPECT_GT(a.avgCharWidth, 2);
    EXPECT_GT(a.charHeight, 6);
    EXPECT_GT(b.avgCharWidth, a.avgCharWidth);
    EXPECT_GT(b.charHeight, a.charHeight);
}

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    int x, y, width, height;
};

// Every control with an id, as each dialog must show it.
const ExpectedControl kMainExpected[] = {
    {1, "QPushButton", "Close", 195, 5, 50, 14},
    {2, "QPushButton", "Cancel", 195, 21, 50, 14},
    {1000, "QListWidget", "", 10, 15, 120, 160},
    {1001, "QPushButton", "Add", 10, 180, 50, 14},
    {1002, "QPushButton", "Remove", 80, 180, 50, 14},
    {1003, "QCheckBox", "Deinterlace", 135, 40, 52, 10},
    {1004, "QCheckBox", "Clip", 135, 55, 27, 10},
    {1005, "tessary::DigitsOnlyEdit", "", 206, 60, 40, 12},
    {1006, "tessary::DigitsOnlyEdit", "", 206, 76, 40, 12},
    {1007, "QCheckBox", "Soften Horizontal Borders", 135, 100, 96, 10},
    {1008, "QPushButton", "Process", 200, 180, 50, 14},
    {1010, "QLineEdit", "", 134, 160, 105, 12},
    {1011, "QPushButton", "...", 240, 160, 10, 13},
};

const ExpectedControl kProgressExpected[] = {
    {2, "QPushButton", "Cancel", 67, 77, 50, 14},
    {1003, "QProgressBar", "", 15, 58, 154, 13},
    {1004, "QLabel", " 0 %", 85, 47, 18, 8},
    {1005, "QLabel", "", 13, 7, 158, 34},
};

QString TextOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        return b->text();
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
        return l->text();
    }
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        return e->text();
    }
    return {};
}

void ExpectControls(int templateId, std::span<const ExpectedControl> expected) {
    QDialog dialog;
    BuildDialog(dialog, *FindDialogTemplate(templateId));
    const DialogBaseUnits units = BaseUnitsFor(dialog.font());
    for (const ExpectedControl& e : expected) {
        SCOPED_TRACE(e.id);
        QWidget* w = FindControl(&dialog, e.id);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), e.className);
        EXPECT_EQ(TextOf(w), QString::fromUtf8(e.text));
        EXPECT_EQ(w->geometry(), DialogUnitsToPixels(units, e.x, e.y, e.width, e.height));
    }
}

TEST(DialogTemplates, MainDialogHasEveryControlInPlace) {
    ExpectControls(kMainDialogId, kMainExpected);
    QDialog dialog;
    BuildDialog(dialog, *FindDialogTemplate(kMainDialogId));
    const DialogBaseUnits units = BaseUnitsFor(dialog.font());
    EXPECT_EQ(dialog.windowTitle(), "Tessary");
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels(units, 0, 0, 257, 199).size());
    EXPECT_EQ(dialog.font().pointSize(), 8);

    auto* list = FindControlAs<QListWidget>(&dialog, 1000);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(list->isSortingEnabled());
    EXPECT_TRUE(FindControlAs<QLineEdit>(&dialog, 1005)->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(FindControlAs<QLineEdit>(&dialog, 1010)->alignment() & Qt::AlignLeft);
    EXPECT_TRUE(FindControl(&dialog, 2)->isHidden());

    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        labels << label->text();
    }
    EXPECT_EQ(labels, QStringList({"Input Images:", "Top:", "Bottom:", "Output Location:"}));
    // The frame lies under the fields it surrounds, so clicks reach them.
    QWidget* top = FindControl(&dialog, 1005);
    EXPECT_EQ(dialog.childAt(top->geometry().center()), top);
    EXPECT_EQ(dialog.findChildren<QGroupBox*>().size(), 1);
}

TEST(DialogTemplates, ProgressAndAboutWindows) {
    ExpectControls(kProgressDialogId, kProgressExpected);
    QDialog progress;
    BuildDialog(progress, *FindDialogTemplate(kProgressDialogId));
    EXPECT_TRUE(FindControlAs<QPushButton>(&progress, 2)->isDefault());
    EXPECT_TRUE(FindControlAs<QLabel>(&progress, 1005)->wordWrap());

    QDialog about;
    BuildDialog(about, *FindDialogTemplate(kAboutDialogId));
    EXPECT_EQ(about.windowTitle(), "About Tessary");
    EXPECT_TRUE(FindControlAs<QPushButton>(&about, 1)->isDefault());
    QStringList texts;
    bool hasIcon = false;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        texts << label->text();
        hasIcon = hasIcon || !label->pixmap().isNull();
    }
    EXPECT_TRUE(hasIcon);
    EXPECT_TRUE(texts.contains("Tessary Version 1.0"));
    EXPECT_TRUE(texts.join('\n').contains(
        "This software is based in part on the work of the Independent JPEG Group."));
    EXPECT_EQ(FindDialogTemplate(101), nullptr);
}

TEST(DialogTemplates, StringTable) {
    EXPECT_EQ(LoadResourceString(101), "&About Tessary...");
    EXPECT_EQ(LoadResourceString(104), "Rendering");
    EXPECT_TRUE(LoadResourceString(999).isEmpty());
}

TEST(DialogTemplates, StatusTextIsNeverMarkup) {
    QDialog progress;
    BuildDialog(progress, *FindDialogTemplate(kProgressDialogId));
    EXPECT_EQ(FindControlAs<QLabel>(&progress, 1005)->textFormat(), Qt::PlainText);
}

TEST(DigitsOnlyEdit, TypingTakesDigitsButPastedTextStays) {
    DigitsOnlyEdit edit;
    QTest::keyClicks(&edit, "1a-2 +3");
    EXPECT_EQ(edit.text(), "123");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "12");
    edit.setText(" -7x");  // as a paste would leave it; reading the field rejects it later
    EXPECT_EQ(edit.text(), " -7x");
}

}  // namespace
}  // namespace tessary
