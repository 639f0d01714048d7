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
    if (!condition)
        std::fprintf(stderr, "broken: %s\n", what), std::abort();
}

// The application object the model needs, no log lines, and a private home
// folder in memory (/dev/shm) for the whole run, which it returns.
inline QString setUp(int *argc, char ***argv)
{
    if (QDir(QStringLiteral("/dev/shm")).exists() && qEnvironmentVariableIsEmpty("TMPDIR"))
        qputenv("TMPDIR", "/dev/shm");
    QLoggingCategory::setFilterRules(QStringLiteral("tolvo.*=false"));
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir home;
    check(home.isValid(), "a private home");
    return home.path();
}

} // namespace Fuzz
