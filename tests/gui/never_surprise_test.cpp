// Everyday moves in the main dialog that must not lose work or hide what happens.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>

#include "app/main_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/jpeg_builder.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Click;
using test::Control;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

class NeverSurpriseTest : public testing::Test {
  protected:
    void SetUp() override {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    QString Text(int id) { return Control<QLabel>(&dialog, id)->text(); }
    void Process() { Click(Control<QPushButton>(&dialog, CMainDialog::kProcessId)); }
    // Lists a solid picture per name, each in a folder of its own when `apart`.
    QStringList Pictures(std::initializer_list<const char*> names, bool apart = false) {
        QStringList paths;
        int folder = 0;
        for (const char* name : names) {
            std::string path = in.File(name);
            if (apart) {
                const std::string sub = in.File("f" + std::to_string(folder++));
                mkdir(sub.c_str(), 0700);
                path = sub + "/" + name;
            }
            EXPECT_TRUE(test::WriteSolidBmp(path, 4, 4, 10, 20, 30));
            paths << Q(path);
        }
        return paths;
    }

    test::TempDir in, out;
    test::FakeUi fake;
    CMainDialog dialog;
};

TEST_F(NeverSurpriseTest, EnterAndEscapeEndTheProgramOnlyWithNothingToLose) {
    struct Case {
        const char* name;
        bool listed;
        int focus;
        Qt::Key key;
        bool closes;
    };
    const Case cases[] = {
        {"Escape, empty list", false, CMainDialog::kSoftenId, Qt::Key_Escape, true},
        {"Escape, files listed", true, CMainDialog::kSoftenId, Qt::Key_Escape, false},
        {"Enter on a box, empty list", false, CMainDialog::kSoftenId, Qt::Key_Return, true},
        {"Enter on a box, files listed", true, CMainDialog::kSoftenId, Qt::Key_Return, false},
        {"Enter in the location, empty list", false, CMainDialog::kOutputId, Qt::Key_Return, false},
        {"Enter in Top, empty list", false, CMainDialog::kTopId, Qt::Key_Enter, false},
        {"Enter in quality, empty list", false, CMainDialog::kQualityId, Qt::Key_Return, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMainDialog d;
        d.m_bClip = 1;  // Top takes the focus only while Clip is on
        if (c.listed) {
            d.AppendInputs({"/in/a.jpg"});
        }
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        FindControl(&d, c.focus)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), c.key);
        EXPECT_EQ(!d.isVisible(), c.closes);
        d.close();  // the close box still ends it
        EXPECT_FALSE(d.isVisible());
    }
}

TEST_F(NeverSurpriseTest, TheLocationIsAFullPathAndTheLineSaysWhereFilesGo) {
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(Q(out.Path())));
    const QStringList inputs = Pictures({"frame001.bmp"});
    dialog.AppendInputs(inputs);
    ASSERT_EQ(mkdir(out.File("repaired").c_str(), 0700), 0);
    struct Case {
        QString location;
        QString line;         // under the field
        std::string written;  // relative to out; "" for a refusal
    };
    const Case cases[] = {
        {"~/repaired", "Writes " + Q(out.File("repaired/frame001.bmp")), "repaired/frame001.bmp"},
        {"~", "Writes " + Q(out.File("frame001.bmp")), "frame001.bmp"},
        {Q(out.File("pre-")), "Writes " + Q(out.File("pre-frame001.bmp")), "pre-frame001.bmp"},
        {"repaired/", "Give the output location as a full path, such as ~/repaired/", ""},
        {"~user/x/", "Give the output location as a full path, such as ~/repaired/", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location.toStdString());
        fake.messages.clear();
        auto* field = Control<QLineEdit>(&dialog, CMainDialog::kOutputId);
        test::TypeInto(field, c.location);
        QTest::keyClick(field, Qt::Key_Return);  // takes the location, enabling Process
        dialog.resize(1400, dialog.height());    // room for the whole path
        EXPECT_EQ(Text(CMainDialog::kWritesId), c.line);
        Process();
        if (c.written.empty()) {
            ASSERT_EQ(fake.messages.size(), 1u);
            EXPECT_TRUE(
                fake.messages[0].text.startsWith("The output location must be a full path"));
            EXPECT_EQ(dialog.focusWidget(), FindControl(&dialog, CMainDialog::kOutputId));
        } else {
            EXPECT_TRUE(fake.messages.empty());
            EXPECT_TRUE(test::FileExists(out.File(c.written)));
        }
    }
    EXPECT_FALSE(QDir(Q(out.Path())).exists("~")) << "no folder named ~";
    qputenv("HOME", home);
}

TEST_F(NeverSurpriseTest, TwoInputsWritingOneOutputAreAskedAboutFirst) {
    const QStringList inputs = Pictures({"same.bmp", "same.bmp", "other.bmp"}, true);
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes);
        CMainDialog d;
        d.m_strOutputFolder = Q(out.Path()) + "/";
        d.AppendInputs(inputs + QStringList{inputs[2]});  // a path listed twice is no question
        d.show();
        fake.questions.clear();
        fake.yesNoAnswers.push_back(yes);
        Click(Control<QPushButton>(&d, CMainDialog::kProcessId));
        ASSERT_EQ(fake.questions.size(), 1u);
        EXPECT_EQ(fake.questions[0].text,
                  "Two inputs would write the same output, and the later would replace the "
                  "earlier:\n" +
                      inputs[0] + "\n" + inputs[1] + "\nboth write " + Q(out.File("same.bmp")) +
                      "\n\nWrite it anyway?");
        EXPECT_EQ(out.List().size(), yes ? 2u : 0u);
    }
}

