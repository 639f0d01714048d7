#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

// Watches the transcripts of sessions that wait for permission. Refusing a
// permission dialog (Escape, "No") fires no hook: Claude Code only appends a
// rejecting tool result and an "[Request interrupted by user" entry to the
// session's transcript. Only what is appended after follow() is read, only
// while the session is followed; a transcript that is missing, not a regular
// file of the user's, or unreadable changes nothing.
class TranscriptFollower : public QObject
{
    Q_OBJECT
public:
    static constexpr int pollMs = 250;
    // More than this in one look is skipped: a refusal is a short line.
    static constexpr qint64 readLimit = 4 << 20;

    explicit TranscriptFollower(QObject *parent = nullptr);

    // Starts reading `path` from its present end for the session `key`.
    void follow(const QString &key, const QString &path);
    void stop(const QString &key);

    // Whether one line of a transcript records a refused permission.
    static bool isRefusal(QByteArrayView line);

Q_SIGNALS:
    // The session `key` was refused its permission; it is no longer followed.
    void refused(const QString &key);

private:
    struct Followed
    {
        QString path;
        qint64 offset = 0;
        QByteArray partial; // an unfinished last line
    };
    void poll();
    // New complete lines of a transcript; false when it cannot be read.
    static bool readAppended(Followed &followed, QList<QByteArray> &lines);

    QHash<QString, Followed> m_followed;
    QTimer m_timer;
};
