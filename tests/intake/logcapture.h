#pragma once

#include "namedpipelistener.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <functional>

// Collects the listener's log records (from any thread) while it exists;
// other categories pass on to the previous handler.
class LogCapture
{
public:
    explicit LogCapture(bool withDebug = true)
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
        if (withDebug) {
            QLoggingCategory::setFilterRules(
                QStringLiteral("com.tolvo.app.NamedPipeListener.debug=true"));
        }
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
        s_current = nullptr;
    }

    // "info: …", "debug: …", "critical: …"
    QStringList lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    bool contains(const QString &line) const { return lines().contains(line); }
    QStringList startingWith(const QString &prefix) const
    {
        QStringList found;
        for (const QString &line : lines()) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        LogCapture *self = s_current;
        if (!self || qstrcmp(context.category, "com.tolvo.app.NamedPipeListener") != 0) {
            if (self && self->m_previous)
                self->m_previous(type, context, message);
            return;
        }
        const char *level = type == QtDebugMsg      ? "debug: "
                            : type == QtInfoMsg     ? "info: "
                            : type == QtCriticalMsg ? "critical: "
                                                    : "other: ";
        QMutexLocker lock(&self->m_mutex);
        self->m_lines << QString::fromLatin1(level) + message;
    }

    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_lines;
};

// Records what the listener hands over, on the thread it is called on.
class RecordingDelegate : public QObject, public NamedPipeListenerDelegate
{
    Q_OBJECT
    Q_INTERFACES(NamedPipeListenerDelegate)
public:
    void didReceiveEvent(const QJsonObject &dictionary) override
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            calledOffMainThread = true;
        if (onEvent)
            onEvent(dictionary);
        else
            received << dictionary;
    }

    QList<QJsonObject> received;
    bool calledOffMainThread = false;
    std::function<void(const QJsonObject &)> onEvent;
};
