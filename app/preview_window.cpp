#include "app/preview_window.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

#include "app/preview_view.h"

namespace tessary {
namespace {

constexpr QSize kInitialSize(960, 660);
// The most rows the dialog's Top and Bottom fields take.
constexpr int32_t kMaxBandRows = kMaxClipRows;
// The fixed zooms of the tool bar; 0 stands for "fit".
constexpr double kZoomSteps[] = {0, 1, 2, 4};

QString FileName(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QToolButton* ToolButton(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setObjectName(QLatin1String(name));
    button->setCheckable(true);
    button->setAutoRaise(true);
    return button;
}

}  // namespace

PreviewWindow::PreviewWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    m_pView = new PreviewView(this);
    m_pInfo = new QLabel(this);
    m_pInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // However long the file's name, the window keeps its width; the tooltip has it whole.
    m_pInfo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeToolBar());
    layout->addWidget(m_pView, 1);
    layout->addWidget(m_pInfo);
    layout->addWidget(MakeDetectionRow());
    resize(kInitialSize);

    connect(&m_watcher, &QFutureWatcher<PreviewPicture>::finished, this,
            &PreviewWindow::OnRendered);
    connect(m_pView, &PreviewView::ZoomChanged, this, &PreviewWindow::ShowZoom);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);
}

PreviewWindow::~PreviewWindow() {
    // A job still running finishes on its own; its result is dropped with the watcher.
    m_watcher.disconnect();
}

QWidget* PreviewWindow::MakeToolBar() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);

    auto* layouts = new QButtonGroup(bar);
    QToolButton* split = ToolButton(tr("&Split"), "split", bar);
    QToolButton* sideBySide = ToolButton(tr("Side by si&de"), "sideBySide", bar);
    split->setChecked(true);
    layouts->addButton(split, int(PreviewView::Layout::Split));
    layouts->addButton(sideBySide, int(PreviewView::Layout::SideBySide));
    connect(layouts, &QButtonGroup::idClicked, this,
            [this](int id) { m_pView->SetLayout(PreviewView::Layout(id)); });
    row->addWidget(split);
    row->addWidget(sideBySide);
    row->addSpacing(16);

    m_pZoomButtons = new QButtonGroup(bar);
    const QString zoomTexts[] = {tr("&Fit"), tr("&1:1"), tr("&2:1"), tr("&4:1")};
    const char* zoomNames[] = {"zoomFit", "zoom1", "zoom2", "zoom4"};
    for (int i = 0; i < int(std::size(kZoomSteps)); ++i) {
        QToolButton* button = ToolButton(zoomTexts[i], zoomNames[i], bar);
        m_pZoomButtons->addButton(button, i);
        row->addWidget(button);
    }
    m_pZoomButtons->button(0)->setChecked(true);
    connect(m_pZoomButtons, &QButtonGroup::idClicked, this, [this](int id) {
        if (kZoomSteps[id] == 0) {
            m_pView->ZoomToFit();
        } else {
            m_pView->SetZoom(kZoomSteps[id]);
        }
    });
    m_pZoom = new QLabel(bar);
    row->addWidget(m_pZoom);
    row->addStretch(1);
    return bar;
}

QWidget* PreviewWindow::MakeDetectionRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_pDetection = new QLabel(row);
    m_pDetection->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* useBands = new QPushButton(tr("&Use these bands"), row);
    useBands->setObjectName(QStringLiteral("useBands"));
    useBands->setEnabled(false);
    useBands->setToolTip(tr("Tick Clip and put the bands into Top and Bottom"));
    connect(useBands, &QPushButton::clicked, this,
            [this] { emit UseBands(m_nBandTop, m_nBandBottom); });
    m_pUseBands = useBands;
    layout->addWidget(m_pDetection, 1);
    layout->addWidget(useBands);
    return row;
}

