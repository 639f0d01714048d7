#pragma once

#include <QColor>
#include <QPointF>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>
#include <array>

// The row's open/close chevron: one open polyline that folds from pointing
// down (progress 0) to pointing up (progress 1). QML animates
// animationProgress with a NumberAnimation; every step repaints.
//
// The chevron fills the item minus half the line width on each side, so the
// round caps are not cut off: a 10 x 10 chevron drawn 2 wide needs a
// 12 x 12 item.
class AnimatedChevron : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(qreal animationProgress READ animationProgress WRITE setAnimationProgress NOTIFY
                   animationProgressChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(qreal lineWidth READ lineWidth WRITE setLineWidth NOTIFY lineWidthChanged)

public:
    explicit AnimatedChevron(QQuickItem *parent = nullptr);

    qreal animationProgress() const { return m_animationProgress; }
    void setAnimationProgress(qreal progress);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    qreal lineWidth() const { return m_lineWidth; }
    void setLineWidth(qreal width);

    void paint(QPainter *painter) override;

    // The three points in a w x h box: pointing down for progress 0 up to
    // 0.5, flattening through a straight line at 0.75, pointing up at 1.
    static std::array<QPointF, 3> points(double w, double h, double progress);

Q_SIGNALS:
    void animationProgressChanged();
    void colorChanged();
    void lineWidthChanged();

private:
    qreal m_animationProgress = 0;
    QColor m_color = Qt::black;
    qreal m_lineWidth = 2;
};
