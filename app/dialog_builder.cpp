#include "app/dialog_builder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include "app/app_icon.h"

namespace tessary {
namespace {

// The rounding of a multiply-then-divide, as dialog-unit conversion does it.
int ScaleRounded(int value, int numerator, int denominator) {
    const int64_t product = static_cast<int64_t>(value) * numerator;
    const int64_t half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

QWidget* MakeEdit(QWidget* parent, const ControlTemplate& c) {
    QLineEdit* edit = (c.style & kDigitsOnly) ? new DigitsOnlyEdit(parent) : new QLineEdit(parent);
    edit->setFrame((c.style & kBorder) != 0);
    edit->setAlignment((c.style & kCentred) ? Qt::AlignCenter : (Qt::AlignLeft | Qt::AlignVCenter));
    edit->setText(QString::fromUtf8(c.text));
    return edit;
}

QWidget* MakeListBox(QWidget* parent, const ControlTemplate& c) {
    auto* list = new QListWidget(parent);
    list->setSelectionMode((c.style & kExtendedSelection) ? QAbstractItemView::ExtendedSelection
                                                          : QAbstractItemView::SingleSelection);
    // A vertical bar when the entries overflow; long paths are cut, not scrolled sideways.
    list->setVerticalScrollBarPolicy((c.style & kVScroll) ? Qt::ScrollBarAsNeeded
                                                          : Qt::ScrollBarAlwaysOff);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setTextElideMode(Qt::ElideNone);
    list->setFrameShape((c.style & kBorder) ? QFrame::StyledPanel : QFrame::NoFrame);
    list->setSortingEnabled(false);
    list->setUniformItemSizes(true);
    return list;
}

QWidget* MakeLabel(QWidget* parent, const ControlTemplate& c) {
    // Plain text always: a status line shows file paths, which must never be taken as markup.
    auto* label = new QLabel(QString::fromUtf8(c.text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap((c.style & kWordWrap) != 0);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* MakeIcon(QWidget* parent, const QRect& box) {
    auto* label = new QLabel(parent);
    const int side = std::min(box.width(), box.height()) >= 32 ? 32 : 16;
    label->setPixmap(AppIcon().pixmap(side, side));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QWidget* MakeControl(QWidget* parent, const ControlTemplate& c, const QRect& box) {
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton: {
            auto* button = new QPushButton(text, parent);
            button->setDefault(c.kind == ControlKind::DefaultPushButton);
            return button;
        }
        case ControlKind::ListBox:
            return MakeListBox(parent, c);
        case ControlKind::StaticText:
            return MakeLabel(parent, c);
        case ControlKind::StaticIcon:
            return MakeIcon(parent, box);
        case ControlKind::AutoCheckBox:
            return new QCheckBox(text, parent);
        case ControlKind::Edit:
            return MakeEdit(parent, c);
        case ControlKind::GroupBox:
            return new QGroupBox(text, parent);
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(parent);
            bar->setTextVisible(false);
            return bar;
        }
    }
    return new QWidget(parent);
}

}  // namespace

QFont DialogFont(int pointSize) {
    QFont font = QApplication::font();
    font.setPointSize(pointSize);
    return font;
}

DialogBaseUnits BaseUnitsFor(const QFont& font) {
    const QFontMetrics metrics(font);
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // Average over both cases, rounded to whole pixels.
    const int total = metrics.horizontalAdvance(kAlphabet);
    return {(total / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int width, int height) {
    const int left = ScaleRounded(x, units.avgCharWidth, 4);
    const int top = ScaleRounded(y, units.charHeight, 8);
    const int right = ScaleRounded(x + width, units.avgCharWidth, 4);
    const int bottom = ScaleRounded(y + height, units.charHeight, 8);
    return QRect(left, top, right - left, bottom - top);
}

void BuildDialog(QDialog& dialog, const DialogTemplate& layout) {
    const QFont font = DialogFont(layout.fontPointSize);
    dialog.setFont(font);
    dialog.setWindowTitle(QString::fromUtf8(layout.caption));
    const DialogBaseUnits units = BaseUnitsFor(font);
    const QRect client = DialogUnitsToPixels(units, 0, 0, layout.width, layout.height);
    dialog.setFixedSize(client.size());

    for (const ControlTemplate& c : layout.controls) {
        const QRect box = DialogUnitsToPixels(units, c.x, c.y, c.width, c.height);
        QWidget* widget = MakeControl(&dialog, c, box);
        widget->setGeometry(box);
        if (c.id != kNoControlId) {
            widget->setProperty(kControlIdProperty, c.id);
            widget->setObjectName(QStringLiteral("control%1").arg(c.id));
        }
        if (c.style & kHidden) {
            widget->hide();
        }
        // A frame drawn over the controls it surrounds must not take their clicks.
        if (c.kind == ControlKind::GroupBox) {
            widget->lower();
        }
    }
}

QWidget* FindControl(const QWidget* dialog, int id) {
    // Controls may sit inside frames of a layout, but never in another window.
    const QList<QWidget*> children = dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        const QVariant value = child->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id) {
            return child;
        }
    }
    for (QWidget* child : children) {
        if (!child->isWindow()) {
            if (QWidget* found = FindControl(child, id)) {
                return found;
            }
        }
    }
    return nullptr;
}

void DigitsOnlyEdit::keyPressEvent(QKeyEvent* event) {
    const QString text = event->text();
    const bool typesCharacter = !text.isEmpty() && text.at(0).isPrint() &&
                                !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
    if (typesCharacter) {
        for (QChar ch : text) {
            if (ch < u'0' || ch > u'9') {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace tessary
