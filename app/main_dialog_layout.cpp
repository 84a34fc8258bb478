// The main dialog's controls beyond its template, and a layout that lets the window grow.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "app/dialog_builder.h"
#include "app/main_dialog.h"

namespace tessary {
namespace {

constexpr int kPrefixedLabelIndent = 20;  // pixels: a dependent option sits under its box

// List entries drawn as their paths fitted to the row, the file name kept whole.
class PathDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        // As narrow as asked: the row takes the list's width and the path is fitted into it.
        return {1, QStyledItemDelegate::sizeHint(option, index).height()};
    }

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const int margins =
            2 * (option->widget
                     ? option->widget->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1
                     : 4);
        option->text =
            ElidedPath(option->fontMetrics, option->text, option->rect.width() - margins);
    }
};

QLabel* FindLabel(const QWidget* dialog, const char* text) {
    for (QLabel* label : dialog->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->text() == QLatin1String(text)) {
            return label;
        }
    }
    return nullptr;
}

template <typename T>
T* WithId(T* widget, int id) {
    widget->setProperty(kControlIdProperty, id);
    widget->setObjectName(QStringLiteral("control%1").arg(id));
    return widget;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, bool stretchFirst = false) {
    auto* row = new QHBoxLayout;
    if (stretchFirst) {
        row->addStretch(1);
    }
    for (QWidget* widget : widgets) {
        row->addWidget(widget);
    }
    if (!stretchFirst) {
        row->addStretch(1);
    }
    return row;
}

}  // namespace

