// Shows the main dialog, the progress window and the About box as a user meets them
// and grabs each into a PNG file in the folder given as the only argument.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "app/dialog_builder.h"
#include "app/main_dialog.h"
#include "app/progress_dialog.h"

namespace {

bool Save(QWidget& window, const QString& folder, const QString& name) {
    window.show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    return window.grab().save(folder + QLatin1Char('/') + name);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(tessary::AppIcon());
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    tessary::CMainDialog dialog;
    dialog.m_bInterlace = 1;
    dialog.m_bClip = 1;
    dialog.m_nClipTop = 8;
    dialog.m_nClipBottom = 4;
    dialog.m_strOutputFolder = QStringLiteral("/home/user/Pictures/repaired/");
    auto* list = tessary::FindControlAs<QListWidget>(&dialog, 1000);
    for (const char* name : {"capture-0001.jpg", "capture-0002.jpg", "capture-0003.bmp"}) {
        const QString path = QStringLiteral("/home/user/Pictures/") + QLatin1String(name);
        dialog.m_inputPaths << path;
        list->addItem(path);
    }
    const QFont font = dialog.font();
    const tessary::DialogBaseUnits units = tessary::BaseUnitsFor(font);
    qInfo("dialog font %s %d pt: %d x %d pixels per character", qPrintable(font.family()),
          font.pointSize(), units.avgCharWidth, units.charHeight);
    bool ok = Save(dialog, folder, QStringLiteral("main-dialog.png"));

    tessary::CProgressDialog progress(nullptr);
    progress.SetRange(0, 3);
    progress.Create();
    progress.SetStatus(
        "/home/user/Pictures/capture-0002.jpg --> /home/user/Pictures/repaired/capture-0002.jpg");
    progress.SetPos(1);
    ok = Save(progress, folder, QStringLiteral("progress-dialog.png")) && ok;
    progress.Destroy();

    tessary::CAboutDialog about;
    ok = Save(about, folder, QStringLiteral("about-dialog.png")) && ok;
    return ok ? 0 : 1;
}
