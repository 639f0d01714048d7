#pragma once

#include "defaultsstore.h"
#include "instancemanager.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTest>

#include <memory>

// A manager over a private HOME and defaults file, with notifications recorded
// and console lines captured.
struct ManagerFixture
{
    TestHome home;
    ConsoleCapture console;
    RecordingNotifier notifier;
    std::unique_ptr<DefaultsStore> defaults = std::make_unique<DefaultsStore>(home.defaultsPath());
    std::unique_ptr<InstanceManager> manager;

    InstanceManager &start()
    {
        manager = std::make_unique<InstanceManager>(*defaults, notifier);
        return *manager;
    }

    // Tolvo restarted: a new manager over the same defaults file.
    InstanceManager &restart()
    {
        manager.reset();
        defaults = std::make_unique<DefaultsStore>(home.defaultsPath());
        return start();
    }

    // Hands one event over and lets the manager apply it.
    void send(const QString &event, qint64 pid, const std::optional<QString> &cwd,
              const std::optional<QString> &tool = {}, const std::optional<QString> &details = {})
    {
        manager->handleHookEvent(HookEvent{event, pid, tool, details, cwd}, QStringLiteral("{}"));
        QCoreApplication::processEvents();
    }

    const ClaudeCodeInstance &byPid(qint64 pid) const
    {
        for (const ClaudeCodeInstance &i : manager->instances())
            if (i.pid == pid)
                return i;
        qFatal("no instance with pid %lld", pid);
    }

    QStringList sortedIds() const
    {
        QStringList ids;
        for (const ClaudeCodeInstance &i : manager->sortedInstances())
            ids.append(i.id);
        return ids;
    }
};

inline QString toolInput(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}
