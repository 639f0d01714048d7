#pragma once

#include "hookconfiguration.h"
#include "namedpipelistener.h"
#include "testsupport.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QTest>
#include <functional>

using namespace Qt::StringLiterals;

// A listener in a home of its own that records what it hands over and what it logs.
class Running : public QObject
{
    Q_OBJECT
public:
    explicit Running(bool start = true)
    {
        s_log.clear();
        // Re-creations of the FIFO are debug lines; started() counts them too.
        QLoggingCategory::setFilterRules(u"tolvo.intake.debug=true"_s);
        s_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                if (qstrcmp(context.category, "tolvo.intake") != 0)
                    return s_previous(type, context, message);
                const QMutexLocker lock(&s_mutex);
                s_log << (type >= QtWarningMsg ? "warning: "_L1 : "info: "_L1) + message;
            });
        connect(&listener, &NamedPipeListener::eventReceived, this, [this](const HookEvent &e) {
            offMainThread |= QThread::currentThread() != thread();
            onEvent ? onEvent(e) : received.append(e.record);
        });
        if (start)
            listener.start();
    }
    ~Running() override
    {
        listener.stop();
        qInstallMessageHandler(s_previous);
    }
    // The log lines that contain `part`.
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
    QString pidFile() const { return home.tolvoPath() + u"/tolvo.pid"_s; }

    TestHome home;
    NamedPipeListener listener;
    QByteArrayList received; // the records as they arrived
    bool offMainThread = false;
    std::function<void(const HookEvent &)> onEvent;

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
