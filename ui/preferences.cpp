#include "preferences.h"

#include "defaultsstore.h"
#include "notificationpolicy.h"
#include "uibridge.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <algorithm>

Q_LOGGING_CATEGORY(lcPreferences, "tolvo.ui", QtInfoMsg)

namespace {

// One Exec= argument: quoted when it holds a reserved character, with the
// quoting's own escapes, then the escapes every string value gets.
QString execValue(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = program;
    argument.replace(u'%', QStringLiteral("%%"));
    if (std::any_of(argument.begin(), argument.end(),
                    [](QChar c) { return reserved.contains(c); })) {
        QString quoted = QStringLiteral("\"");
        for (QChar c : std::as_const(argument)) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        argument = quoted + u'"';
    }
    QString value;
    for (QChar c : std::as_const(argument)) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

} // namespace

Preferences::Preferences(DefaultsStore &store, QObject *parent) : QObject(parent), m_store(store)
{
    // The manager registers these too; registering again changes nothing and
    // keeps the switches right in a window that has no manager behind it.
    NotificationPolicy::registerDefaults(m_store);
    connect(&m_store, &DefaultsStore::valueChanged, this, &Preferences::valueChanged);
}

bool Preferences::notifyOnPermissionRequired() const
{
    return m_store.boolValue(NotificationPolicy::permissionRequiredKey);
}

void Preferences::setNotifyOnPermissionRequired(bool on)
{
    m_store.setBool(NotificationPolicy::permissionRequiredKey, on);
}

bool Preferences::notifyOnTaskComplete() const
{
    return m_store.boolValue(NotificationPolicy::taskCompleteKey);
}

void Preferences::setNotifyOnTaskComplete(bool on)
{
    m_store.setBool(NotificationPolicy::taskCompleteKey, on);
}

bool Preferences::notifyOnIdle() const
{
    return m_store.boolValue(NotificationPolicy::idleKey);
}

void Preferences::setNotifyOnIdle(bool on)
{
    m_store.setBool(NotificationPolicy::idleKey, on);
}

bool Preferences::isPinnedToTop() const
{
    return m_store.boolValue(isPinnedToTopKey);
}

void Preferences::setIsPinnedToTop(bool pinned)
{
    m_store.setBool(isPinnedToTopKey, pinned);
}

bool Preferences::startAtLogin() const
{
    return QFileInfo::exists(autostartPath());
}

void Preferences::setStartAtLogin(bool on)
{
    const QString path = autostartPath();
    if (on) {
        QDir().mkpath(QFileInfo(path).path());
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(autostartEntry(QCoreApplication::applicationFilePath()).toUtf8()) < 0 ||
            !file.commit())
            qCWarning(lcPreferences).noquote()
                << "⚠️ Could not write" << path + QStringLiteral(":") << file.errorString();
    } else if (QFileInfo::exists(path) && !QFile::remove(path)) {
        qCWarning(lcPreferences).noquote() << "⚠️ Could not remove" << path;
    }
    // Also after a failure, so that the checkbox shows what is on disk.
    Q_EMIT startAtLoginChanged();
}

QString Preferences::rowDensity() const
{
    const QString density = m_store.text(rowDensityKey).value_or(QString());
    return UiBridge::rowDensities().contains(density) ? density : QStringLiteral("auto");
}

void Preferences::setRowDensity(const QString &density)
{
    if (UiBridge::rowDensities().contains(density))
        m_store.setData(rowDensityKey, density.toUtf8());
}

QString Preferences::autostartPath()
{
    // XDG_CONFIG_HOME counts only when absolute; a relative one is ignored.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/" TOLVO_APP_ID ".desktop");
}

QString Preferences::autostartEntry(const QString &program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Tolvo\n"
                          "Comment=Watch every Claude Code session on this computer in one window\n"
                          "Exec=") +
           execValue(program) +
           // At login Tolvo starts in the tray, where there is one.
           QStringLiteral(" --hidden\n"
                          "Icon=" TOLVO_APP_ID "\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n");
}

void Preferences::valueChanged(const QString &key)
{
    if (key == NotificationPolicy::permissionRequiredKey)
        Q_EMIT notifyOnPermissionRequiredChanged();
    else if (key == NotificationPolicy::taskCompleteKey)
        Q_EMIT notifyOnTaskCompleteChanged();
    else if (key == NotificationPolicy::idleKey)
        Q_EMIT notifyOnIdleChanged();
    else if (key == isPinnedToTopKey)
        Q_EMIT isPinnedToTopChanged();
    else if (key == rowDensityKey)
        Q_EMIT rowDensityChanged();
}
