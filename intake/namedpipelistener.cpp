#include "namedpipelistener.h"

#include <QDir>

// Placeholder until the reading thread lands.
struct NamedPipeListener::Worker
{
};

NamedPipeListener::NamedPipeListener(QObject *parent)
    : QObject(parent), m_pipePath(QDir::homePath() + QStringLiteral("/.tolvo/events"))
{
}

NamedPipeListener::~NamedPipeListener()
{
    stop();
}

void NamedPipeListener::setDelegate(QObject *delegate)
{
    m_delegate = delegate;
}

void NamedPipeListener::start() {}

void NamedPipeListener::stop() {}

void NamedPipeListener::deliver(const QJsonObject &dictionary)
{
    if (auto *delegate = qobject_cast<NamedPipeListenerDelegate *>(m_delegate.data()))
        delegate->didReceiveEvent(dictionary);
}
