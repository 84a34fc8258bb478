#include "app/about_dialog.h"

#include <QPushButton>

#include "app/dialog_builder.h"

namespace tessary {

CAboutDialog::CAboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    BuildDialog(*this, *FindDialogTemplate(kAboutDialogId));
    if (auto* ok = FindControlAs<QPushButton>(this, 1)) {
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    }
}

}  // namespace tessary
