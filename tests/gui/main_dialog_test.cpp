#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/main_dialog.h"
#include "tests/gui/gui_test_support.h"

namespace tessary {
namespace {

using test::Click;
using test::Control;
using test::TypeInto;

TEST(ParseFieldInteger, AcceptsOnlyBlanksSignAndDigits) {
    struct Case {
        QString text;
        bool valid;
        int32_t value;
    };
    const Case cases[] = {
        {"12", true, 12},
        {" \t+12\t ", true, 12},
        {"-5", true, -5},
        {"0", true, 0},
        {"  00 ", true, 0},
        {"480", true, 480},
        {"+0", false, 0},  // zero counts only when written with a leading "0"
        {"-0", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"12a", false, 0},
        {"1 2", false, 0},
        {"- 5", false, 0},
        {"0x10", false, 0},
        {"\n5", false, 0},  // blanks and tabs only
        {"5\r", false, 0},
        {QString(30, ' ') + "5", true, 5},
        {QString(31, ' ') + "5", false, 0},  // the 32nd character is never read
        {"12" + QString(29, ' ') + "x", true, 12},
        {"99999999999", true, INT32_MAX},  // saturates instead of wrapping
        {"-99999999999", true, INT32_MIN},
        {"4294967308", true, INT32_MAX},  // would wrap to 12 in 32 bits
    };
    for (const Case& c : cases) {
        int32_t value = -77;
        EXPECT_EQ(ParseFieldInteger(c.text, &value), c.valid) << c.text.toStdString();
        if (c.valid) {
            EXPECT_EQ(value, c.value) << c.text.toStdString();
        } else {
            EXPECT_EQ(value, -77) << c.text.toStdString();
        }
    }
}

class MainDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }

    QLineEdit* Edit(int id) { return Control<QLineEdit>(&dialog, id); }
    QCheckBox* Check(int id) { return Control<QCheckBox>(&dialog, id); }
    QPushButton* Button(int id) { return Control<QPushButton>(&dialog, id); }
    QListWidget* List() { return Control<QListWidget>(&dialog, 1000); }
    QStringList ListTexts() {
        QStringList texts;
        for (int i = 0; i < List()->count(); ++i) {
            texts << List()->item(i)->text();
        }
        return texts;
    }
    void ClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        const QRect r = List()->visualItemRect(List()->item(row));
        QTest::mouseClick(List()->viewport(), Qt::LeftButton, modifiers, r.center());
    }
    void AddFiles(const QStringList& paths) {
        fake.openAnswers.push_back(paths);
        Click(Button(1001));
    }
    // Enabled states of Process, Remove, Top and Bottom.
    std::vector<bool> States() {
        return {Button(1008)->isEnabled(), Button(1002)->isEnabled(), Edit(1005)->isEnabled(),
                Edit(1006)->isEnabled()};
    }

    test::FakeUi fake;
    CMainDialog dialog;
};

