#include "app/ui_services.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace tessary {
namespace {

// Qt's own dialogs rather than the desktop's: they match names without regard to case
// and behave the same on every desktop.
void PrepareFileDialog(QFileDialog& dialog, const FileDialogRequest& request) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setNameFilters(request.nameFilters);
    if (!request.nameFilters.isEmpty()) {
        dialog.selectNameFilter(request.nameFilters.front());
    }
    dialog.setDefaultSuffix(request.defaultSuffix);
}

class QtWidgetsUi final : public UiServices {
  public:
    void ShowMessage(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                        QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }

    QStringList GetOpenFileNames(QWidget* parent, const FileDialogRequest& request) override {
        QFileDialog dialog(parent);
        PrepareFileDialog(dialog, request);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        if (dialog.exec() != QDialog::Accepted) {
            return {};
        }
        return dialog.selectedFiles();
    }

    bool AskYesNo(QWidget* parent, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                        QMessageBox::Yes | QMessageBox::No, parent);
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    }

    QString GetExistingFolder(QWidget* parent, const QString& startFolder) override {
        QFileDialog dialog(parent, QString(), startFolder);
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, true);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return {};
        }
        return dialog.selectedFiles().front();
    }
};

UiServices* g_override = nullptr;

}  // namespace

UiServices& QtUiServices() {
    static QtWidgetsUi services;
    return services;
}

UiServices& Ui() {
    return g_override ? *g_override : QtUiServices();
}

void SetUiServices(UiServices* services) {
    g_override = services;
}

}  // namespace tessary
