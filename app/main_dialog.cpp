#include "app/main_dialog.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "app/dialog_builder.h"
#include "app/preview_window.h"
#include "app/progress_dialog.h"
#include "app/resources/string_table.h"
#include "app/settings.h"
#include "app/ui_services.h"
#include "formats/image_reader.h"

namespace tessary {
namespace {

constexpr int kMinRows = 0;
constexpr int kMaxRows = kMaxClipRows;
constexpr int kFieldCharacters = 31;
constexpr int kMaxInitialPath = 259;

bool IsBlank(QChar ch) {
    return ch == u' ' || ch == u'\t';
}

}  // namespace

bool ParseFieldInteger(const QString& fullText, int32_t* value) {
    const QString text = fullText.left(kFieldCharacters);
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    const QChar first = i < text.size() ? text[i] : QChar();
    bool negative = false;
    if (first == u'+' || first == u'-') {
        negative = first == u'-';
        ++i;
    }
    const qsizetype digitsStart = i;
    int64_t magnitude = 0;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        // Saturate rather than wrap: an over-long number still gets the range message.
        magnitude =
            std::min<int64_t>(magnitude * 10 + (text[i].unicode() - u'0'), INT64_C(1) << 32);
        ++i;
    }
    if (i == digitsStart) {
        return false;
    }
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    if (i != text.size()) {
        return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue == 0 && first != u'0') {
        return false;
    }
    *value = static_cast<int32_t>(std::clamp<int64_t>(signedValue, INT32_MIN, INT32_MAX));
    return true;
}

CMainDialog::CMainDialog(QWidget* parent) : QDialog(parent), m_hIcon(AppIcon()) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    BuildDialog(*this, *FindDialogTemplate(kMainDialogId));
    ConnectCommands();
    // A path wider than the list scrolls sideways instead of being cut off.
    FindControlAs<QListWidget>(this, kListId)->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    AcceptDropsOnListAndOutput();
}

void CMainDialog::ConnectCommands() {
    auto onClick = [this](int id, void (CMainDialog::*handler)()) {
        if (auto* button = FindControlAs<QAbstractButton>(this, id)) {
            connect(button, &QAbstractButton::clicked, this, handler);
        }
    };
    onClick(kCloseId, &CMainDialog::OnOK);
    onClick(kCancelId, &CMainDialog::OnCancel);
    onClick(kAddId, &CMainDialog::OnAddInputs);
    onClick(kRemoveId, &CMainDialog::OnRemoveInputs);
    onClick(kBrowseId, &CMainDialog::OnBrowseOutput);
    onClick(kProcessId, &CMainDialog::OnProcess);
    // Soften and the edit fields have no handler: their values wait for the next read.
    onClick(kClipId, &CMainDialog::RefreshControls);
    onClick(kDeinterlaceId, &CMainDialog::RefreshControls);
    if (auto* list = FindControlAs<QListWidget>(this, kListId)) {
        connect(list, &QListWidget::itemSelectionChanged, this, &CMainDialog::RefreshControls);
        connect(list, &QListWidget::itemDoubleClicked, this,
                [this, list](QListWidgetItem* item) { OnPreview(list->row(item)); });
    }
}

int CMainDialog::DoModal() {
    LoadSettings();
    const int result = exec();
    SaveSettings();
    return result;
}

void CMainDialog::LoadSettings() {
    SetSettings(ReadBatchSettings());
    m_strOutputFolder = ReadOutputLocation();
}

void CMainDialog::SaveSettings() {
    WriteBatchSettings(Settings());
    WriteOutputLocation(m_strOutputFolder);
}

BatchSettings CMainDialog::Settings() const {
    BatchSettings s;
    s.m_bClip = m_bClip;
    s.m_bInterlace = m_bInterlace;
    s.m_bSoftenBorders = m_bSoftenBorders;
    s.m_nClipTop = m_nClipTop;
    s.m_nClipBottom = m_nClipBottom;
    return s;
}

