#pragma once

#include "hookconfiguration.h"
#include "namedpipelistener.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QMutex>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

// A listener in a home of its own that records what it hands over and what it logs.
class Running : public QObject, public NamedPipeListenerDelegate
{
    Q_OBJECT
    Q_INTERFACES(NamedPipeListenerDelegate)
public:
    explicit Running(bool start = true)
    {
        s_log.clear();
        s_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (qstrcmp(context.category, "com.tolvo.app.NamedPipeListener") != 0)
                    return s_previous(type, context, message);
                const QMutexLocker lock(&s_mutex);
                s_log << (type == QtCriticalMsg ? "critical: "_L1 : "info: "_L1) + message;
            });
        listener.setDelegate(this);
        if (start)
            listener.start();
    }
    ~Running() override
    {
        listener.stop();
        qInstallMessageHandler(s_previous);
    }
    void didReceiveEvent(const QJsonObject &dictionary) override
    {
        offMainThread |= QThread::currentThread() != thread();
        onEvent ? onEvent(dictionary)
                : received.append(QJsonDocument(dictionary).toJson(QJsonDocument::Compact));
    }
    // The log records ("info: …", "critical: …") that contain `part`.
    static QStringList log(const QString &part)
    {
        const QMutexLocker lock(&s_mutex);
        return s_log.filter(part);
    }
    // Waits until the FIFO has been created `times` times in all.
    bool started(int times = 1) const
    {
        return QTest::qWaitFor(
            [&] { return log(u"started on"_s).size() >= times && QFile::exists(pidFile()); },
            10000);
    }
    QString pidFile() const { return home.path() + u"/.tolvo/tolvo.pid"_s; }

    TestHome home;
    NamedPipeListener listener;
    QByteArrayList received; // as compact JSON
    bool offMainThread = false;
    std::function<void(const QJsonObject &)> onEvent;

private:
    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_log;
};

// What Claude Code runs with sh -c: the configured command with its JSON escaping undone.
inline QString shellCommand()
{
    return HookConfiguration::hookCommand(TestPaths::buildPrefix()).replace(u"\\\""_s, u"\""_s);
}
