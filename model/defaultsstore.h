#pragma once

#include <QObject>
#include <QSettings>
#include <optional>

// The per-user defaults store: byte-string, text and boolean values by key,
// over the defaults of the settings table (settingstable.h). Values live in an INI file
// ($XDG_CONFIG_HOME/tolvo/tolvo.ini); every setter has replaced the file
// atomically by the time it returns, so a crash never leaves half a file.
// Main thread only.
class DefaultsStore : public QObject
{
    Q_OBJECT
public:
    explicit DefaultsStore(QObject *parent = nullptr);
    explicit DefaultsStore(const QString &filePath, QObject *parent = nullptr);

    static QString defaultFilePath();
    QString filePath() const { return m_settings.fileName(); }

    // Missing, or holding something other than a byte string: nullopt.
    std::optional<QByteArray> data(const QString &key) const;
    // Text as Tolvo writes it or as a person types it into the file: a byte
    // string read as UTF-8, or a plain value. Missing: nullopt.
    std::optional<QString> text(const QString &key) const;
    void setData(const QString &key, const QByteArray &value);
    // Written as plain text, as a person would type it.
    void setText(const QString &key, const QString &value);

    // The stored value, else the settings table's default, else false.
    bool boolValue(const QString &key) const;
    void setBool(const QString &key, bool value);

    bool contains(const QString &key) const;
    void remove(const QString &key);

Q_SIGNALS:
    void valueChanged(const QString &key);

private:
    void write(const QString &key, const QVariant &value);

    QSettings m_settings;
};
