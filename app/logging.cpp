#include "logging.h"

#include <QByteArray>
#include <cstdio>
#include <unistd.h>

namespace Logging {

namespace {

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029;
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = formatLine(type, context, message).toUtf8() + '\n';
    const int fd = type == QtDebugMsg || type == QtInfoMsg ? STDOUT_FILENO : STDERR_FILENO;
    // One write per line, so that lines from other threads never interleave.
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

QString boundedLine(const QString &message)
{
    QString line;
    line.reserve(std::min(message.size(), lineLimit) + 8);
    qsizetype cut = -1; // where the line ends when it has to end in "…"
    // Escaped up to one character past the limit, which is enough to know
    // whether the line has to be cut.
    for (auto it = message.cbegin(); it != message.cend() && line.size() <= lineLimit; ++it) {
        const qsizetype before = line.size();
        const char16_t c = it->unicode();
        if (c == u'\n')
            line += QStringLiteral("\\n");
        else if (c == u'\t')
            line += QStringLiteral("\\t");
        else if (c == u'\r')
            line += QStringLiteral("\\r");
        else if (isControl(c))
            line += c < 0x100 ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QChar(u'0'))
                              : QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QChar(u'0'));
        else
            line += *it;
        if (cut < 0 && line.size() > lineLimit - 1)
            cut = before > 0 && line.at(before - 1).isHighSurrogate() ? before - 1 : before;
    }
    if (line.size() > lineLimit) {
        line.truncate(cut);
        line += QChar(0x2026);
    }
    return line;
}

QString formatLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    return boundedLine(qFormatLogMessage(type, context, message));
}

void install()
{
    // Qt's own default would put the category before every message; the
    // environment variable, when set, still wins over this.
    qSetMessagePattern(plainPattern);
    qInstallMessageHandler(handler);
}

} // namespace Logging
