#pragma once

#include <QDialog>

namespace tessary {

// The About box: program name and version, the maker's notice, the disclaimer, OK.
class CAboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    int DoModal() { return exec(); }
};

}  // namespace tessary
