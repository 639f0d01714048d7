#pragma once

#include <QDBusVariant>
#include <QObject>
#include <QPalette>

// Follows the desktop's light or dark preference where Qt does not already:
// reads org.freedesktop.appearance color-scheme from the desktop portal and
// applies a matching palette, also when the user switches while Tolvo runs.
// Desktops whose Qt integration supplies its own palette (Plasma) are left alone.
class ColorScheme : public QObject
{
    Q_OBJECT
public:
    explicit ColorScheme(QObject *parent = nullptr);

    static QPalette darkPalette();
    static QPalette lightPalette();
    static void apply(bool dark);

private Q_SLOTS:
    void settingChanged(const QString &group, const QString &key, const QDBusVariant &value);

private:
    void read();
};
