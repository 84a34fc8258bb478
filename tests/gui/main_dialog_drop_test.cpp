#include <QAbstractButton>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

#include "app/main_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::Control;

// What a file manager sends: an enter, then the drop. True when both were accepted.
bool Drop(QWidget* target, const QList<QUrl>& urls, const QString& text = {}) {
    QMimeData data;
    if (!urls.isEmpty()) {
        data.setUrls(urls);
    }
    if (!text.isEmpty()) {
        data.setText(text);
    }
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

class DropTest : public testing::Test {
  protected:
    void SetUp() override {
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        ASSERT_EQ(mkdir(dir.File("pics").c_str(), 0700), 0);
        for (const char* name : {"b 2.JPG", "a 1.gif", "C.bmp", "notes.txt", "d.jpeg"}) {
            ASSERT_TRUE(test::WriteBytes(dir.File("pics/" + std::string(name)), {1}));
        }
        ASSERT_EQ(mkdir(dir.File("pics/sub.jpg").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(dir.File("pics/deeper").c_str(), 0700), 0);
        ASSERT_TRUE(test::WriteBytes(dir.File("pics/deeper/e.png"), {1}));
        ASSERT_TRUE(test::WriteBytes(dir.File("x y%20.txt"), {1}));
    }
    QListWidget* List() { return Control<QListWidget>(&dialog, 1000); }
    QLineEdit* Output() { return Control<QLineEdit>(&dialog, 1010); }
    QString Path(const std::string& name) { return QString::fromStdString(dir.File(name)); }
    QUrl Url(const std::string& name) { return QUrl::fromLocalFile(Path(name)); }

    test::TempDir dir;
    test::FakeUi fake;
    CMainDialog dialog;
};

TEST_F(DropTest, FilesAndFoldersOnTheListAppendPlainPaths) {
    dialog.AppendInputs({"/earlier.jpg"});
    ASSERT_TRUE(Url("x y%20.txt").toString(QUrl::FullyEncoded).endsWith("/x%20y%2520.txt"));
    EXPECT_TRUE(Drop(List()->viewport(),
                     {Url("x y%20.txt"), QUrl("https://example.org/a.jpg"), Url("pics")}));
    // The file as it is, whatever its type; the folder's pictures and its subfolders', by
    // path in byte order as the command line takes them.
    const QStringList expected{"/earlier.jpg",           Path("x y%20.txt"),   Path("pics/C.bmp"),
                               Path("pics/a 1.gif"),     Path("pics/b 2.JPG"), Path("pics/d.jpeg"),
                               Path("pics/deeper/e.png")};
    EXPECT_EQ(dialog.m_inputPaths, expected);
    ASSERT_EQ(List()->count(), expected.size());
    for (int i = 0; i < List()->count(); ++i) {
        EXPECT_EQ(List()->item(i)->text(), expected[i]);
        EXPECT_EQ(List()->item(i)->toolTip(), expected[i]);
    }

    // Nothing local: refused at the door.
    EXPECT_FALSE(Drop(List()->viewport(), {QUrl("https://example.org/a.jpg")}));
    EXPECT_FALSE(Drop(List()->viewport(), {}, "/some/text"));
    EXPECT_EQ(dialog.m_inputPaths.size(), expected.size());
    EXPECT_TRUE(fake.messages.empty());
}

TEST_F(DropTest, ADropReadsTheFieldsAsAddDoes) {
    Control<QAbstractButton>(&dialog, 1004)->click();
    Control<QLineEdit>(&dialog, 1005)->setText("12");
    Output()->setText("/typed/");
    EXPECT_TRUE(Drop(List()->viewport(), {Url("pics/C.bmp")}));
    EXPECT_EQ(dialog.m_nClipTop, 12);
    EXPECT_EQ(Control<QLineEdit>(&dialog, 1005)->text(), "12");
    EXPECT_TRUE(Control<QAbstractButton>(&dialog, 1008)->isEnabled());
}

TEST_F(DropTest, AFolderOnTheOutputFieldBecomesTheLocation) {
    struct Case {
        const char* name;
        QList<QUrl> urls;
        QString text;
        bool accepted;
        QString field;
    };
    const Case cases[] = {
        {"a folder", {Url("pics")}, {}, true, Path("pics") + "/"},
        {"a file", {Url("pics/C.bmp")}, {}, false, "/before/"},
        {"not local", {QUrl("https://example.org/")}, {}, false, "/before/"},
        {"plain text", {}, "/typed/by/drop/", true, "/typed/by/drop/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Output()->setText("/before/");
        Output()->setCursorPosition(Output()->text().size());
        EXPECT_EQ(Drop(Output(), c.urls, c.text), c.accepted);
        EXPECT_TRUE(Output()->text().contains(c.field)) << Output()->text().toStdString();
    }
    EXPECT_EQ(dialog.m_strOutputFolder, Path("pics") + "/");
    EXPECT_TRUE(dialog.m_inputPaths.isEmpty());
}

TEST_F(DropTest, ALongPathIsFittedIntoTheListKeepingItsName) {
    const QString longPath = "/" + QString(200, 'x') + "/frame001.jpg";
    dialog.AppendInputs({"/a.jpg", longPath});
    QTest::qWait(0);
    EXPECT_FALSE(List()->horizontalScrollBar()->isVisible());
    EXPECT_EQ(List()->item(1)->toolTip(), longPath);
    EXPECT_LE(List()->visualItemRect(List()->item(1)).width(), List()->viewport()->width());
}

}  // namespace
}  // namespace tessary
