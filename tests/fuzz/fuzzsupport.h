#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

// A broken invariant is a crash, so that libFuzzer keeps the input.
inline void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

// The application object the model needs, no log lines (they would dominate
// the run), and a private home for the whole run with its temporary files in
// memory where /dev/shm is there. Returns Tolvo's configuration directory.
inline QString setUp(int *argc, char ***argv)
{
    if (QDir(QStringLiteral("/dev/shm")).exists() && qEnvironmentVariableIsEmpty("TMPDIR"))
        qputenv("TMPDIR", "/dev/shm");
    QLoggingCategory::setFilterRules(QStringLiteral("tolvo.*=false"));
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir home;
    check(home.isValid(), "a temporary home");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    const QString config = home.path() + QStringLiteral("/.config/tolvo");
    QDir().mkpath(config);
    return config;
}

} // namespace Fuzz
