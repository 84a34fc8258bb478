#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace tessary {

// What the open and save dialogs are asked for.
struct FileDialogRequest {
    QStringList nameFilters;  // "Description (*.a *.b)", the first one active
    QString defaultSuffix;
    QString initialPath;  // save dialog: a folder or a file to start from; may be empty
};

// Message boxes and file dialogs, in one place so that tests can answer them.
class UiServices {
  public:
    virtual ~UiServices() = default;
    // A modal box with the warning icon, one OK button and the application name as title.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // Full paths of the chosen existing files, in the dialog's order; empty when cancelled.
    virtual QStringList GetOpenFileNames(QWidget* parent, const FileDialogRequest& request) = 0;
    // The chosen full path; empty when cancelled. Nothing is created on disk.
    virtual QString GetSaveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
};

// The services in use: the Qt widgets unless a test put its own in place.
UiServices& Ui();
// nullptr restores the Qt widgets. The caller keeps ownership.
void SetUiServices(UiServices* services);

// The Qt widgets behind Ui(), for a test that drives them itself.
UiServices& QtUiServices();

}  // namespace tessary
