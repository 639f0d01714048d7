#pragma once

#include <QString>
#include <cstdio>

class QDBusError;

// A line for the terminal, flushed at once.
void print(FILE *stream, const QString &text);

// Why Tolvo could not be asked, for stderr.
QString busFailure(const QDBusError &error);

// Whether the call failed because no Tolvo runs (or there is no session bus), not
// because the running one refused it.
bool tolvoAbsent(const QDBusError &error);