QString ElidedPath(const QFontMetrics& metrics, const QString& path, int width) {
    if (metrics.horizontalAdvance(path) <= width) {
        return path;
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    const int room = width - metrics.horizontalAdvance(name);
    const QString ellipsis(QChar(0x2026));
    if (slash < 0 || room < metrics.horizontalAdvance(ellipsis + u'/')) {
        return metrics.elidedText(name, Qt::ElideMiddle, width);
    }
    return metrics.elidedText(path.left(slash + 1), Qt::ElideMiddle, room) + name;
}

void CMainDialog::AddNewerControls() {
    auto* method = WithId(new QComboBox(this), kMethodId);
    method->addItem(tr("Pair average"), int(DeinterlaceMethod::Average));
    method->addItem(tr("Keep the top field"), int(DeinterlaceMethod::Top));
    method->addItem(tr("Keep the bottom field"), int(DeinterlaceMethod::Bottom));
    method->addItem(tr("Adaptive"), int(DeinterlaceMethod::Adaptive));
    method->setToolTip(tr("How the two fields become one picture"));
    WithId(new QCheckBox(tr("Only pictures that are co&mbed"), this), kOnlyCombedId)
        ->setToolTip(tr("A picture in which no combing is found is not deinterlaced"));
    WithId(new QCheckBox(tr("A&uto"), this), kAutoClipId)
        ->setToolTip(tr("Clip each picture's own black bands, as found in it"));

    auto* format = WithId(new QComboBox(this), kFormatId);
    format->addItem(tr("As the input's name"), QString());
    for (const OutputFormatEntry& entry : NamedOutputFormats()) {
        format->addItem(QString::fromLatin1(OutputFormatName(entry.format)),
                        QString::fromLatin1(entry.name));
    }
    auto* quality = WithId(new QSpinBox(this), kQualityId);
    quality->setRange(1, kJpegBestQuality);
    WithId(new QCheckBox(tr("Keep meta&data"), this), kMetadataId)
        ->setToolTip(tr("Carry EXIF, ICC profile, XMP and comments into outputs that hold them"));

    auto* preview = WithId(new QPushButton(tr("Pre&view"), this), kPreviewId);
    preview->setToolTip(tr("Show the selected picture as it will be written (Enter in the list)"));
    for (int id : {kWritesId, kRunLineId}) {
        auto* line = WithId(new QLabel(this), id);
        line->setTextFormat(Qt::PlainText);
        // Long paths are fitted, never allowed to widen the window.
        line->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    auto* list = FindControlAs<QListWidget>(this, kListId);
    list->setItemDelegate(new PathDelegate(list));
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void CMainDialog::LayOutControls() {
    const QSize templateSize = size();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setSizeGripEnabled(true);

    auto* left = new QVBoxLayout;
    left->addWidget(FindLabel(this, "Input Images:"));
    left->addWidget(FindControl(this, kListId), 1);
    left->addLayout(Row(
        {FindControl(this, kAddId), FindControl(this, kRemoveId), FindControl(this, kPreviewId)}));

    auto* bands = findChild<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly);
    auto* bandGrid = new QGridLayout(bands);
    int row = 0;
    for (const auto& [label, id] : {std::pair{"Top:", kTopId}, std::pair{"Bottom:", kBottomId}}) {
        QLabel* text = FindLabel(this, label);
        text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        QWidget* field = FindControl(this, id);
        field->setFixedWidth(field->width());  // as wide as the template made it
        bandGrid->addWidget(text, row, 0);
        bandGrid->addWidget(field, row, 1);
        ++row;
    }
    bandGrid->setColumnStretch(2, 1);

    auto* formats = new QGridLayout;
    auto* formatLabel = new QLabel(tr("&Format:"), this);
    formatLabel->setBuddy(FindControl(this, kFormatId));
    auto* qualityLabel = new QLabel(tr("JPEG &quality:"), this);
    qualityLabel->setBuddy(FindControl(this, kQualityId));
    formats->addWidget(formatLabel, 0, 0);
    formats->addWidget(FindControl(this, kFormatId), 0, 1);
    formats->addWidget(qualityLabel, 1, 0);
    formats->addWidget(FindControl(this, kQualityId), 1, 1);
    formats->addWidget(FindControl(this, kMetadataId), 2, 0, 1, 2);
    formats->setColumnStretch(2, 1);
    FindControl(this, kQualityId)->setFixedWidth(FindControl(this, kTopId)->width() * 3 / 2);

    auto* onlyCombed = new QHBoxLayout;
    onlyCombed->addSpacing(kPrefixedLabelIndent);
    onlyCombed->addWidget(FindControl(this, kOnlyCombedId));
    onlyCombed->addStretch(1);
    auto* clipBands = new QHBoxLayout;
    clipBands->addSpacing(kPrefixedLabelIndent);
    clipBands->addWidget(bands, 1);

    auto* right = new QVBoxLayout;
    right->addLayout(Row({FindControl(this, kCloseId)}, true));
    right->addLayout(Row({FindControl(this, kDeinterlaceId), FindControl(this, kMethodId)}));
    right->addLayout(onlyCombed);
    right->addLayout(Row({FindControl(this, kClipId), FindControl(this, kAutoClipId)}));
    right->addLayout(clipBands);
    right->addWidget(FindControl(this, kSoftenId));
    right->addLayout(formats);
    right->addStretch(1);
    right->addWidget(FindLabel(this, "Output Location:"));
    auto* location = new QHBoxLayout;
    location->addWidget(FindControl(this, kOutputId), 1);
    location->addWidget(FindControl(this, kBrowseId));
    right->addLayout(location);
    right->addWidget(FindControl(this, kWritesId));
    right->addLayout(Row({FindControl(this, kProcessId)}, true));

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    auto* root = new QVBoxLayout(this);
    root->addLayout(columns, 1);
    root->addWidget(FindControl(this, kRunLineId));
    // The "..." button keeps its narrow shape; the template made it 10 units wide.
    FindControl(this, kBrowseId)->setFixedWidth(FindControl(this, kBrowseId)->width() * 2);
    resize(templateSize.expandedTo(sizeHint()));
}

void CMainDialog::SetNewerTabOrder() {
    // The template's controls keep their order; each newer one follows the control it belongs to.
    const int order[] = {kCloseId,       kListId,    kAddId,        kRemoveId, kPreviewId,
                         kDeinterlaceId, kMethodId,  kOnlyCombedId, kClipId,   kAutoClipId,
                         kTopId,         kBottomId,  kSoftenId,     kFormatId, kQualityId,
                         kMetadataId,    kProcessId, kOutputId,     kBrowseId};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(FindControl(this, order[i]), FindControl(this, order[i + 1]));
    }
}

}  // namespace tessary
