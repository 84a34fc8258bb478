#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>

namespace tessary {

// Draws a picture as loaded beside the same picture repaired, in step: one zoom and one
// centre for both. Split: one picture area with a divider the user drags, the original
// left of it and the repaired picture right of it. Side by side: two areas. Zoom to fit,
// any fixed scale, the mouse wheel; dragging pans. From 2:1 on, every pixel is a square.
class PreviewView : public QWidget {
    Q_OBJECT
  public:
    enum class Layout { Split, SideBySide };

    explicit PreviewView(QWidget* parent = nullptr);

    // keepView: the same picture with other repairs, so the zoom and centre stay.
    void SetPictures(const QImage& original, const QImage& repaired, bool keepView);
    void Clear(const QString& message);
    const QImage& Original() const { return m_original; }
    const QImage& Repaired() const { return m_repaired; }

    void SetLayout(Layout layout);
    Layout GetLayout() const { return m_layout; }
    void ZoomToFit();
    void SetZoom(double scale);
    double Zoom() const;  // the scale in effect, also while fitting
    bool IsFitting() const { return m_bFit; }
    // The divider's place as a share of the width, 0 to 1.
    void SetDivider(double share);
    double Divider() const { return m_divider; }
    // The picture point shown at the middle of each area.
    QPointF Center() const { return m_center; }
    void SetCenter(QPointF center);

    // Where the picture areas lie: one for Split, two for side by side.
    QRect LeftArea() const;
    QRect RightArea() const;

  signals:
    void ZoomChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    enum class Drag { None, Divider, Pan };

    double FitScale() const;
    QPoint Origin(const QRect& area) const;
    int DividerX() const;
    bool NearDivider(QPoint at) const;
    QRect AreaAt(QPoint at) const;
    void ClampCenter();
    void DrawPicture(QPainter& painter, const QRect& area, const QRect& clip, const QImage& image,
                     const QImage& scaledDown) const;
    void DrawCaption(QPainter& painter, const QRect& area, const QString& text,
                     Qt::Alignment side) const;
    void UpdateScaledDown();
    void ZoomAbout(double scale, QPointF anchor);

    QImage m_original;
    QImage m_repaired;
    // Below 1:1 each picture is drawn from a copy made smaller once per scale, smoothly.
    QImage m_originalSmall;
    QImage m_repairedSmall;
    double m_smallScale = 0;
    QString m_message;

    Layout m_layout = Layout::Split;
    bool m_bFit = true;
    double m_scale = 1;
    QPointF m_center;
    double m_divider = 0.5;

    Drag m_drag = Drag::None;
    QPoint m_dragFrom;
    QPointF m_centerFrom;
};

}  // namespace tessary
