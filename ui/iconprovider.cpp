#include "iconprovider.h"

#include <QColor>
#include <QFile>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QUrl>

namespace {

const QSize naturalSize(24, 24);

// Names are file stems only, so that an id cannot reach other resources
// ("../TolvoLogo") or the file system.
bool isPlainName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9]+(-[a-z0-9]+)*$"));
    return pattern.match(name).hasMatch();
}

// The engine hands over the id as written after "image://icon/": an
// unencoded '#' of the colour is still there, because QUrl files it under
// the fragment and the engine keeps the fragment in the id.
QColor colorFromQuery(const QString &query)
{
    for (const QString &item : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals < 0 || QStringView(item).left(equals) != QLatin1String("color"))
            continue;
        const QString value = QUrl::fromPercentEncoding(item.mid(equals + 1).toUtf8());
        const QColor color = QColor::fromString(value);
        if (!color.isValid())
            qWarning("TintedIconProvider: \"%s\" is not a colour", qPrintable(value));
        return color;
    }
    return QColor();
}

} // namespace

TintedIconProvider::TintedIconProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QImage TintedIconProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const qsizetype question = id.indexOf(QLatin1Char('?'));
    const QString name = question < 0 ? id : id.left(question);
    const QColor color = question < 0 ? QColor() : colorFromQuery(id.mid(question + 1));

    // A request may fix only one side; symbols are square.
    QSize target = requestedSize;
    if (target.width() <= 0 && target.height() <= 0)
        target = naturalSize;
    else if (target.width() <= 0)
        target.setWidth(target.height());
    else if (target.height() <= 0)
        target.setHeight(target.width());

    QImage image = render(name, color, target);
    if (size)
        *size = image.isNull() ? QSize() : naturalSize;
    return image;
}

QImage TintedIconProvider::render(const QString &name, const QColor &color, const QSize &size)
{
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    if (!isPlainName(name) || !QFile::exists(path)) {
        qWarning("TintedIconProvider: no symbol named \"%s\"", qPrintable(name));
        return QImage();
    }
    QSvgRenderer renderer(path);
    if (!renderer.isValid() || size.isEmpty())
        return QImage();

    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    if (color.isValid()) {
        // Keeps the symbol's coverage and replaces its colour, so edges stay
        // smooth and the colour's own alpha multiplies in.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    return image;
}
