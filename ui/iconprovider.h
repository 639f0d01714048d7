#pragma once

#include <QQuickImageProvider>

// Serves Tolvo's symbols to QML, drawn in any colour:
//
//   Image {
//       source: "image://icon/pin-fill?color=" + palette.highlight
//       sourceSize: Qt.size(16, 16)
//   }
//
// The name picks :/icons/<name>.svg; the colour is "#rrggbb" or "#aarrggbb"
// (what a QML color turns into when joined to a string), and may be written
// percent-encoded as "%23...". Without a colour the symbol stays black.
//
// The engine multiplies sourceSize by the window's device pixel ratio before
// it asks, so the symbol is rendered at exactly the requested size and stays
// sharp on scaled screens. Always give a sourceSize: without one the request
// carries no size, the symbol comes out 24 x 24 device pixels, and the engine
// then shows it at 24 divided by the scale factor.
class TintedIconProvider : public QQuickImageProvider
{
public:
    TintedIconProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // The same drawing without the engine, for C++ callers.
    static QImage render(const QString &name, const QColor &color, const QSize &size);
};
