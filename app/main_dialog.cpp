#include "app/main_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
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
// How long the preview waits after a change before it renders again, so typing "120" renders once.
constexpr int kPreviewDelayMs = 250;

bool InRowRange(int32_t value) {
    return value >= kMinRows && value <= kMaxRows;
}

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
    AddNewerControls();
    ConnectCommands();
    LayOutControls();
    SetNewerTabOrder();
    // Mnemonics keep the buttons' texts as they read; Delete is the list's own Remove key.
    FindControlAs<QPushButton>(this, kAddId)->setText(QStringLiteral("&Add"));
    FindControlAs<QPushButton>(this, kRemoveId)->setText(QStringLiteral("&Remove"));
    FindControlAs<QPushButton>(this, kProcessId)->setText(QStringLiteral("&Process"));
    auto* list = FindControlAs<QListWidget>(this, kListId);
    connect(new QShortcut(QKeySequence::Delete, list, nullptr, nullptr, Qt::WidgetShortcut),
            &QShortcut::activated, this, &CMainDialog::OnRemoveInputs);
    AcceptDropsOnListAndOutput();
    m_pPreviewDelay = new QTimer(this);
    m_pPreviewDelay->setSingleShot(true);
    m_pPreviewDelay->setInterval(kPreviewDelayMs);
    connect(m_pPreviewDelay, &QTimer::timeout, this, &CMainDialog::FollowInPreview);
    ConnectLiveUpdates();
}