void PreviewWindow::ShowDetection(const PreviewPicture& picture) {
    m_nBandTop = picture.bandTop;
    m_nBandBottom = picture.bandBottom;
    const bool bands = picture.detected && (m_nBandTop > 0 || m_nBandBottom > 0);
    // Bands deeper than the fields take would only earn a range message.
    const bool usable = bands && m_nBandTop <= kMaxBandRows && m_nBandBottom <= kMaxBandRows;
    m_pUseBands->setEnabled(usable);
    if (!picture.detected) {
        m_pDetection->setText(picture.failure.isEmpty()
                                  ? tr("Combing and black bands: not looked for in this picture")
                                  : QString());
        return;
    }
    const QString combing = tr("Combing: %1 % (%2)")
                                .arg(picture.combScore, 0, 'f', 1)
                                .arg(picture.combed ? tr("combed") : tr("not combed"));
    const QString found =
        picture.blank ? tr("blank picture, nothing to clip")
        : bands       ? tr("black bands: top %1, bottom %2 rows").arg(m_nBandTop).arg(m_nBandBottom)
                      : tr("no black bands");
    m_pDetection->setText(combing + QStringLiteral(" — ") + found);
}

QString PreviewWindow::DetectionText() const {
    return m_pDetection->text();
}

void PreviewWindow::ShowPicture(const QString& path, const DialogOptions& options) {
    m_strPath = path;
    m_options = options;
    setWindowTitle(tr("Preview - %1").arg(FileName(path)));
    StartRender(false);
}

void PreviewWindow::SetOptions(const DialogOptions& options) {
    if (m_strPath.isEmpty() || options == m_options) {
        return;
    }
    m_options = options;
    StartRender(true);
}

void PreviewWindow::StartRender(bool keepView) {
    if (m_strPath != m_strShownPath) {
        // The bands on offer are the shown picture's; none while another one loads.
        m_pUseBands->setEnabled(false);
    }
    if (m_bBusy) {
        // One job at a time; the newest request runs when this one is done.
        m_bPending = true;
        m_bKeepView = m_bKeepView && keepView;
        return;
    }
    m_bBusy = true;
    m_bKeepView = keepView;
    m_pInfo->setText(tr("Loading %1 ...").arg(FileName(m_strPath)));
    const QString path = m_strPath;
    const DialogOptions options = m_options;
    m_watcher.setFuture(
        QtConcurrent::run([path, options] { return RenderPreview(path, options); }));
}

void PreviewWindow::OnRendered() {
    m_bBusy = false;
    if (m_bPending) {
        m_bPending = false;
        StartRender(m_bKeepView);
        return;
    }
    const PreviewPicture picture = m_watcher.result();
    m_strShownPath = m_strPath;
    const QString name = FileName(m_strPath);
    if (!picture.failure.isEmpty()) {
        m_pView->Clear(picture.failure);
        m_pInfo->setText(name + QStringLiteral(": ") + picture.failure);
    } else {
        m_pView->SetPictures(picture.original, picture.repaired, m_bKeepView);
        QString info = name + QStringLiteral(" — ") + picture.description;
        if (!picture.warning.isEmpty()) {
            info += QStringLiteral(" — ") + picture.warning;
        }
        m_pInfo->setText(info);
    }
    ShowDetection(picture);
    m_pInfo->setToolTip(m_strPath + u'\n' + m_pInfo->text());
    emit Shown();
}

QString PreviewWindow::InfoText() const {
    return m_pInfo->text();
}

void PreviewWindow::ShowZoom() {
    const double zoom = m_pView->Zoom();
    int checked = -1;
    for (int i = 0; i < int(std::size(kZoomSteps)); ++i) {
        if (kZoomSteps[i] == 0 ? m_pView->IsFitting()
                               : !m_pView->IsFitting() && zoom == kZoomSteps[i]) {
            checked = i;
        }
    }
    // No fixed zoom matches after a turn of the wheel, so none may be checked.
    m_pZoomButtons->setExclusive(false);
    for (QAbstractButton* button : m_pZoomButtons->buttons()) {
        button->setChecked(m_pZoomButtons->id(button) == checked);
    }
    m_pZoomButtons->setExclusive(true);
    m_pZoom->setText(QStringLiteral("%1 %").arg(std::lround(zoom * 100)));
}

}  // namespace tessary
