#include "console.h"

#include <QMutex>
#include <cstdio>

namespace {
QMutex sinkMutex;
Console::Sink sink;
} // namespace

void Console::line(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    // One write per line, so that lines from other threads never interleave.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);

    QMutexLocker lock(&sinkMutex);
    if (sink)
        sink(text);
}

void Console::setSink(Sink newSink)
{
    QMutexLocker lock(&sinkMutex);
    sink = std::move(newSink);
}
