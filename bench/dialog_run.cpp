// Runs the desktop program's Process on the files given, with Deinterlace ticked and
// every other option at its default, and prints the seconds from the click to the end.
//
// Usage: bench_dialog_run OUT_DIR FILE...   (QT_QPA_PLATFORM=offscreen for no display)

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <cstdio>

#include "app/dialog_builder.h"
#include "app/main_dialog.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s OUT_DIR FILE...\n", argv[0]);
        return 2;
    }
    tessary::CMainDialog dialog;
    dialog.m_bInterlace = 1;
    dialog.m_strOutputFolder = args[1] + QLatin1Char('/');
    dialog.AppendInputs(args.mid(2));
    dialog.show();
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    tessary::FindControlAs<QPushButton>(&dialog, tessary::CMainDialog::kProcessId)->click();
    std::printf("%.3f\n", double(clock.nsecsElapsed()) / 1e9);
    return 0;
}
