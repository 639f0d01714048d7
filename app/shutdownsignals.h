#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP end Tolvo the way Quit does: the event loop
// ends and everything is torn down in order, so the event pipe and the pid
// file go and unsaved changes are written. The handler only writes a byte
// into a pipe that the event loop watches (the self-pipe way), and programs
// Tolvo starts get the default dispositions back when they exec.
class ShutdownSignals : public QObject
{
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject *parent = nullptr);
    ~ShutdownSignals() override;

Q_SIGNALS:
    void received(int signalNumber);

private:
    QSocketNotifier *m_notifier = nullptr;
};
