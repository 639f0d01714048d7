#include "textrules.h"

#include <QTextBoundaryFinder>
#include <QUrl>

namespace TextRules {

namespace {

// Position just after the first `limit` grapheme clusters, or -1 when the
// text has no more than `limit` of them.
qsizetype cutPosition(const QString &text, qsizetype limit)
{
    // Every cluster is at least one code unit: short texts need no scan.
    if (text.size() <= limit)
        return -1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    qsizetype position = 0;
    while (count < limit && (position = finder.toNextBoundary()) != -1)
        ++count;
    if (position == -1 || position >= text.size())
        return -1;
    return position;
}

} // namespace

qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString shortened(const QString &text, qsizetype limit)
{
    const qsizetype cut = cutPosition(text, limit);
    if (cut < 0)
        return text;
    return text.left(cut) + QStringLiteral("...");
}

std::optional<QString> lastSlashPiece(const QString &text)
{
    const QStringList pieces = text.split(u'/', Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return std::nullopt;
    return pieces.last();
}

std::optional<QString> urlHostOrText(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid())
        return std::nullopt;
    const QString host = url.host();
    return host.isEmpty() ? text : host;
}

QString failureText(const QString &code)
{
    struct Failure
    {
        QStringView code;
        QStringView text;
    };
    static constexpr Failure failures[] = {
        {u"rate_limit", u"Rate limit reached"},
        {u"authentication_failed", u"Not signed in, or the key was refused"},
        {u"billing_error", u"Billing problem with the account"},
        {u"server_error", u"The API had a server error"},
        {u"overloaded", u"The API is overloaded"},
        {u"max_output_tokens", u"The answer hit the output limit"},
        {u"invalid_request", u"The API refused the request as invalid"},
    };
    for (const Failure &failure : failures) {
        if (failure.code == code)
            return failure.text.toString();
    }
    return code;
}

} // namespace TextRules
