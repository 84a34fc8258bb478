#include "app/preview_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace tessary {
namespace {

constexpr int kGap = 4;              // between the two areas side by side
constexpr int kDividerGrip = 6;      // pixels either side of the divider that take it
constexpr double kWheelStep = 1.25;  // zoom per notch of the wheel
constexpr double kMinScale = 1.0 / 64;
constexpr double kMaxScale = 64;
constexpr double kSquarePixels = 2;  // from this scale on, no smoothing
constexpr int kWheelNotch = 120;
const QColor kBackground(40, 40, 40);

QPointF Middle(const QRect& area) {
    return QPointF(area.x() + area.width() / 2.0, area.y() + area.height() / 2.0);
}

}  // namespace

PreviewView::PreviewView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(64, 48);
    setFocusPolicy(Qt::StrongFocus);
}

void PreviewView::SetPictures(const QImage& original, const QImage& repaired, bool keepView) {
    const bool sameSize = original.size() == m_original.size();
    m_original = original;
    m_repaired = repaired;
    m_message.clear();
    m_smallScale = 0;
    if (!keepView || !sameSize) {
        m_bFit = true;
        m_center = QPointF(original.width() / 2.0, original.height() / 2.0);
    }
    ClampCenter();
    update();
    emit ZoomChanged();
}

void PreviewView::Clear(const QString& message) {
    m_original = m_repaired = m_originalSmall = m_repairedSmall = QImage();
    m_smallScale = 0;
    m_message = message;
    update();
}

void PreviewView::SetLayout(Layout layout) {
    m_layout = layout;
    ClampCenter();
    update();
    emit ZoomChanged();
}

void PreviewView::ZoomToFit() {
    m_bFit = true;
    m_center = QPointF(m_original.width() / 2.0, m_original.height() / 2.0);
    update();
    emit ZoomChanged();
}

void PreviewView::SetZoom(double scale) {
    ZoomAbout(scale, Middle(LeftArea()));
}

void PreviewView::ZoomAbout(double scale, QPointF anchor) {
    const QPointF fromMiddle = anchor - Middle(AreaAt(anchor.toPoint()));
    // The picture point under the anchor stays under it.
    const QPointF picturePoint = m_center + fromMiddle / Zoom();
    m_scale = std::clamp(scale, kMinScale, kMaxScale);
    m_bFit = false;
    m_center = picturePoint - fromMiddle / m_scale;
    ClampCenter();
    update();
    emit ZoomChanged();
}

double PreviewView::Zoom() const {
    return m_bFit ? FitScale() : m_scale;
}

double PreviewView::FitScale() const {
    if (m_original.isNull()) {
        return 1;
    }
    const QRect area = LeftArea();
    return std::max(kMinScale, std::min(double(area.width()) / m_original.width(),
                                        double(area.height()) / m_original.height()));
}

void PreviewView::SetDivider(double share) {
    m_divider = std::clamp(share, 0.0, 1.0);
    update();
}

void PreviewView::SetCenter(QPointF center) {
    m_center = center;
    ClampCenter();
    update();
}

QRect PreviewView::LeftArea() const {
    if (m_layout == Layout::Split) {
        return rect();
    }
    return QRect(0, 0, (width() - kGap) / 2, height());
}

QRect PreviewView::RightArea() const {
    if (m_layout == Layout::Split) {
        return rect();
    }
    const int left = (width() - kGap) / 2 + kGap;
    return QRect(left, 0, width() - left, height());
}

QRect PreviewView::AreaAt(QPoint at) const {
    return RightArea().contains(at) ? RightArea() : LeftArea();
}

void PreviewView::ClampCenter() {
    // A picture smaller than its area stays in the middle; a larger one can't be
    // dragged off the area's edge.
    const double scale = Zoom();
    const QRect area = LeftArea();
    auto clampAxis = [scale](double center, int pictureSize, int areaSize) {
        const double half = areaSize / (2 * scale);
        if (pictureSize <= 2 * half) {
            return pictureSize / 2.0;
        }
        return std::clamp(center, half, pictureSize - half);
    };
    m_center.setX(clampAxis(m_center.x(), m_original.width(), area.width()));
    m_center.setY(clampAxis(m_center.y(), m_original.height(), area.height()));
}

QPoint PreviewView::Origin(const QRect& area) const {
    // Whole pixels, so that at 2:1 and 4:1 every picture pixel covers the same square.
    const QPointF origin = Middle(area) - m_center * Zoom();
    return QPoint(int(std::lround(origin.x())), int(std::lround(origin.y())));
}

int PreviewView::DividerX() const {
    return int(std::lround(m_divider * width()));
}

bool PreviewView::NearDivider(QPoint at) const {
    return m_layout == Layout::Split && std::abs(at.x() - DividerX()) <= kDividerGrip;
}

