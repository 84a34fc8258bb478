#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <functional>

#include <sys/stat.h>

#include "app/main_dialog.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/temp_dir.h"

namespace tessary {
namespace {

using test::WhenModal;

TEST(RealDialogs, MessageBoxIsAWarningWithOneOkUnderTheProgramName) {
    QWidget owner;
    owner.show();
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
    int buttonCount = -1;
    WhenModal([&](QWidget* top) {
        auto* box = qobject_cast<QMessageBox*>(top);
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        buttonCount = static_cast<int>(box->buttons().size());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    QtUiServices().ShowMessage(&owner, "Rendering canceled");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(title, QCoreApplication::applicationName());
    EXPECT_EQ(text, "Rendering canceled");
    EXPECT_EQ(buttonCount, 1);
}

FileDialogRequest InputRequest() {
    FileDialogRequest request;
    request.nameFilters = CMainDialog::InputNameFilters();
    request.defaultSuffix = "jpg";
    return request;
}

// The names the dialog lists in its current folder, once it has read it.
QStringList ListedNames(QFileDialog* dialog, int expected) {
    auto* view = dialog->findChild<QListView*>("listView");
    QStringList names;
    test::WaitFor([&] {
        names.clear();
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < view->model()->rowCount(root); ++row) {
            names << view->model()->index(row, 0, root).data().toString();
        }
        return names.size() >= expected;
    });
    names.sort();
    return names;
}

TEST(RealDialogs, OpenDialogShowsEveryReadableNameInAnyCase) {
    test::TempDir dir;
    for (const char* name : {"a.JPG", "b.jpeg", "c.Gif", "d.bmp", "e.txt", "noext"}) {
        ASSERT_TRUE(test::WriteBytes(dir.File(name), {1, 2, 3}));
    }
    QStringList filters, listed;
    QString active;
    WhenModal([&](QWidget* top) {
        auto* fd = qobject_cast<QFileDialog*>(top);
        ASSERT_NE(fd, nullptr);
        filters = fd->nameFilters();
        active = fd->selectedNameFilter();
        EXPECT_EQ(fd->fileMode(), QFileDialog::ExistingFiles);
        fd->setDirectory(QString::fromStdString(dir.Path()));
        listed = ListedNames(fd, 4);
        auto* name = fd->findChild<QLineEdit*>("fileNameEdit");
        name->setText("\"c.Gif\" \"a.JPG\"");
        QTest::keyClick(name, Qt::Key_Return);
    });
    QStringList chosen = QtUiServices().GetOpenFileNames(nullptr, InputRequest());
    chosen.sort();
    EXPECT_EQ(filters, CMainDialog::InputNameFilters());
    EXPECT_EQ(active, filters.front());
    EXPECT_EQ(listed, QStringList({"a.JPG", "b.jpeg", "c.Gif", "d.bmp"}));
    const QString base = QString::fromStdString(dir.Path()) + '/';
    EXPECT_EQ(chosen, QStringList({base + "a.JPG", base + "c.Gif"}));
}

TEST(RealDialogs, AllFilesShowsNamesWithoutAnExtension) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("noext"), {1}));
    QStringList listed;
    WhenModal([&](QWidget* top) {
        auto* fd = qobject_cast<QFileDialog*>(top);
        ASSERT_NE(fd, nullptr);
        fd->selectNameFilter("All Files (*)");
        fd->setDirectory(QString::fromStdString(dir.Path()));
        listed = ListedNames(fd, 1);
        QTest::keyClick(fd, Qt::Key_Escape);
    });
    EXPECT_TRUE(QtUiServices().GetOpenFileNames(nullptr, InputRequest()).isEmpty());
    EXPECT_EQ(listed, QStringList({"noext"}));
}

TEST(RealDialogs, FolderChooserReturnsTheChosenFolderAndCreatesNothing) {
    test::TempDir dir;
    ASSERT_TRUE(test::WriteBytes(dir.File("old.jpg"), {9}));
    ASSERT_EQ(mkdir(dir.File("sub dir").c_str(), 0700), 0);
    const QString folder = QString::fromStdString(dir.Path());
    bool foldersOnly = false;
    WhenModal([&](QWidget* top) {
        auto* fd = qobject_cast<QFileDialog*>(top);
        ASSERT_NE(fd, nullptr);
        EXPECT_EQ(fd->directory().absolutePath(), folder);
        foldersOnly = fd->fileMode() == QFileDialog::Directory;
        fd->findChild<QLineEdit*>("fileNameEdit")->setText("sub dir");
        QTest::keyClick(fd->findChild<QLineEdit*>("fileNameEdit"), Qt::Key_Return);
    });
    EXPECT_EQ(QtUiServices().GetExistingFolder(nullptr, folder + '/'), folder + "/sub dir");
    EXPECT_TRUE(foldersOnly);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"old.jpg", "sub dir"}));
}

TEST(RealDialogs, YesNoQuestionDefaultsToNo) {
    struct Case {
        const char* name;
        std::function<void(QMessageBox*)> answer;
        bool expected;
    };
    const Case cases[] = {
        {"Enter", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, false},
        {"Escape", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, false},
        {"Yes", [](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString title;
        WhenModal([&](QWidget* top) {
            auto* box = qobject_cast<QMessageBox*>(top);
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            c.answer(box);
        });
        EXPECT_EQ(QtUiServices().AskYesNo(nullptr, "Replace?"), c.expected);
        EXPECT_EQ(title, QCoreApplication::applicationName());
    }
}

}  // namespace
}  // namespace tessary
