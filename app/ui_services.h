#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace tessary {

// What the open and save dialogs are asked for.
struct FileDialogRequest {
    QStringList nameFilters;  // "Description (*.a *.b)", the first one active
    QString defaultSuffix;
};

// Message boxes and file dialogs, in one place so that tests can answer them.
class UiServices {
  public:
    virtual ~UiServices() = default;
    // A modal box with the warning icon, one OK button and the application name as title.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // A modal question under the application name with Yes and No, No the default (Escape
    // and the close box answer No too). True only for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
    // Full paths of the chosen existing files, in the dialog's order; empty when cancelled.
    virtual QStringList GetOpenFileNames(QWidget* parent, const FileDialogRequest& request) = 0;
    // The chosen existing folder, without a trailing separator unless it is the root;
    // empty when cancelled. startFolder may be empty or name no folder.
    virtual QString GetExistingFolder(QWidget* parent, const QString& startFolder) = 0;
};

// The services in use: the Qt widgets unless a test put its own in place.
UiServices& Ui();
// nullptr restores the Qt widgets. The caller keeps ownership.
void SetUiServices(UiServices* services);

// The Qt widgets behind Ui(), for a test that drives them itself.
UiServices& QtUiServices();

}  // namespace tessary
