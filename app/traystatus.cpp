#include "traystatus.h"

#include "sessionlistmodel.h"
#include "uibridge.h"

#include <QPainter>
#include <QPixmap>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace TrayStatus {

Counts count(const SessionListModel &sessions)
{
    Counts counts;
    for (int row = 0; row < sessions.count(); ++row) {
        const Session &instance = sessions.session(row);
        if (instance.exited || instance.disconnected)
            continue;
        if (instance.status == SessionStatus::working)
            ++counts.working;
        else if (instance.status == SessionStatus::waitingForInput)
            ++counts.waiting;
        else if (instance.status == SessionStatus::failed)
            ++counts.failed;
    }
    return counts;
}

QString toolTip(const Counts &counts)
{
    QStringList parts;
    if (counts.working > 0)
        parts << QString::number(counts.working) + u" working"_s;
    if (counts.failed > 0)
        parts << QString::number(counts.failed) + u" failed"_s;
    if (counts.waiting > 0)
        parts << QString::number(counts.waiting) + u" waiting for input"_s;
    return u"Tolvo — "_s + (parts.isEmpty() ? u"idle"_s : parts.join(u", "_s));
}

StatusColor color(const Counts &counts)
{
    if (counts.waiting > 0)
        return StatusColor::red;
    if (counts.failed > 0)
        return StatusColor::purple;
    if (counts.working > 0)
        return StatusColor::yellow;
    return StatusColor::gray;
}

QIcon icon(StatusColor color)
{
    const QIcon logo(u":/TolvoLogo.svg"_s);
    QIcon composed;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        logo.paint(&painter, pixmap.rect());
        // A white ring keeps the dot apart from the logo on any panel colour.
        const qreal diameter = side * 0.5;
        const QRectF dot(side - diameter, side - diameter, diameter, diameter);
        painter.setPen(QPen(Qt::white, qMax(1.0, side / 16.0)));
        painter.setBrush(UiBridge::statusColor(color));
        painter.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.end();
        composed.addPixmap(pixmap);
    }
    return composed;
}

} // namespace TrayStatus
