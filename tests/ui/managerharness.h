#pragma once

#include "defaultsstore.h"
#include "instancemanager.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QJsonObject>

// A real instance manager in a throwaway home, fed hook records the way the
// event pipe hands them over.
struct ManagerHarness
{
    TestHome home;
    ConsoleCapture console;
    DefaultsStore defaults{home.defaultsPath()};
    RecordingNotifier notifier;
    InstanceManager manager{defaults, notifier};

    // Delivers one record and lets the manager apply it (it does so on a
    // later turn of the event loop).
    void send(qint64 pid, const QString &event, const QString &tool = {},
              const QString &details = {}, const QString &directory = {})
    {
        QJsonObject record{{"event", event}, {"instance", QString::number(pid)}};
        if (!tool.isNull())
            record.insert("tool", tool);
        if (!details.isNull())
            record.insert("details", details);
        if (!directory.isNull())
            record.insert("working_directory", directory);
        manager.didReceiveEvent(record);
        QCoreApplication::processEvents();
    }

    // Starts one instance per project directory, pids 101, 102, ...; their ids.
    QStringList start(const QStringList &directories)
    {
        for (qsizetype i = 0; i < directories.size(); ++i)
            send(101 + i, QStringLiteral("UserPromptSubmit"), {}, QStringLiteral("hello"),
                 directories.at(i));
        QStringList ids;
        for (const ClaudeCodeInstance &instance : manager.instances())
            ids.append(instance.id);
        return ids;
    }

    QStringList displayOrder() const
    {
        QStringList ids;
        for (const ClaudeCodeInstance &instance : manager.sortedInstances())
            ids.append(instance.id);
        return ids;
    }
};
