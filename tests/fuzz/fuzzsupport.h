#pragma once

#include "console.h"
#include "fuzzcheck.h"
#include "notifier.h"

#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QTemporaryDir>
#include <fcntl.h>
#include <unistd.h>

namespace Fuzz {

// The application object the model needs, console lines sent nowhere (one
// flushed write per line would dominate the run), and temporary files in
// memory when /dev/shm is there.
inline void setUpProcess(int *argc, char ***argv)
{
    if (QDir(QStringLiteral("/dev/shm")).exists() && qEnvironmentVariableIsEmpty("TMPDIR"))
        qputenv("TMPDIR", "/dev/shm");
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    Console::setSink({});
    static QCoreApplication app(*argc, *argv);
}

// HOME and XDG_CONFIG_HOME in a temporary directory for the whole run, so
// that the event pipe and the defaults file are private; returns the path of
// the defaults file.
inline QString setUpHome()
{
    static QTemporaryDir home;
    check(home.isValid(), "a temporary home");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    QDir().mkpath(home.path() + QStringLiteral("/.config/tolvo"));
    return home.path() + QStringLiteral("/.config/tolvo/tolvo.ini");
}

// Keeps the titles of notifications instead of showing them.
class TitleRecorder : public Notifier
{
public:
    void requestPermission() override {}
    void installDelegate() override {}
    void sendNotification(const QString &title, const QString &, const QString &) override
    {
        titles.append(title);
    }
    QList<QString> titles;
};

} // namespace Fuzz
