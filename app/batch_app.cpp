#include "app/batch_app.h"

#include <QApplication>
#include <QKeyEvent>

#include "app/app_icon.h"
#include "app/main_dialog.h"
#include "app/settings.h"
#include "app/ui_services.h"

namespace tessary {

int CBatchApp::Run(int& argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    CBatchApp app;
    app.InitInstance();
    return 0;
}

bool CBatchApp::InitInstance() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
    // F1 anywhere in the program, the About box included, asks this object for help.
    qApp->installEventFilter(this);
    {
        CMainDialog dialog;
        // Files and folders named on the command line, as from a file manager's "Open With".
        dialog.AddPaths(QCoreApplication::arguments().mid(1));
        dialog.DoModal();
    }
    qApp->removeEventFilter(this);
    return false;
}

void CBatchApp::WinHelp(uintptr_t /*data*/, unsigned /*command*/) {
    // One answer at a time: F1 inside the answer's own box asks nothing new.
    if (m_bHelpShowing) {
        return;
    }
    m_bHelpShowing = true;
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) {
        owner = QApplication::activeWindow();
    }
    Ui().ShowMessage(
        owner && owner->isEnabled() ? owner : nullptr,
        QStringLiteral("Sorry, a help file has not yet been written for this application."));
    m_bHelpShowing = false;
}

bool CBatchApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        constexpr Qt::KeyboardModifiers kHeld =
            Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
        if (key->key() == Qt::Key_F1 && (key->modifiers() & kHeld) == 0) {
            WinHelp(0, kHelpCommand);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tessary
