#include "colorscheme.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearance = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

bool desktopBringsItsOwnPalette()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP")
        .contains(QLatin1String("KDE"), Qt::CaseInsensitive);
}

// Read() wraps the value in one more variant than ReadOne(); unwrap both.
uint schemeFrom(QVariant value)
{
    while (value.canConvert<QDBusVariant>() &&
           value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    return value.toUInt();
}

} // namespace

ColorScheme::ColorScheme(QObject *parent) : QObject(parent)
{
    if (desktopBringsItsOwnPalette())
        return;
    QDBusConnection::sessionBus().connect(portalService, portalPath, settingsInterface,
                                          QStringLiteral("SettingChanged"), this,
                                          SLOT(settingChanged(QString, QString, QDBusVariant)));
    read();
}

void ColorScheme::read()
{
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    call << appearance << colorSchemeKey;
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QVariant> reply = *w;
        if (!reply.isError())
            apply(schemeFrom(reply.value()) == 1);
    });
}

void ColorScheme::settingChanged(const QString &group, const QString &key,
                                 const QDBusVariant &value)
{
    if (group == appearance && key == colorSchemeKey)
        apply(schemeFrom(value.variant()) == 1);
}

void ColorScheme::apply(bool dark)
{
    QGuiApplication::setPalette(dark ? darkPalette() : lightPalette());
}

QPalette ColorScheme::lightPalette()
{
    return QPalette(QColor(0xef, 0xef, 0xef)); // Fusion's own light palette
}

QPalette ColorScheme::darkPalette()
{
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2d);
    const QColor base(0x35, 0x35, 0x38);
    const QColor text(0xea, 0xea, 0xec);
    const QColor disabled(0x80, 0x80, 0x84);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window.lighter(110));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
    p.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x44));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x33));
    p.setColor(QPalette::Dark, QColor(0x1e, 0x1e, 0x20));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xe0));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x5a, 0xa6, 0xf5));
    p.setColor(QPalette::LinkVisited, QColor(0xa0, 0x8c, 0xf0));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}