void CMainDialog::ConnectLiveUpdates() {
    const auto later = [this] { m_pPreviewDelay->start(); };
    for (int id : {kTopId, kBottomId}) {
        connect(FindControlAs<QLineEdit>(this, id), &QLineEdit::textChanged, this, later);
    }
    for (int id : {kDeinterlaceId, kClipId, kSoftenId, kAutoClipId, kOnlyCombedId, kMetadataId}) {
        connect(FindControlAs<QCheckBox>(this, id), &QCheckBox::toggled, this, later);
    }
    auto* format = FindControlAs<QComboBox>(this, kFormatId);
    for (auto* combo : {FindControlAs<QComboBox>(this, kMethodId), format}) {
        connect(combo, &QComboBox::currentIndexChanged, this, later);
    }
    connect(FindControlAs<QSpinBox>(this, kQualityId), &QSpinBox::valueChanged, this, later);
    // The "Writes" line follows the location as it is typed and the format as it is chosen.
    connect(format, &QComboBox::currentIndexChanged, this, &CMainDialog::UpdateWritesLine);
    connect(FindControlAs<QLineEdit>(this, kOutputId), &QLineEdit::textChanged, this,
            &CMainDialog::UpdateWritesLine);
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
    onClick(kAutoClipId, &CMainDialog::RefreshControls);
    if (auto* preview = FindControlAs<QAbstractButton>(this, kPreviewId)) {
        connect(preview, &QAbstractButton::clicked, this,
                [this] { OnPreview(std::max(SelectedRow(), 0)); });
    }
    if (auto* list = FindControlAs<QListWidget>(this, kListId)) {
        connect(list, &QListWidget::itemSelectionChanged, this, &CMainDialog::RefreshControls);
        connect(list, &QListWidget::itemSelectionChanged, this, &CMainDialog::UpdateWritesLine);
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
    DialogOptions options;
    options = ReadBatchSettings();
    ReadNewerOptions(options);
    SetOptions(options);
    m_nValidTop = InRowRange(m_nClipTop) ? m_nClipTop : 0;
    m_nValidBottom = InRowRange(m_nClipBottom) ? m_nClipBottom : 0;
    m_strOutputFolder = ReadOutputLocation();
}

void CMainDialog::SaveSettings() {
    DialogOptions options = Options();
    // A row count out of range never reaches the store, however the dialog was closed.
    if (!InRowRange(options.m_nClipTop)) {
        options.m_nClipTop = m_nValidTop;
    }
    if (!InRowRange(options.m_nClipBottom)) {
        options.m_nClipBottom = m_nValidBottom;
    }
    WriteBatchSettings(options);
    WriteNewerOptions(options);
    WriteOutputLocation(m_strOutputFolder);
}

DialogOptions CMainDialog::Options() const {
    DialogOptions options = Settings();
    options.method = m_method;
    options.autoClip = m_bAutoClip;
    options.onlyCombed = m_bOnlyCombed;
    options.format = m_format;
    options.jpegQuality = m_nJpegQuality;
    options.keepMetadata = m_bKeepMetadata;
    return options;
}

void CMainDialog::SetOptions(const DialogOptions& options) {
    SetSettings(options);
    m_method = options.method;
    m_bAutoClip = options.autoClip;
    m_bOnlyCombed = options.onlyCombed;
    m_format = options.format;
    m_nJpegQuality = options.jpegQuality;
    m_bKeepMetadata = options.keepMetadata;
}

std::optional<OutputFormat> CMainDialog::ShownFormat() const {
    const QString name = FindControlAs<QComboBox>(this, kFormatId)->currentData().toString();
    return OutputFormatNamed(name.toStdString());
}

bool CMainDialog::PeekOptions(DialogOptions* options) const {
    DialogOptions shown = Options();
    const auto checked = [this](int id) { return FindControlAs<QCheckBox>(this, id)->isChecked(); };
    shown.m_bClip = checked(kClipId) ? 1 : 0;
    shown.m_bInterlace = checked(kDeinterlaceId) ? 1 : 0;
    shown.m_bSoftenBorders = checked(kSoftenId) ? 1 : 0;
    for (const auto& [id, member] :
         {std::pair{kTopId, &shown.m_nClipTop}, std::pair{kBottomId, &shown.m_nClipBottom}}) {
        int32_t value = 0;
        if (!ParseFieldInteger(FindControlAs<QLineEdit>(this, id)->text(), &value) ||
            !InRowRange(value)) {
            return false;
        }
        *member = value;
    }
    shown.method =
        DeinterlaceMethod(FindControlAs<QComboBox>(this, kMethodId)->currentData().toInt());
    shown.autoClip = checked(kAutoClipId);
    shown.onlyCombed = checked(kOnlyCombedId);
    shown.format = ShownFormat();
    shown.jpegQuality = FindControlAs<QSpinBox>(this, kQualityId)->value();
    shown.keepMetadata = checked(kMetadataId);
    *options = shown;
    return true;
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

void CMainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    UpdateWritesLine();  // its path is fitted to the line's new width
}

void CMainDialog::OnInitDialog() {
    UpdateData(false);
    setWindowIcon(m_hIcon);
}

bool CMainDialog::UpdateData(bool saving) {
    ExchangeCheck(kClipId, m_bClip, saving);
    ExchangeCheck(kDeinterlaceId, m_bInterlace, saving);
    ExchangeCheck(kSoftenId, m_bSoftenBorders, saving);
    ExchangeNewer(saving);
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
        UpdateWritesLine();
        if (m_pPreview && m_bLastReadValid) {
            m_pPreview->SetOptions(Options());
        }
    }
    return true;
}

void CMainDialog::ExchangeNewer(bool saving) {
    auto* method = FindControlAs<QComboBox>(this, kMethodId);
    auto* format = FindControlAs<QComboBox>(this, kFormatId);
    auto* quality = FindControlAs<QSpinBox>(this, kQualityId);
    auto* autoClip = FindControlAs<QCheckBox>(this, kAutoClipId);
    auto* onlyCombed = FindControlAs<QCheckBox>(this, kOnlyCombedId);
    auto* metadata = FindControlAs<QCheckBox>(this, kMetadataId);
    if (saving) {
        m_method = DeinterlaceMethod(method->currentData().toInt());
        m_format = ShownFormat();
        m_nJpegQuality = quality->value();
        m_bAutoClip = autoClip->isChecked();
        m_bOnlyCombed = onlyCombed->isChecked();
        m_bKeepMetadata = metadata->isChecked();
        return;
    }
    method->setCurrentIndex(std::max(0, method->findData(int(m_method))));
    QString formatName;
    for (const OutputFormatEntry& entry : NamedOutputFormats()) {
        if (m_format == entry.format) {
            formatName = QString::fromLatin1(entry.name);
        }
    }
    format->setCurrentIndex(std::max(0, format->findData(formatName)));
    quality->setValue(m_nJpegQuality);
    autoClip->setChecked(m_bAutoClip);
    onlyCombed->setChecked(m_bOnlyCombed);
    metadata->setChecked(m_bKeepMetadata);
}

