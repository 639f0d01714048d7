#include "animatedchevron.h"

#include <QPainter>
#include <cmath>

AnimatedChevron::AnimatedChevron(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void AnimatedChevron::setAnimationProgress(qreal progress)
{
    if (m_animationProgress == progress)
        return;
    m_animationProgress = progress;
    Q_EMIT animationProgressChanged();
    update();
}

void AnimatedChevron::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
    update();
}

void AnimatedChevron::setLineWidth(qreal width)
{
    if (m_lineWidth == width)
        return;
    m_lineWidth = width;
    Q_EMIT lineWidthChanged();
    update();
}

void AnimatedChevron::paint(QPainter *painter)
{
    const qreal inset = m_lineWidth / 2;
    const auto line = points(width() - m_lineWidth, height() - m_lineWidth, m_animationProgress);
    QPen pen(m_color, m_lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->translate(inset, inset);
    painter->drawPolyline(line.data(), int(line.size()));
}

std::array<QPointF, 3> AnimatedChevron::points(double w, double h, double progress)
{
    const double a = (0.5 - std::abs(progress - 0.5)) * h * 0.5;
    const double b = (progress - 0.5) * h * 0.5;
    const double yEnd = b + (h * 0.5 - a);
    const double yTip = (h * 0.5 + a) - b;
    return {QPointF(0, yEnd), QPointF(w * 0.5, yTip), QPointF(w, yEnd)};
}