TEST_F(NeverSurpriseTest, TheEndOfARunSaysWhatWasWrittenAndWhatIsDamaged) {
    test::Bytes noise(256 * 256 * 3);
    for (std::size_t i = 0; i < noise.size(); ++i) {
        noise[i] = uint8_t(i * 7919 % 251);
    }
    test::Bytes jpeg = test::EncodeJpeg(noise, 256, 256);
    jpeg.resize(jpeg.size() * 2 / 3);
    ASSERT_TRUE(test::WriteBytes(in.File("cut.jpg"), jpeg));
    const QString folder = Q(out.Path()) + "/";
    dialog.m_strOutputFolder = folder;
    dialog.AppendInputs(Pictures({"a.bmp", "b.bmp"}));
    Process();
    EXPECT_TRUE(fake.messages.empty());
    EXPECT_EQ(Text(CMainDialog::kRunLineId), "2 files written to " + folder);

    dialog.AppendInputs({Q(in.File("cut.jpg"))});
    Process();
    ASSERT_EQ(fake.messages.size(), 1u);
    EXPECT_TRUE(fake.messages[0].text.startsWith(
        "3 of 3 files were written.\ncut.jpg: warning: damaged data: "))
        << fake.messages[0].text.toStdString();
    EXPECT_EQ(Text(CMainDialog::kRunLineId), "3 files written to " + folder);
}

TEST_F(NeverSurpriseTest, TheWindowGrowsAndTheKeyboardReachesTheCommands) {
    dialog.AppendInputs({"/in/a.jpg", "/in/b.jpg"});
    auto* list = Control<QListWidget>(&dialog, CMainDialog::kListId);
    auto* location = Control<QLineEdit>(&dialog, CMainDialog::kOutputId);
    const QSize listBefore = list->size();
    const int locationBefore = location->width();
    dialog.resize(dialog.width() + 300, dialog.height() + 200);
    QTest::qWait(0);
    EXPECT_GT(list->width(), listBefore.width());
    EXPECT_GT(list->height(), listBefore.height());
    EXPECT_GT(location->width(), locationBefore);

    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    list->setCurrentRow(0);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(dialog.m_inputPaths, QStringList({"/in/b.jpg"}));

    // A mnemonic clicks its button as a mouse would, a moment later.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::AltModifier);
    EXPECT_TRUE(test::WaitFor([&] { return fake.openRequests.size() == 1; }, 1000)) << "Alt+A";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V, Qt::AltModifier);
    EXPECT_TRUE(test::WaitFor([&] { return dialog.Preview() != nullptr; }, 1000)) << "Alt+V";
}

TEST_F(NeverSurpriseTest, TheTemplatesControlsKeepTheirTabOrderAmongTheNewOnes) {
    const int specified[] = {1, 1000, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1010, 1011};
    QList<int> order;
    QWidget* w = FindControl(&dialog, CMainDialog::kCloseId);
    do {
        const QVariant id = w->property(kControlIdProperty);
        if (id.isValid() && std::find(std::begin(specified), std::end(specified), id.toInt()) !=
                                std::end(specified)) {
            order << id.toInt();
        }
        w = w->nextInFocusChain();
    } while (w != FindControl(&dialog, CMainDialog::kCloseId) && order.size() < 50);
    EXPECT_EQ(order, QList<int>(std::begin(specified), std::end(specified)));
}

TEST_F(NeverSurpriseTest, CommandLinePathsAreAddedAsADropAddsThem) {
    ASSERT_EQ(mkdir(in.File("captures").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(in.File("captures/b").c_str(), 0700), 0);
    for (const char* name : {"a.jpg", "captures/z.bmp", "captures/b/c.png", "captures/notes.txt"}) {
        ASSERT_TRUE(test::WriteBytes(in.File(name), {1}));
    }
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Q(in.Path())));
    dialog.AddPaths({"a.jpg", "captures/"});
    QDir::setCurrent(before);
    EXPECT_EQ(dialog.m_inputPaths, QStringList({Q(in.File("a.jpg")), Q(in.File("captures/b/c.png")),
                                                Q(in.File("captures/z.bmp"))}));
}

TEST(ElidedPath, KeepsTheFileNameWholeWhileItFits) {
    const QFontMetrics metrics(QApplication::font());
    const QString path = "/home/me/a/very/long/folder/name/frame001.jpg";
    const int full = metrics.horizontalAdvance(path);
    const int name = metrics.horizontalAdvance("frame001.jpg");
    struct Case {
        int width;
        bool whole, endsWithName;
    };
    for (const Case& c : {Case{full, true, true}, Case{full - 1, false, true},
                          Case{name + metrics.horizontalAdvance("/h…/"), false, true},
                          Case{name / 2, false, false}}) {
        SCOPED_TRACE(c.width);
        const QString shown = ElidedPath(metrics, path, c.width);
        EXPECT_EQ(shown == path, c.whole);
        EXPECT_EQ(shown.endsWith("/frame001.jpg"), c.endsWithName) << shown.toStdString();
        EXPECT_LE(metrics.horizontalAdvance(shown), std::max(c.width, 0)) << shown.toStdString();
    }
}

}  // namespace
}  // namespace tessary