void CMainDialog::FollowInPreview() {
    DialogOptions options;
    if (m_pPreview && PeekOptions(&options)) {
        m_pPreview->SetOptions(options);
    }
}

void CMainDialog::UpdateWritesLine() {
    auto* line = FindControlAs<QLabel>(this, kWritesId);
    const int row = SelectedRow();
    auto* list = FindControlAs<QListWidget>(this, kListId);
    if (list->count() == 0) {
        line->clear();
        line->setToolTip({});
        return;
    }
    const QString input = list->item(row >= 0 ? row : 0)->text();
    const QString location = ExpandHome(FindControlAs<QLineEdit>(this, kOutputId)->text());
    if (!QDir::isAbsolutePath(location)) {
        line->setText(tr("Give the output location as a full path, such as ~/repaired/"));
        line->setToolTip({});
        return;
    }
    DialogOptions options = Options();
    options.format = ShownFormat();
    const QString output = QFile::decodeName(QByteArray::fromStdString(
        OutputPathFor(QFile::encodeName(input).toStdString(),
                      QFile::encodeName(location).toStdString(), options)));
    const QString prefix = tr("Writes ");
    const int room = line->width() - line->fontMetrics().horizontalAdvance(prefix);
    line->setText(prefix + ElidedPath(line->fontMetrics(), output, std::max(room, 0)));
    line->setToolTip(output);
}

QString ExpandHome(const QString& location) {
    if (location == u'~') {
        return QDir::homePath();
    }
    if (location.startsWith(QStringLiteral("~/"))) {
        return QDir::homePath() + location.mid(1);
    }
    return location;
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
    if (InRowRange(value)) {
        (id == kTopId ? m_nValidTop : m_nValidBottom) = value;
    } else {
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
    // With automatic bands the typed rows are not used, though they are still read.
    const bool typedBands = m_bClip != 0 && !m_bAutoClip;
    FindControl(this, kTopId)->setEnabled(typedBands);
    FindControl(this, kBottomId)->setEnabled(typedBands);
    FindControl(this, kAutoClipId)->setEnabled(m_bClip != 0);
    FindControl(this, kMethodId)->setEnabled(m_bInterlace != 0);
    FindControl(this, kOnlyCombedId)->setEnabled(m_bInterlace != 0);
    FindControl(this, kPreviewId)->setEnabled(list->count() > 0);
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
    m_pPreview->ShowPicture(list->item(row)->text(), Options());
    m_pPreview->show();
    m_pPreview->raise();
    m_pPreview->activateWindow();
}

void CMainDialog::OnUseBands(int32_t top, int32_t bottom) {
    FindControlAs<QCheckBox>(this, kClipId)->setChecked(true);
    // The bands are taken as typed ones: Auto would set them aside.
    FindControlAs<QCheckBox>(this, kAutoClipId)->setChecked(false);
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
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const bool listed = !m_inputPaths.isEmpty();
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        // Enter previews a selected entry, takes a typed value, and closes the program only
        // when there is no list to lose.
        event->accept();
        const int row = SelectedRow();
        if (focusWidget() == FindControl(this, kListId) && row >= 0) {
            OnPreview(row);
        } else if (qobject_cast<QLineEdit*>(focusWidget()) ||
                   qobject_cast<QAbstractSpinBox*>(focusWidget()) || listed) {
            RefreshControls();
        } else {
            OnOK();
        }
        return;
    }
    if (event->key() == Qt::Key_Escape && plain && listed) {
        // The Close button and the close box still end the program.
        event->accept();
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
