#include "animatedchevron.h"

#include "rowtext.h"

#include <QPainter>

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
    const auto points =
        RowText::chevronPoints(width() - m_lineWidth, height() - m_lineWidth, m_animationProgress);
    QPen pen(m_color, m_lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->translate(inset, inset);
    painter->drawPolyline(points.data(), int(points.size()));
}
