#pragma once

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <memory>

// Receives the JSON objects that arrive on the event pipe, on the main thread,
// one call per record, in arrival order.
class NamedPipeListenerDelegate
{
public:
    virtual ~NamedPipeListenerDelegate() = default;
    virtual void didReceiveEvent(const QJsonObject &dictionary) = 0;
};
#define NamedPipeListenerDelegate_iid "com.tolvo.NamedPipeListenerDelegate"
Q_DECLARE_INTERFACE(NamedPipeListenerDelegate, NamedPipeListenerDelegate_iid)

// Owns the FIFO ~/.tolvo/events through which hook commands reach Tolvo.
// Reading happens on a thread of its own ("com.tolvo.namedpipe"); decoded
// objects cross to the thread this object lives on through its event loop.
class NamedPipeListener : public QObject
{
    Q_OBJECT
public:
    explicit NamedPipeListener(QObject *parent = nullptr);
    ~NamedPipeListener() override; // stops first

    QString pipePath() const { return m_pipePath; }

    // The delegate is held weakly: it must be a QObject that implements
    // NamedPipeListenerDelegate. Set it before start().
    void setDelegate(QObject *delegate);

    // Returns at once; creating and opening the FIFO happen on the reading thread.
    void start();
    // Returns promptly, also while the thread waits for a first writer; the
    // FIFO file is gone afterwards.
    void stop();

private:
    void deliver(const QJsonObject &dictionary);

    struct Worker;
    QString m_pipePath;
    QPointer<QObject> m_delegate;
    std::unique_ptr<Worker> m_worker;
};
