#include "defaultsstore.h"

#include "settingstable.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

DefaultsStore::DefaultsStore(QObject *parent) : DefaultsStore(defaultFilePath(), parent) {}

DefaultsStore::DefaultsStore(const QString &filePath, QObject *parent)
    : QObject(parent), m_settings(filePath, QSettings::IniFormat)
{
    m_settings.setAtomicSyncRequired(true);
    // A process killed between creating the settings lock file and writing its
    // pid into it leaves an empty lock, which QSettings would only call stale
    // after 30 s, blocking the first save that long. Nothing holds that lock
    // for a second while it is alive, so a shorter limit clears it at once.
    QLockFile lock(filePath + QStringLiteral(".lock"));
    lock.setStaleLockTime(1000);
    if (lock.tryLock(2000))
        lock.unlock();
}

QString DefaultsStore::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tolvo/tolvo.ini");
}

std::optional<QByteArray> DefaultsStore::data(const QString &key) const
{
    const QVariant value = m_settings.value(key);
    if (value.metaType().id() != QMetaType::QByteArray)
        return std::nullopt;
    return value.toByteArray();
}

std::optional<QString> DefaultsStore::text(const QString &key) const
{
    const QVariant value = m_settings.value(key);
    if (value.metaType().id() == QMetaType::QByteArray)
        return QString::fromUtf8(value.toByteArray());
    if (value.metaType().id() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

void DefaultsStore::setData(const QString &key, const QByteArray &value)
{
    write(key, value);
}

void DefaultsStore::setText(const QString &key, const QString &value)
{
    write(key, value);
}

bool DefaultsStore::boolValue(const QString &key) const
{
    const Settings::Row *row = Settings::find(key);
    return m_settings.value(key, row ? row->defaultValue : QVariant(false)).toBool();
}

void DefaultsStore::setBool(const QString &key, bool value)
{
    write(key, value);
}

bool DefaultsStore::contains(const QString &key) const
{
    return m_settings.contains(key);
}

void DefaultsStore::remove(const QString &key)
{
    m_settings.remove(key);
    m_settings.sync();
    Q_EMIT valueChanged(key);
}

void DefaultsStore::write(const QString &key, const QVariant &value)
{
    QDir().mkpath(QFileInfo(m_settings.fileName()).absolutePath());
    m_settings.setValue(key, value);
    m_settings.sync();
    Q_EMIT valueChanged(key);
}
