#include "statustext.h"

#include <QStringList>

namespace {

struct Counts
{
    int working = 0;
    int error = 0;
    int failed = 0;
    int ready = 0;
    QStringList waiting; // names
    QStringList tooltip; // one line per session
};

// Names and status lines come from prompts and paths: keep them on one line.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text.simplified();
}

QString nameOf(const QJsonObject &instance)
{
    QString name = oneLine(instance.value(u"displayName").toString());
    if (name.isEmpty())
        name = oneLine(instance.value(u"projectPath").toString().section(u'/', -1, -1));
    return name.isEmpty() ? QStringLiteral("unnamed") : name;
}

Counts count(const QJsonArray &instances)
{
    Counts counts;
    for (const QJsonValue &value : instances) {
        const QJsonObject instance = value.toObject();
        if (instance.value(u"exited").toBool())
            continue;
        const QString status = instance.value(u"status").toString();
        const QString name = nameOf(instance);
        if (status == u"working")
            ++counts.working;
        else if (status == u"waiting")
            counts.waiting.append(name);
        else if (status == u"error")
            ++counts.error;
        else if (status == u"failed")
            ++counts.failed;
        else if (status == u"ready")
            ++counts.ready;
        else
            continue; // off: known from an earlier run, not heard from since
        QString detail = oneLine(instance.value(u"statusLine").toString());
        if (detail.isEmpty())
            detail = instance.value(u"status").toString();
        counts.tooltip.append(name + QStringLiteral(": ") + detail);
    }
    return counts;
}

QString lineOf(const Counts &counts)
{
    QStringList parts;
    if (counts.working)
        parts.append(QStringLiteral("%1 working").arg(counts.working));
    if (counts.error)
        parts.append(QStringLiteral("%1 error").arg(counts.error));
    if (counts.failed)
        parts.append(QStringLiteral("%1 failed").arg(counts.failed));
    if (!counts.waiting.isEmpty())
        parts.append(QStringLiteral("%1 waiting: %2")
                         .arg(counts.waiting.size())
                         .arg(counts.waiting.join(QStringLiteral(", "))));
    if (parts.isEmpty())
        return counts.ready ? QStringLiteral("%1 ready").arg(counts.ready)
                            : QStringLiteral("no sessions");
    return parts.join(QStringLiteral(" · "));
}

} // namespace

namespace StatusText {

QString statusLine(const QJsonArray &instances, const QString &problem)
{
    const QString line = lineOf(count(instances));
    return problem.isEmpty()
               ? line
               : line + QStringLiteral(" · not receiving events: ") + oneLine(problem);
}

QJsonObject waybarObject(const QJsonArray &instances, const QString &problem)
{
    const Counts counts = count(instances);
    const QString kind = !counts.waiting.isEmpty() ? QStringLiteral("waiting")
                         : !problem.isEmpty()      ? QStringLiteral("error")
                         : counts.failed           ? QStringLiteral("failed")
                         : counts.working          ? QStringLiteral("working")
                         : counts.error            ? QStringLiteral("error")
                         : counts.ready            ? QStringLiteral("idle")
                                                   : QStringLiteral("none");
    QString tooltip = counts.tooltip.isEmpty() ? QStringLiteral("No Claude Code sessions")
                                               : counts.tooltip.join(u'\n');
    if (!problem.isEmpty())
        tooltip = QStringLiteral("Not receiving events: ") + oneLine(problem) + u'\n' + tooltip;
    return {{QStringLiteral("text"), statusLine(instances, problem).toHtmlEscaped()},
            {QStringLiteral("tooltip"), tooltip.toHtmlEscaped()},
            {QStringLiteral("class"), kind},
            {QStringLiteral("alt"), kind}};
}

} // namespace StatusText
