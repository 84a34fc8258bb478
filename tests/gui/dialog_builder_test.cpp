#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <algorithm>

#include "app/dialog_builder.h"
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

// Every line of a template becomes a widget of its kind at its converted place.
void ExpectBuiltAsLaidOut(int templateId) {
    const DialogTemplate& layout = *FindDialogTemplate(templateId);
    QDialog dialog;
    BuildDialog(dialog, layout);
    const DialogBaseUnits units = BaseUnitsFor(dialog.font());
    const QList<QWidget*> widgets = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(widgets.size(), static_cast<qsizetype>(layout.controls.size()));
    for (const ControlTemplate& c : layout.controls) {
        SCOPED_TRACE(c.text);
        const QRect expected = DialogUnitsToPixels(units, c.x, c.y, c.width, c.height);
        const auto match = std::find_if(widgets.begin(), widgets.end(),
                                        [&](QWidget* w) { return w->geometry() == expected; });
        ASSERT_NE(match, widgets.end());
        if (c.id != kNoControlId) {
            EXPECT_EQ(FindControl(&dialog, c.id), *match);
        }
        const QString text = QString::fromUtf8(c.text);
        if (auto* b = qobject_cast<QAbstractButton*>(*match)) {
            EXPECT_EQ(b->text(), text);
        } else if (auto* l = qobject_cast<QLabel*>(*match); l && l->pixmap().isNull()) {
            EXPECT_EQ(l->text(), text);
        }
    }
}

TEST(DialogTemplates, MainDialogHasEveryControlInPlace) {
    ExpectBuiltAsLaidOut(kMainDialogId);
    QDialog dialog;
    BuildDialog(dialog, *FindDialogTemplate(kMainDialogId));
    const DialogBaseUnits units = BaseUnitsFor(dialog.font());
    EXPECT_EQ(dialog.windowTitle(), "Tessary");
    EXPECT_EQ(dialog.size(), DialogUnitsToPixels(units, 0, 0, 257, 199).size());
    EXPECT_EQ(dialog.font().pointSize(), 8);

    EXPECT_TRUE(FindControlAs<DigitsOnlyEdit>(&dialog, 1005));
    EXPECT_TRUE(FindControlAs<DigitsOnlyEdit>(&dialog, 1006));
    EXPECT_FALSE(FindControlAs<DigitsOnlyEdit>(&dialog, 1010));
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
    ExpectBuiltAsLaidOut(kProgressDialogId);
    ExpectBuiltAsLaidOut(kAboutDialogId);
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
