#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "app/batch_app.h"
#include "app/main_dialog.h"
#include "app/settings.h"
#include "tests/gui/gui_test_support.h"

namespace tessary {
namespace {

using test::Click;
using test::Control;
using test::StoredSetting;
using test::StoreSetting;
using test::TypeInto;
using test::WhenModal;

constexpr const char* kHelpText =
    "Sorry, a help file has not yet been written for this application.";

class BatchAppTest : public testing::Test {
  protected:
    void SetUp() override { test::ResetSettingsStore(); }

    // Runs the program's start-up with `whileOpen` acting on the main dialog.
    bool RunApp(std::function<void(CMainDialog&)> whileOpen) {
        WhenModal([whileOpen](QWidget* top) { whileOpen(*qobject_cast<CMainDialog*>(top)); });
        return app.InitInstance();
    }

    std::map<QString, int> Stored() {
        std::map<QString, int> values;
        for (const char* name :
             {"bclip", "bInterlace", "bSoftenBorders", "nClipTop", "nClipBottom"}) {
            const QVariant v = StoredSetting(name);
            values[name] = v.isValid() ? v.toInt() : -999;
        }
        return values;
    }

    test::FakeUi fake;
    CBatchApp app;
};

using Values = std::map<QString, int>;

TEST_F(BatchAppTest, FirstStartShowsDefaultsAndCloseStoresAllFive) {
    bool clipShown = true;
    QString topShown;
    const bool result = RunApp([&](CMainDialog& d) {
        clipShown = Control<QCheckBox>(&d, 1004)->isChecked();
        topShown = Control<QLineEdit>(&d, 1005)->text();
        Click(Control<QCheckBox>(&d, 1004));
        TypeInto(Control<QLineEdit>(&d, 1005), "12");
        Click(Control<QAbstractButton>(&d, 1));
    });
    EXPECT_FALSE(result);
    EXPECT_FALSE(clipShown);
    EXPECT_EQ(topShown, "0");
    EXPECT_EQ(QCoreApplication::organizationName(), "Zedra");
    EXPECT_EQ(Stored(), (Values{{"bclip", 1},
                                {"bInterlace", 0},
                                {"bSoftenBorders", 0},
                                {"nClipTop", 12},
                                {"nClipBottom", 0}}));

    // The next start shows what was stored.
    QString topAgain;
    RunApp([&](CMainDialog& d) {
        topAgain = Control<QLineEdit>(&d, 1005)->text();
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_EQ(topAgain, "12");
}

TEST_F(BatchAppTest, EscapeAndCloseBoxSaveWhatTheLastCommandRead) {
    struct Case {
        const char* name;
        std::function<void(CMainDialog&)> act;
        Values expected;
    };
    const Case cases[] = {
        {"typed then Escape",
         [](CMainDialog& d) {
             TypeInto(Control<QLineEdit>(&d, 1005), "12");
             QTest::keyClick(&d, Qt::Key_Escape);
         },
         {{"bclip", 1},
          {"bInterlace", 0},
          {"bSoftenBorders", 0},
          {"nClipTop", 5},
          {"nClipBottom", 0}}},
        {"typed, Deinterlace, close box",
         [](CMainDialog& d) {
             TypeInto(Control<QLineEdit>(&d, 1005), "12");
             Click(Control<QCheckBox>(&d, 1003));
             d.close();
         },
         {{"bclip", 1},
          {"bInterlace", 1},
          {"bSoftenBorders", 0},
          {"nClipTop", 12},
          {"nClipBottom", 0}}},
        {"Soften then Escape",
         [](CMainDialog& d) {
             Click(Control<QCheckBox>(&d, 1007));
             QTest::keyClick(&d, Qt::Key_Escape);
         },
         {{"bclip", 1},
          {"bInterlace", 0},
          {"bSoftenBorders", 0},
          {"nClipTop", 5},
          {"nClipBottom", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ResetSettingsStore();
        StoreSetting("bclip", 1);  // Top takes typing only while Clip is on
        StoreSetting("nClipTop", 5);
        EXPECT_FALSE(RunApp(c.act));
        EXPECT_EQ(Stored(), c.expected);
    }
}

TEST_F(BatchAppTest, OutputLocationIsRememberedBetweenStarts) {
    QString firstShown = "unset";
    RunApp([&](CMainDialog& d) {
        firstShown = Control<QLineEdit>(&d, 1010)->text();
        fake.folderAnswers.push_back("/out/repaired");
        Click(Control<QAbstractButton>(&d, 1011));
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_EQ(firstShown, "");
    EXPECT_EQ(StoredSetting("strOutputFolder").toString(), "/out/repaired/");
    EXPECT_EQ(Stored()["nClipTop"], 0) << "the five keep their own keys";

    QString shown;
    RunApp([&](CMainDialog& d) {
        shown = Control<QLineEdit>(&d, 1010)->text();
        TypeInto(Control<QLineEdit>(&d, 1010), "/typed/");
        Click(Control<QAbstractButton>(&d, 1));
    });
    EXPECT_EQ(shown, "/out/repaired/");
    EXPECT_EQ(StoredSetting("strOutputFolder").toString(), "/typed/");
}

TEST_F(BatchAppTest, StoredValuesOutsideTheirRanges) {
    StoreSetting("bclip", 7);
    StoreSetting("nClipTop", 1000);
    StoreSetting("nClipBottom", "not a number");
    bool clipShown = true;
    QString topShown;
    RunApp([&](CMainDialog& d) {
        clipShown = Control<QCheckBox>(&d, 1004)->isChecked();
        topShown = Control<QLineEdit>(&d, 1005)->text();
        EXPECT_TRUE(fake.messages.empty()) << "nothing is reported before the first read";
        Click(Control<QCheckBox>(&d, 1003));
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    EXPECT_FALSE(clipShown);
    EXPECT_EQ(topShown, "1000");
    EXPECT_EQ(fake.MessageTexts(), QStringList({"Please enter an integer between 0 and 480."}));
    EXPECT_EQ(StoredSetting("bclip").toInt(), 0);
    EXPECT_EQ(StoredSetting("nClipTop").toInt(), 0) << "a count out of range is never stored";
    EXPECT_EQ(StoredSetting("nClipBottom").toInt(), 0);
}

TEST_F(BatchAppTest, ACountOutOfRangeIsNeverStoredHoweverTheDialogCloses) {
    const std::function<void(CMainDialog&)> closes[] = {
        [](CMainDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](CMainDialog& d) { d.close(); },
        [](CMainDialog& d) { d.OnSysCommand(CMainDialog::kCloseCommand); },
    };
    for (const auto& close : closes) {
        test::ResetSettingsStore();
        StoreSetting("nClipTop", 30);
        StoreSetting("nClipBottom", 20);
        RunApp([&](CMainDialog& d) {
            Control<QLineEdit>(&d, 1006)->setText("12");
            Control<QLineEdit>(&d, 1005)->setText("999");
            Click(Control<QCheckBox>(&d, 1003));  // the read takes Bottom, then stops at Top
            close(d);
        });
        EXPECT_EQ(StoredSetting("nClipTop").toInt(), 30);
        EXPECT_EQ(StoredSetting("nClipBottom").toInt(), 12);
    }
}

TEST_F(BatchAppTest, TheNewerOptionsKeepKeysOfTheirOwn) {
    struct Case {
        std::map<QString, QVariant> stored;
        DialogOptions shown;  // only the newer options are compared
    };
    DialogOptions chosen;
    chosen.method = DeinterlaceMethod::Adaptive;
    chosen.autoClip = true;
    chosen.onlyCombed = true;
    chosen.format = OutputFormat::Png;
    chosen.jpegQuality = 80;
    chosen.keepMetadata = false;
    const Case cases[] = {
        {{}, DialogOptions{}},
        {{{"strMethod", "adaptive"},
          {"bAutoClip", 1},
          {"bOnlyCombed", 1},
          {"strFormat", "png"},
          {"nJpegQuality", 80},
          {"bKeepMetadata", 0}},
         chosen},
        {{{"strMethod", "zigzag"},
          {"strFormat", "tga"},
          {"nJpegQuality", 0},
          {"bKeepMetadata", "x"}},
         DialogOptions{}},
    };
    for (const Case& c : cases) {
        test::ResetSettingsStore();
        for (const auto& [name, value] : c.stored) {
            StoreSetting(name, value);
        }
        DialogOptions shown;
        RunApp([&](CMainDialog& d) {
            EXPECT_TRUE(d.PeekOptions(&shown));
            Click(Control<QAbstractButton>(&d, 1));
        });
        // Only the options beside the five are compared here.
        shown.m_bClip = shown.m_bInterlace = shown.m_bSoftenBorders = 0;
        shown.m_nClipTop = shown.m_nClipBottom = 0;
        EXPECT_TRUE(shown == c.shown) << c.stored.size();
        // Read back as written: the same options, and the five under their own names.
        DialogOptions again;
        ReadNewerOptions(again);
        EXPECT_TRUE(again == c.shown);
        EXPECT_EQ(StoredSetting("bInterlace").toInt(), 0);
    }
}

TEST_F(BatchAppTest, F1WithoutModifiersAnswersInTheMainDialogAndTheAboutBox) {
    QWidget* aboutBox = nullptr;
    RunApp([&](CMainDialog& d) {
        QTest::keyClick(&d, Qt::Key_F1);
        for (Qt::KeyboardModifier held :
             {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
            QTest::keyClick(Control<QLineEdit>(&d, 1010), Qt::Key_F1, held);
        }
        QTest::keyClick(Control<QLineEdit>(&d, 1010), Qt::Key_F1);
        WhenModal(
            [&](QWidget* about) {
                aboutBox = about;
                QTest::keyClick(about, Qt::Key_F1);
                QTest::keyClick(about, Qt::Key_Escape);
            },
            &d);
        d.OnSysCommand(CMainDialog::kAboutBoxCommand);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    ASSERT_EQ(fake.MessageTexts(), QStringList({kHelpText, kHelpText, kHelpText}));
    EXPECT_NE(aboutBox, nullptr);
    EXPECT_EQ(fake.messages[2].parent, aboutBox);
}

}  // namespace
}  // namespace tessary