void PreviewView::UpdateScaledDown() {
    const double scale = Zoom();
    if (scale >= 1 || m_original.isNull() || scale == m_smallScale) {
        return;
    }
    const QSize size(std::max(1, int(std::lround(m_original.width() * scale))),
                     std::max(1, int(std::lround(m_original.height() * scale))));
    m_originalSmall = m_original.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_repairedSmall = m_repaired.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    m_smallScale = scale;
}

void PreviewView::DrawPicture(QPainter& painter, const QRect& area, const QRect& clip,
                              const QImage& image, const QImage& scaledDown) const {
    const QRect visible = clip & area;
    if (visible.isEmpty() || image.isNull()) {
        return;
    }
    painter.save();
    painter.setClipRect(visible);
    const QPoint origin = Origin(area);
    const double scale = Zoom();
    if (scale < 1) {
        painter.drawImage(origin, scaledDown);
    } else {
        // Only the part that shows, so a large zoom never scales the whole picture.
        const QRectF shown =
            QRectF(QPointF(visible.topLeft() - origin) / scale, QSizeF(visible.size()) / scale)
                .intersected(QRectF(image.rect()));
        if (shown.isEmpty()) {
            painter.restore();
            return;
        }
        const QRect source(
            QPoint(int(std::floor(shown.left())), int(std::floor(shown.top()))),
            QPoint(int(std::ceil(shown.right())) - 1, int(std::ceil(shown.bottom())) - 1));
        const QRectF target(QPointF(origin) + QPointF(source.topLeft()) * scale,
                            QSizeF(source.size()) * scale);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < kSquarePixels);
        painter.drawImage(target, image, source);
    }
    painter.restore();
}

void PreviewView::DrawCaption(QPainter& painter, const QRect& area, const QString& text,
                              Qt::Alignment side) const {
    const QFontMetrics metrics(font());
    const int pad = metrics.height() / 4;
    QRect box(0, 0, metrics.horizontalAdvance(text) + 4 * pad, metrics.height() + 2 * pad);
    box.moveTop(area.top() + pad);
    if (side == Qt::AlignLeft) {
        box.moveLeft(area.left() + pad);
    } else {
        box.moveRight(area.right() - pad);
    }
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

void PreviewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    if (m_original.isNull()) {
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    UpdateScaledDown();
    const QString original = tr("Original");
    const QString repaired = tr("Repaired");
    if (m_layout == Layout::Split) {
        const int x = DividerX();
        DrawPicture(painter, rect(), QRect(0, 0, x, height()), m_original, m_originalSmall);
        DrawPicture(painter, rect(), QRect(x, 0, width() - x, height()), m_repaired,
                    m_repairedSmall);
        painter.setPen(QPen(QColor(255, 255, 255, 220), 1));
        painter.drawLine(x, 0, x, height());
        const int grip = kDividerGrip;
        painter.setBrush(QColor(255, 255, 255, 220));
        painter.drawEllipse(QPoint(x, height() / 2), grip, grip);
        DrawCaption(painter, QRect(0, 0, x, height()), original, Qt::AlignLeft);
        DrawCaption(painter, QRect(x, 0, width() - x, height()), repaired, Qt::AlignRight);
    } else {
        DrawPicture(painter, LeftArea(), LeftArea(), m_original, m_originalSmall);
        DrawPicture(painter, RightArea(), RightArea(), m_repaired, m_repairedSmall);
        DrawCaption(painter, LeftArea(), original, Qt::AlignLeft);
        DrawCaption(painter, RightArea(), repaired, Qt::AlignLeft);
    }
}

void PreviewView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ClampCenter();
    if (m_bFit) {
        emit ZoomChanged();
    }
}

void PreviewView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / double(kWheelNotch);
    if (notches == 0 || m_original.isNull()) {
        event->ignore();
        return;
    }
    ZoomAbout(Zoom() * std::pow(kWheelStep, notches), event->position());
    event->accept();
}

void PreviewView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragFrom = event->position().toPoint();
    m_centerFrom = m_center;
    m_drag = NearDivider(m_dragFrom) ? Drag::Divider : Drag::Pan;
    if (m_drag == Drag::Pan) {
        setCursor(Qt::ClosedHandCursor);
    }
}

void PreviewView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    switch (m_drag) {
        case Drag::Divider:
            SetDivider(width() > 0 ? double(at.x()) / width() : 0.5);
            break;
        case Drag::Pan:
            SetCenter(m_centerFrom - QPointF(at - m_dragFrom) / Zoom());
            break;
        case Drag::None:
            setCursor(NearDivider(at) ? Qt::SplitHCursor : Qt::OpenHandCursor);
            break;
    }
}

void PreviewView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_drag = Drag::None;
        setCursor(NearDivider(event->position().toPoint()) ? Qt::SplitHCursor : Qt::OpenHandCursor);
    }
}

}  // namespace tessary
