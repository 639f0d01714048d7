#include "preferences.h"

#include "defaultsstore.h"
#include "uilog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

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

Preferences::Preferences(DefaultsStore &store, QObject *parent)
    : Preferences(store, Settings::table(), parent)
{}

Preferences::Preferences(DefaultsStore &store, const QList<Settings::Row> &rows, QObject *parent)
    : QQmlPropertyMap(this, parent), m_store(store), m_rows(rows)
{
    for (const Settings::Row &row : std::as_const(m_rows))
        insert(row.key, Settings::value(m_store, row));
    connect(&m_store, &DefaultsStore::valueChanged, this, [this](const QString &key) {
        if (const Settings::Row *changed = Settings::find(key, m_rows))
            insert(key, Settings::value(m_store, *changed));
    });
}

QVariant Preferences::updateValue(const QString &key, const QVariant &input)
{
    const Settings::Row *changed = Settings::find(key, m_rows);
    if (changed && !Settings::setValue(m_store, *changed, input))
        qCWarning(lcUi).noquote() << "⚠️ Setting" << key << "cannot take the value" << input;
    return changed ? Settings::value(m_store, *changed) : input;
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
            qCWarning(lcUi).noquote()
                << "⚠️ Could not write" << path + QStringLiteral(":") << file.errorString();
    } else if (QFileInfo::exists(path) && !QFile::remove(path)) {
        qCWarning(lcUi).noquote() << "⚠️ Could not remove" << path;
    }
    // Also after a failure, so that the checkbox shows what is on disk.
    Q_EMIT startAtLoginChanged();
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
