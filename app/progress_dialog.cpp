#include "app/progress_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include "app/dialog_builder.h"
#include "app/resources/string_table.h"
#include "app/ui_services.h"

namespace tessary {
namespace {

constexpr int kCancelButtonId = 2;
constexpr int kBarId = 1003;
constexpr int kPercentId = 1004;
constexpr int kStatusId = 1005;

}  // namespace

QString PercentText(int32_t position, int32_t lower, int32_t upper) {
    // 64 bits so that no product wraps; an empty range has no share to show.
    const int64_t span = static_cast<int64_t>(upper) - lower;
    int64_t percent = 0;
    if (span != 0) {
        percent = (static_cast<int64_t>(position) - lower) * 100 / span;
    }
    if (percent != 100) {
        percent %= 100;
    }
    return QString::number(percent) + QLatin1Char('%');
}

CProgressDialog::CProgressDialog(QWidget* parent, unsigned captionId)
    // No Qt parent: disabling the parent widget would disable a child window with it.
    : QDialog(nullptr),
      m_pParent(parent ? parent->window() : nullptr),
      m_nCaptionId(captionId != 0 ? captionId : kRenderingStringId) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
}

CProgressDialog::~CProgressDialog() {
    Destroy();
}

void CProgressDialog::SetRange(int32_t lower, int32_t upper) {
    m_nLower = lower;
    m_nUpper = upper;
    if (m_pBar) {
        m_pBar->setRange(lower, upper);
    }
}

bool CProgressDialog::Create() {
    if (m_pParent && m_pParent->isEnabled()) {
        m_pParent->setEnabled(false);
        m_bParentDisabled = 1;
    }
    BuildDialog(*this, *FindDialogTemplate(kProgressDialogId));
    m_pBar = FindControlAs<QProgressBar>(this, kBarId);
    if (auto* cancel = FindControlAs<QPushButton>(this, kCancelButtonId)) {
        connect(cancel, &QPushButton::clicked, this, &CProgressDialog::OnCancel);
    }
    OnInitDialog();
    if (m_pParent) {
        // Stand over the main dialog as its own window would.
        winId();
        if (QWindow* own = windowHandle(); own && m_pParent->windowHandle()) {
            own->setTransientParent(m_pParent->windowHandle());
        }
        move(m_pParent->geometry().center() - rect().center());
    }
    show();
    m_bWindowExists = true;
    return true;
}

void CProgressDialog::OnInitDialog() {
    m_pBar->setRange(m_nLower, m_nUpper);
    m_pBar->setValue(m_nLower);
    setWindowTitle(LoadResourceString(m_nCaptionId));
}

void CProgressDialog::SetStatus(const std::string& text) {
    if (auto* status = FindControlAs<QLabel>(this, kStatusId)) {
        status->setText(QString::fromStdString(text));
    }
}

void CProgressDialog::SetPos(int32_t position) {
    SetPosition(position);
}

int CProgressDialog::SetPosition(int32_t position) {
    PumpMessages();
    if (!m_pBar) {
        return 0;
    }
    const int previous = m_pBar->value();
    m_pBar->setValue(position);
    UpdatePercent(position);
    return previous;
}

int CProgressDialog::PollCancel() {
    PumpMessages();
    const int request = m_bCancel;
    m_bCancel = 0;
    return request;
}

void CProgressDialog::ShowMessage(const std::string& text) {
    // Owned by this window: the disabled main dialog could not take the box's input.
    Ui().ShowMessage(m_bWindowExists ? this : nullptr, QString::fromStdString(text));
}

void CProgressDialog::Destroy() {
    if (m_bWindowExists) {
        DestroyWindow();
    }
}

void CProgressDialog::OnCancel() {
    m_bCancel = 1;
}

void CProgressDialog::closeEvent(QCloseEvent* event) {
    OnCancel();
    event->ignore();
}

void CProgressDialog::DestroyWindow() {
    // The parent first, so that it can take the activation when this window goes.
    ReenableParent();
    hide();
    m_bWindowExists = false;
}

void CProgressDialog::ReenableParent() {
    if (m_bParentDisabled && m_pParent) {
        m_pParent->setEnabled(true);
    }
    m_bParentDisabled = 0;
}

void CProgressDialog::UpdatePercent(int32_t position) {
    auto* label = FindControlAs<QLabel>(this, kPercentId);
    if (!label) {
        return;
    }
    const QString text = PercentText(position, m_nLower, m_nUpper);
    if (label->text() != text) {
        label->setText(text);
    }
}

void CProgressDialog::PumpMessages() {
    // Everything already waiting, for every window; returns at once when nothing is.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace tessary
