// Shows the main dialog, the progress window, the About box and the preview as a user
// meets them and grabs each into a PNG file in the folder given as the only argument.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "app/dialog_builder.h"
#include "app/main_dialog.h"
#include "app/preview_view.h"
#include "app/preview_window.h"
#include "app/progress_dialog.h"

namespace {

bool Save(QWidget& window, const QString& folder, const QString& name) {
    window.show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    return window.grab().save(folder + QLatin1Char('/') + name);
}

// The preview of the first sample with adaptive deinterlacing and clipping, once split at fit and
// once side by side at 4:1, where the combing shows row by row.
bool SavePreviews(const QString& folder) {
    tessary::CMainDialog dialog;
    dialog.m_bInterlace = 1;
    dialog.m_bClip = 1;
    dialog.m_bSoftenBorders = 1;
    dialog.m_method = tessary::DeinterlaceMethod::Adaptive;
    dialog.m_nClipTop = 6;
    dialog.m_nClipBottom = 4;
    dialog.AppendInputs({QStringLiteral(TESSARY_SAMPLES_DIR "/interlaced-1.jpg")});
    dialog.show();
    dialog.OnPreview(0);
    tessary::PreviewWindow* preview = dialog.Preview();
    if (!preview) {
        return false;
    }
    preview->resize(900, 560);
    while (preview->IsBusy()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    preview->View()->SetDivider(0.45);
    bool ok = Save(*preview, folder, QStringLiteral("preview-split.png"));
    preview->findChild<QAbstractButton*>(QStringLiteral("sideBySide"))->click();
    preview->findChild<QAbstractButton*>(QStringLiteral("zoom4"))->click();
    preview->View()->SetCenter(QPointF(150, 20));
    ok = Save(*preview, folder, QStringLiteral("preview-side-by-side.png")) && ok;
    preview->close();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(tessary::AppIcon());
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();

    tessary::CMainDialog dialog;
    dialog.m_bInterlace = 1;
    dialog.m_method = tessary::DeinterlaceMethod::Adaptive;
    dialog.m_bClip = 1;
    dialog.m_nClipTop = 8;
    dialog.m_nClipBottom = 4;
    dialog.m_strOutputFolder = QStringLiteral("/home/user/Pictures/repaired/");
    for (const char* name : {"capture-0001.jpg", "capture-0002.jpg", "capture-0003.bmp"}) {
        dialog.AppendInputs({QStringLiteral("/home/user/Pictures/") + QLatin1String(name)});
    }
    dialog.AppendInputs(
        {QStringLiteral("/home/user/Videos/Holiday 1998/Tape 3 - the lake/"
                        "frames exported from the capture card/frame-0412.bmp")});
    const QFont font = dialog.font();
    const tessary::DialogBaseUnits units = tessary::BaseUnitsFor(font);
    qInfo("dialog font %s %d pt: %d x %d pixels per character", qPrintable(font.family()),
          font.pointSize(), units.avgCharWidth, units.charHeight);
    bool ok = Save(dialog, folder, QStringLiteral("main-dialog.png"));
    dialog.resize(dialog.width() + 260, dialog.height() + 120);
    ok = Save(dialog, folder, QStringLiteral("main-dialog-enlarged.png")) && ok;

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
    ok = SavePreviews(folder) && ok;
    return ok ? 0 : 1;
}