TEST_F(MainDialogTest, FirstStart) {
    EXPECT_EQ(dialog.windowTitle(), "Tessary");
    EXPECT_FALSE(dialog.windowIcon().isNull());
    EXPECT_EQ(States(), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(Edit(1005)->text(), "0");
    EXPECT_EQ(Edit(1006)->text(), "0");
    EXPECT_TRUE(Edit(1010)->text().isEmpty());
    for (int id : {1003, 1004, 1007}) {
        EXPECT_FALSE(Check(id)->isChecked());
    }
    for (int id : {1001, 1003, 1004, 1007, 1010, 1011}) {
        EXPECT_TRUE(FindControl(&dialog, id)->isEnabled()) << id;
    }
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(MainDialogTest, EnabledStatesFollowEachCommand) {
    using S = std::vector<bool>;
    TypeInto(Edit(1010), "/out/");
    EXPECT_EQ(States(), (S{false, false, false, false})) << "typing alone refreshes nothing";

    AddFiles({"/in/a.jpg", "/in/b.jpg"});
    EXPECT_EQ(States(), (S{true, false, false, false}));

    ClickRow(1);
    EXPECT_EQ(States(), (S{true, true, false, false}));

    Click(Button(1002));
    EXPECT_EQ(ListTexts(), QStringList({"/in/a.jpg"}));
    EXPECT_EQ(States(), (S{true, false, false, false}));

    Click(Check(1004));
    EXPECT_EQ(States(), (S{true, false, true, true}));

    // Clearing the folder leaves Process enabled until the next refresh.
    TypeInto(Edit(1010), "");
    EXPECT_EQ(States(), (S{true, false, true, true}));
    Click(Check(1003));
    EXPECT_EQ(States(), (S{false, false, true, true}));

    Click(Check(1004));
    EXPECT_EQ(States(), (S{false, false, false, false}));
    Click(Check(1007));  // Soften refreshes nothing
    TypeInto(Edit(1010), "/out/");
    Click(Check(1007));
    EXPECT_EQ(States(), (S{false, false, false, false}));

    ClickRow(0);
    EXPECT_EQ(States(), (S{true, true, false, false}));
    Click(Button(1002));
    EXPECT_EQ(States(), (S{false, false, false, false}));
    EXPECT_TRUE(dialog.m_inputPaths.isEmpty());
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(MainDialogTest, ReadingStopsAtTheFirstBadFieldBottomBeforeTop) {
    struct Case {
        const char* bottom;
        const char* top;
        const char* message;  // nullptr: the read succeeds
        int failedField;
        int32_t bottomAfter, topAfter;
    };
    const Case cases[] = {
        {"4", "8", nullptr, 0, 4, 8},
        {"abc", "8", "Please enter an integer.", 1006, 1, 2},
        {"481", "abc", "Please enter an integer between 0 and 480.", 1006, 481, 2},
        {"4", "-1", "Please enter an integer between 0 and 480.", 1005, 4, -1},
        {"4", "", "Please enter an integer.", 1005, 4, 2},
        {" 480 ", "0", nullptr, 0, 480, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.bottom) + " / " + c.top);
        fake.messages.clear();
        dialog.m_nClipBottom = 1;
        dialog.m_nClipTop = 2;
        dialog.m_strOutputFolder = "/before/";
        Edit(1006)->setText(QString::fromLatin1(c.bottom));
        Edit(1005)->setText(QString::fromLatin1(c.top));
        Edit(1010)->setText("/typed/");
        Check(1007)->setChecked(true);
        dialog.m_bSoftenBorders = 0;

        EXPECT_EQ(dialog.UpdateData(true), c.message == nullptr);
        EXPECT_EQ(dialog.m_nClipBottom, c.bottomAfter);
        EXPECT_EQ(dialog.m_nClipTop, c.topAfter);
        EXPECT_EQ(dialog.m_bSoftenBorders, 1) << "the check boxes come first";
        if (c.message) {
            EXPECT_EQ(fake.MessageTexts(), QStringList({c.message}));
            EXPECT_EQ(dialog.m_strOutputFolder, "/before/");
            QLineEdit* failed = Edit(c.failedField);
            EXPECT_EQ(failed->selectedText(), failed->text());
        } else {
            EXPECT_TRUE(fake.messages.empty());
            EXPECT_EQ(dialog.m_strOutputFolder, "/typed/");
        }
    }
}

TEST_F(MainDialogTest, BadFieldTakesTheFocusWithItsTextSelected) {
    Click(Check(1004));  // the fields must be enabled to take the focus
    TypeInto(Edit(1005), "12");
    TypeInto(Edit(1006), "999");
    Button(1001)->setFocus();
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_TRUE(Edit(1006)->hasFocus());
    EXPECT_EQ(Edit(1006)->selectedText(), "999");
}

TEST_F(MainDialogTest, RangeFailureOnDeinterlaceClickRestoresTheOtherFields) {
    fake.folderAnswers.push_back("/previous");
    Click(Button(1011));
    ASSERT_EQ(dialog.m_strOutputFolder, "/previous/");

    Click(Check(1004));  // enables Top and Bottom for typing
    TypeInto(Edit(1006), "999");
    TypeInto(Edit(1005), "7");
    TypeInto(Edit(1010), "/new/");
    Click(Check(1003));

    EXPECT_EQ(fake.MessageTexts(), QStringList({"Please enter an integer between 0 and 480."}));
    EXPECT_EQ(dialog.m_nClipBottom, 999);
    EXPECT_EQ(dialog.m_bInterlace, 1);
    EXPECT_EQ(dialog.m_nClipTop, 0);
    EXPECT_EQ(Edit(1006)->text(), "999");
    EXPECT_EQ(Edit(1005)->text(), "0") << "the write puts the old member back";
    EXPECT_EQ(Edit(1010)->text(), "/previous/");
}

TEST_F(MainDialogTest, DisabledFieldsAreStillReadAndChecked) {
    dialog.m_nClipTop = 1000;
    dialog.UpdateData(false);
    EXPECT_FALSE(Edit(1005)->isEnabled());
    EXPECT_EQ(Edit(1005)->text(), "1000");
    Click(Check(1003));
    EXPECT_EQ(fake.MessageTexts(), QStringList({"Please enter an integer between 0 and 480."}));
}

TEST_F(MainDialogTest, CheckBoxMembersOutsideTheirRange) {
    struct Case {
        int32_t stored;
        bool shown;
        int32_t after;  // the member once written
    };
    for (const Case& c : {Case{0, false, 0}, Case{1, true, 1}, Case{2, true, 2}, Case{7, false, 0},
                          Case{-1, false, 0}}) {
        dialog.m_bClip = c.stored;
        dialog.UpdateData(false);
        EXPECT_EQ(Check(1004)->isChecked(), c.shown) << c.stored;
        EXPECT_EQ(dialog.m_bClip, c.after) << c.stored;
        EXPECT_EQ(Edit(1005)->isEnabled(), c.after != 0) << c.stored;
        dialog.UpdateData(true);
        EXPECT_EQ(dialog.m_bClip, c.shown ? 1 : 0) << c.stored;
    }
}

TEST_F(MainDialogTest, SoftenClickReadsNothingButClipAndDeinterlaceDo) {
    dialog.m_bClip = 1;
    dialog.UpdateData(false);
    TypeInto(Edit(1005), "12");
    Click(Check(1007));
    EXPECT_EQ(dialog.m_nClipTop, 0);
    EXPECT_EQ(dialog.m_bSoftenBorders, 0);
    Click(Check(1004));
    EXPECT_EQ(dialog.m_nClipTop, 12);
    EXPECT_EQ(dialog.m_bSoftenBorders, 1);
    EXPECT_EQ(dialog.m_bClip, 0);
}

TEST_F(MainDialogTest, AddAppendsInTheDialogsOrderWithoutDuplicateCheck) {
    AddFiles({"/in/b.JPG", "/in/a.gif"});
    AddFiles({"/in/b.JPG"});
    AddFiles({});  // cancelled
    const QStringList expected{"/in/b.JPG", "/in/a.gif", "/in/b.JPG"};
    EXPECT_EQ(ListTexts(), expected);
    EXPECT_EQ(dialog.m_inputPaths, expected);

    ASSERT_EQ(fake.openRequests.size(), 3u);
    const FileDialogRequest& request = fake.openRequests.front();
    EXPECT_EQ(
        request.nameFilters,
        QStringList({"All supported files (*.jpg *.jpeg *.gif *.bmp *.png *.tif *.tiff)",
                     "Windows BMP (*.bmp)", "JPEG Images (*.jpg *.jpeg)", "GIF Images (*.gif)",
                     "PNG Images (*.png)", "TIFF Images (*.tif *.tiff)", "All Files (*)"}));
    EXPECT_EQ(request.defaultSuffix, "jpg");
}

TEST_F(MainDialogTest, AddReadsTheFieldsFirstAndCarriesOnAfterABadOne) {
    Click(Check(1004));
    TypeInto(Edit(1010), "/out/");
    TypeInto(Edit(1006), "500");
    AddFiles({"/in/a.jpg"});
    EXPECT_EQ(fake.MessageTexts(), QStringList({"Please enter an integer between 0 and 480."}));
    EXPECT_EQ(ListTexts(), QStringList({"/in/a.jpg"}));
    // The read stopped before the folder, so Process still waits for one.
    EXPECT_TRUE(dialog.m_strOutputFolder.isEmpty());
    EXPECT_FALSE(Button(1008)->isEnabled());
}

TEST_F(MainDialogTest, RemoveTakesTheFirstOccurrenceOfADuplicate) {
    AddFiles({"/in/p.jpg", "/in/q.jpg", "/in/p.jpg", "/in/r.jpg"});
    ClickRow(2);
    ClickRow(3, Qt::ControlModifier);
    Click(Button(1002));
    EXPECT_EQ(ListTexts(), QStringList({"/in/p.jpg", "/in/q.jpg"}));
    EXPECT_EQ(dialog.m_inputPaths, QStringList({"/in/q.jpg", "/in/p.jpg"}));
    EXPECT_FALSE(Button(1002)->isEnabled());

    EXPECT_TRUE(dialog.RemoveInputPath("/in/p.jpg"));
    EXPECT_FALSE(dialog.RemoveInputPath("/in/P.jpg")) << "letter case counts";
    EXPECT_EQ(dialog.m_inputPaths, QStringList({"/in/q.jpg"}));
}

TEST_F(MainDialogTest, BrowsePutsTheChosenFolderWithItsSeparator) {
    AddFiles({"/in/a.jpg"});
    TypeInto(Edit(1010), "/typed/start");
    fake.folderAnswers.push_back("/out/sub");
    Click(Button(1011));
    ASSERT_EQ(fake.folderRequests.size(), 1u);
    EXPECT_EQ(fake.folderRequests[0], "/typed/start");
    EXPECT_EQ(Edit(1010)->text(), "/out/sub/");
    EXPECT_EQ(dialog.m_strOutputFolder, "/out/sub/");
    EXPECT_TRUE(Button(1008)->isEnabled());

    fake.folderAnswers.push_back("/");  // the root keeps its one separator
    Click(Button(1011));
    EXPECT_EQ(Edit(1010)->text(), "/");

    // Cancelled: the typed text is taken as the folder but nothing else changes.
    TypeInto(Edit(1010), QString(300, 'x'));
    Click(Button(1011));
    ASSERT_EQ(fake.folderRequests.size(), 3u);
    EXPECT_EQ(fake.folderRequests[2], QString(259, 'x'));
    EXPECT_EQ(dialog.m_strOutputFolder, QString(300, 'x'));
    EXPECT_EQ(Edit(1010)->text(), QString(300, 'x'));
}

TEST_F(MainDialogTest, CloseReadsFirstAndEscapeDoesNot) {
    Click(Check(1004));
    Edit(1006)->setText("x1");  // pasted
    Click(Button(1));
    EXPECT_TRUE(dialog.isVisible()) << "a bad field keeps the dialog open";
    EXPECT_EQ(fake.MessageTexts(), QStringList({"Please enter an integer."}));

    TypeInto(Edit(1006), "3");
    QTest::keyClick(Edit(1006), Qt::Key_Return);  // Enter in a field takes the value only
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.m_nClipBottom, 3);
    Click(Button(1));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    dialog.show();
    TypeInto(Edit(1006), "9");
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.m_nClipBottom, 3);

    dialog.show();
    dialog.close();  // the close box
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(MainDialogTest, WindowMenuOpensTheAboutBox) {
    std::unique_ptr<QMenu> menu(dialog.BuildWindowMenu(nullptr));
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), "&About Tessary...");

    // A right click on the background; the About item chosen from the keyboard.
    QString aboutTitle;
    QStringList aboutTexts;
    test::WhenModal([&](QWidget* about) {
        aboutTitle = about->windowTitle();
        for (QLabel* label : about->findChildren<QLabel*>()) {
            aboutTexts << label->text();
        }
        QTest::keyClick(about, Qt::Key_Escape);
    });
    QTimer::singleShot(20, [] {
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_NE(popup, nullptr);
        QTest::keyClick(popup, Qt::Key_Up);
        QTest::keyClick(popup, Qt::Key_Return);
    });
    const QPoint background(dialog.width() - 5, dialog.height() / 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, background, dialog.mapToGlobal(background));
    QApplication::sendEvent(&dialog, &event);
    EXPECT_EQ(aboutTitle, "About Tessary");
    EXPECT_TRUE(aboutTexts.contains("Tessary Version 1.0"));
    // The notice names whom the licence names.
    QFile license(TESSARY_SAMPLES_DIR "/../LICENSE");
    ASSERT_TRUE(license.open(QIODevice::ReadOnly));
    const QString holder =
        QString::fromUtf8(license.readAll()).split('\n').filter("Copyright").value(0);
    ASSERT_FALSE(holder.isEmpty());
    EXPECT_TRUE(aboutTexts.join('\n').contains(holder, Qt::CaseInsensitive))
        << holder.toStdString();
    EXPECT_TRUE(dialog.isVisible());

    dialog.OnSysCommand(CMainDialog::kCloseCommand | 0x3);  // low bits are ignored
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace tessary