void CMainDialog::SetSettings(const BatchSettings& s) {
    m_bClip = s.m_bClip;
    m_bInterlace = s.m_bInterlace;
    m_bSoftenBorders = s.m_bSoftenBorders;
    m_nClipTop = s.m_nClipTop;
    m_nClipBottom = s.m_nClipBottom;
}

void CMainDialog::showEvent(QShowEvent* event) {
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void CMainDialog::OnInitDialog() {
    UpdateData(false);
    setWindowIcon(m_hIcon);
}

bool CMainDialog::UpdateData(bool saving) {
    ExchangeCheck(kClipId, m_bClip, saving);
    ExchangeCheck(kDeinterlaceId, m_bInterlace, saving);
    ExchangeCheck(kSoftenId, m_bSoftenBorders, saving);
    if (!ExchangeRowCount(kBottomId, m_nClipBottom, saving) ||
        !ExchangeRowCount(kTopId, m_nClipTop, saving)) {
        m_bLastReadValid = false;
        return false;
    }
    auto* output = FindControlAs<QLineEdit>(this, kOutputId);
    if (saving) {
        m_strOutputFolder = output->text();
        m_bLastReadValid = true;
    } else {
        output->setText(m_strOutputFolder);
        SetEnabledStates();
        if (m_pPreview && m_bLastReadValid) {
            m_pPreview->SetSettings(Settings());
        }
    }
    return true;
}

bool CMainDialog::ExchangeCheck(int id, int32_t& member, bool saving) {
    auto* box = FindControlAs<QCheckBox>(this, id);
    if (saving) {
        member = box->isChecked() ? 1 : 0;
    } else {
        if (member < 0 || member > 2) {
            member = 0;
        }
        // A two-state box shows the third state as checked.
        box->setChecked(member != 0);
    }
    return true;
}

bool CMainDialog::ExchangeRowCount(int id, int32_t& member, bool saving) {
    auto* field = FindControlAs<QLineEdit>(this, id);
    if (!saving) {
        field->setText(QString::number(member));
        return true;
    }
    int32_t value = 0;
    if (!ParseFieldInteger(field->text(), &value)) {
        FailField(id, QStringLiteral("Please enter an integer."));
        return false;
    }
    member = value;
    if (value < kMinRows || value > kMaxRows) {
        FailField(id, QStringLiteral("Please enter an integer between %1 and %2.")
                          .arg(kMinRows)
                          .arg(kMaxRows));
        return false;
    }
    return true;
}

void CMainDialog::FailField(int id, const QString& message) {
    Ui().ShowMessage(this, message);
    auto* field = FindControlAs<QLineEdit>(this, id);
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

void CMainDialog::SetEnabledStates() {
    auto* list = FindControlAs<QListWidget>(this, kListId);
    FindControl(this, kProcessId)->setEnabled(list->count() > 0 && !m_strOutputFolder.isEmpty());
    FindControl(this, kRemoveId)->setEnabled(!list->selectedItems().isEmpty());
    FindControl(this, kTopId)->setEnabled(m_bClip != 0);
    FindControl(this, kBottomId)->setEnabled(m_bClip != 0);
}

void CMainDialog::RefreshControls() {
    UpdateData(true);
    UpdateData(false);
}

QStringList CMainDialog::SupportedImagePatterns() {
    QStringList patterns;
    for (const FormatRow& row : FileFormats()) {
        for (const char* extension : row.extensions) {
            if (extension != nullptr) {
                patterns << QStringLiteral("*") + QLatin1String(extension);
            }
        }
    }
    return patterns;
}

QStringList CMainDialog::InputNameFilters() {
    // Every format the program reads, matched without regard to case; BMP keeps
    // the first place it has always had after "All supported files".
    QStringList filters{
        QStringLiteral("All supported files (%1)").arg(SupportedImagePatterns().join(u' '))};
    auto add = [&filters](const FormatRow& row) {
        QStringList patterns;
        for (const char* extension : row.extensions) {
            if (extension != nullptr) {
                patterns << QStringLiteral("*") + QLatin1String(extension);
            }
        }
        filters << QStringLiteral("%1 (%2)").arg(QLatin1String(row.filterLabel),
                                                 patterns.join(u' '));
    };
    add(RowOf(ImageFormat::Bmp));
    for (const FormatRow& row : FileFormats()) {
        if (row.format != ImageFormat::Bmp) {
            add(row);
        }
    }
    filters << QStringLiteral("All Files (*)");
    return filters;
}

FileDialogRequest CMainDialog::InputDialogRequest() const {
    FileDialogRequest request;
    request.nameFilters = InputNameFilters();
    request.defaultSuffix = QStringLiteral("jpg");
    return request;
}

void CMainDialog::OnAddInputs() {
    UpdateData(true);
    AppendInputs(Ui().GetOpenFileNames(this, InputDialogRequest()));
}

void CMainDialog::AppendInputs(const QStringList& paths) {
    auto* list = FindControlAs<QListWidget>(this, kListId);
    for (const QString& path : paths) {
        m_inputPaths.append(path);
        auto* item = new QListWidgetItem(path, list);
        item->setToolTip(path);
    }
    UpdateData(false);
}

void CMainDialog::OnRemoveInputs() {
    auto* list = FindControlAs<QListWidget>(this, kListId);
    QList<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
        rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    QStringList texts;
    for (int row : rows) {
        texts.append(list->item(row)->text());
    }
    {
        // Deleting entries is not a selection change made by the user.
        const QSignalBlocker blocker(list);
        for (qsizetype i = rows.size() - 1; i >= 0; --i) {
            delete list->takeItem(rows[i]);
            RemoveInputPath(texts[i]);
        }
        list->clearSelection();
    }
    RefreshControls();
}

bool CMainDialog::RemoveInputPath(const QString& text) {
    const qsizetype at = m_inputPaths.indexOf(text);
    if (at < 0) {
        return false;
    }
    m_inputPaths.removeAt(at);
    return true;
}

void CMainDialog::OnBrowseOutput() {
    UpdateData(true);
    m_strOutputFolder = FindControlAs<QLineEdit>(this, kOutputId)->text();
    const QString chosen = Ui().GetExistingFolder(this, m_strOutputFolder.left(kMaxInitialPath));
    if (!chosen.isEmpty()) {
        SetOutputLocation(chosen);
    }
}

QString WithTrailingSeparator(const QString& folder) {
    return folder.endsWith(u'/') ? folder : folder + u'/';
}

void CMainDialog::SetOutputLocation(const QString& folder) {
    // The trailing separator puts each file inside the folder rather than beside it.
    m_strOutputFolder = WithTrailingSeparator(folder);
    FindControlAs<QLineEdit>(this, kOutputId)->setText(m_strOutputFolder);
    UpdateData(false);
}

void CMainDialog::OnProcess() {
    // A bad Top or Bottom has been reported with the focus on it; running with the
    // members as the failed read left them would write pictures nobody asked for.
    if (!UpdateData(true)) {
        return;
    }
    std::vector<std::string> inputs;
    inputs.reserve(static_cast<size_t>(m_inputPaths.size()));
    for (const QString& path : m_inputPaths) {
        inputs.push_back(QFile::encodeName(path).toStdString());
    }
    const SequentialPlan plan =
        PlanSequentialRun(inputs, QFile::encodeName(m_strOutputFolder).toStdString(), Settings());
    if (plan.batch.replaced.count > 0 &&
        !Ui().AskYesNo(this, ReplaceQuestion(plan.batch.replaced))) {
        return;
    }
    RunOutcome outcome;
    {
        CProgressDialog progress(this);
        outcome = RunSequential(plan, progress);
    }
    // Once, at the end, after "Rendering canceled" if the run was cancelled.
    const std::string summary = FailureSummary(outcome);
    if (!summary.empty()) {
        Ui().ShowMessage(this, QFile::decodeName(QByteArray::fromStdString(summary)));
    }
}

QString ReplaceQuestion(const ReplacedOriginals& replaced) {
    const QString first = QFile::decodeName(QByteArray::fromStdString(replaced.first));
    if (replaced.count == 1) {
        return QStringLiteral(
                   "1 original would be replaced by its repaired picture:\n%1\n\n"
                   "Replace it?")
            .arg(first);
    }
    return QStringLiteral(
               "%1 originals would be replaced by their repaired pictures, the first "
               "of them:\n%2\n\nReplace them?")
        .arg(QString::fromStdString(FormatCount(replaced.count)), first);
}

int CMainDialog::SelectedRow() const {
    auto* list = FindControlAs<QListWidget>(this, kListId);
    if (list->currentItem() && list->currentItem()->isSelected()) {
        return list->currentRow();
    }
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

int CMainDialog::PreviewRowAt(QPoint at) const {
    auto* list = FindControlAs<QListWidget>(this, kListId);
    const QPoint inList = list->viewport()->mapFrom(this, at);
    if (list->viewport()->rect().contains(inList)) {
        if (QListWidgetItem* item = list->itemAt(inList)) {
            return list->row(item);
        }
    }
    return SelectedRow();
}

void CMainDialog::OnPreview(int row) {
    auto* list = FindControlAs<QListWidget>(this, kListId);
    if (row < 0 || row >= list->count() || !UpdateData(true)) {
        return;
    }
    if (!m_pPreview) {
        m_pPreview = new PreviewWindow(this);
        connect(m_pPreview, &PreviewWindow::UseBands, this, &CMainDialog::OnUseBands);
    }
    m_pPreview->ShowPicture(list->item(row)->text(), Settings());
    m_pPreview->show();
    m_pPreview->raise();
    m_pPreview->activateWindow();
}

void CMainDialog::OnUseBands(int32_t top, int32_t bottom) {
    FindControlAs<QCheckBox>(this, kClipId)->setChecked(true);
    FindControlAs<QLineEdit>(this, kTopId)->setText(QString::number(top));
    FindControlAs<QLineEdit>(this, kBottomId)->setText(QString::number(bottom));
    // As a click on Clip: the read takes the new values, the preview follows.
    RefreshControls();
}

void CMainDialog::OnOK() {
    if (UpdateData(true)) {
        done(QDialog::Accepted);
    }
}

void CMainDialog::OnCancel() {
    done(QDialog::Rejected);
}

void CMainDialog::keyPressEvent(QKeyEvent* event) {
    // Enter outside a push button is the dialog's OK command, as with any dialog here,
    // except on a selected list entry, which it previews.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        const int row = SelectedRow();
        if (focusWidget() == FindControl(this, kListId) && row >= 0) {
            OnPreview(row);
        } else {
            OnOK();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

QMenu* CMainDialog::BuildWindowMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->addAction(QStringLiteral("&Close"))->setData(kCloseCommand);
    const QString about = LoadResourceString(kAboutMenuStringId);
    if (!about.isEmpty()) {
        menu->addSeparator();
        menu->addAction(about)->setData(kAboutBoxCommand);
    }
    return menu;
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = BuildWindowMenu(this);
    // Previewing comes first: the entry under the pointer, else the selected one.
    const int row = PreviewRowAt(event->pos());
    auto* preview = new QAction(QStringLiteral("&Preview..."), menu);
    preview->setEnabled(row >= 0);
    QAction* first = menu->actions().front();
    menu->insertAction(first, preview);
    menu->insertSeparator(first);
    const QAction* chosen = menu->exec(event->globalPos());
    const bool previewChosen = chosen == preview;
    const int command = chosen ? chosen->data().toInt() : 0;
    delete menu;
    if (previewChosen) {
        OnPreview(row);
    } else if (command != 0) {
        OnSysCommand(command);
    }
}

void CMainDialog::OnSysCommand(int command) {
    // The low four bits of a window-menu command are the system's own.
    switch (command & ~0xF) {
        case kAboutBoxCommand: {
            CAboutDialog about(this);
            about.DoModal();
            break;
        }
        case kCloseCommand:
            OnCancel();
            break;
        default:
            break;
    }
}

}  // namespace tessary
