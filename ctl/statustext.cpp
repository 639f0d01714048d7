#include "statustext.h"

#include <QStringList>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

struct Counts
{
    int working = 0;
    int failed = 0;
    int ready = 0;
    QStringList waiting; // names
    QStringList tooltip; // one line per session
    QString problem;     // why Tolvo receives no events
};

// The states a waybar module shows as its class, worst first: the first that
// applies is the class.
struct WaybarState
{
    QString token;
    bool (*applies)(const Counts &);
};
const WaybarState waybarStates[] = {
    {u"waiting"_s, [](const Counts &c) { return !c.waiting.isEmpty(); }},
    {u"failed"_s, [](const Counts &c) { return c.failed > 0; }},
    {u"error"_s, [](const Counts &c) { return !c.problem.isEmpty(); }},
    {u"working"_s, [](const Counts &c) { return c.working > 0; }},
    {u"idle"_s, [](const Counts &c) { return c.ready > 0; }},
    {u"none"_s, [](const Counts &) { return true; }},
};

Counts count(const QJsonArray &sessions, const QString &problem)
{
    Counts counts;
    counts.problem = StatusText::oneLine(problem);
    for (const QJsonValue &value : sessions) {
        const QJsonObject session = value.toObject();
        if (session.value(u"exited").toBool() || session.value(u"disconnected").toBool())
            continue;
        const QString status = session.value(u"status").toString();
        const QString name = StatusText::nameOf(session);
        if (status == u"working")
            ++counts.working;
        else if (status == u"waiting")
            counts.waiting.append(name);
        else if (status == u"failed")
            ++counts.failed;
        else if (status == u"ready")
            ++counts.ready;
        else
            continue; // off: known from an earlier run, not heard from since
        QString detail = StatusText::oneLine(session.value(u"statusLine").toString());
        if (detail.isEmpty())
            detail = status;
        counts.tooltip.append(name + u": "_s + detail);
    }
    return counts;
}

QString lineOf(const Counts &counts)
{
    QStringList parts;
    if (counts.working)
        parts.append(u"%1 working"_s.arg(counts.working));
    if (counts.failed)
        parts.append(u"%1 failed"_s.arg(counts.failed));
    if (!counts.waiting.isEmpty())
        parts.append(
            u"%1 waiting: %2"_s.arg(counts.waiting.size()).arg(counts.waiting.join(u", "_s)));
    QString line = parts.join(u" · "_s);
    if (parts.isEmpty())
        line = counts.ready ? u"%1 ready"_s.arg(counts.ready) : u"no sessions"_s;
    return counts.problem.isEmpty() ? line : line + u" · not receiving events: "_s + counts.problem;
}

// The line, then " · " and what follows it on one line, if anything.
QString joined(const QString &line, const QString &more)
{
    const QString tail = StatusText::oneLine(more);
    return tail.isEmpty() ? line : line + u" · "_s + tail;
}

// Every waybar object is made here: the texts are Pango markup inside JSON strings.
QJsonObject waybar(const QString &text, const QString &tooltip, const QString &state)
{
    return {{u"text"_s, text.toHtmlEscaped()},
            {u"tooltip"_s, tooltip.toHtmlEscaped()},
            {u"class"_s, state},
            {u"alt"_s, state}};
}

// Why Tolvo keeps its notices back, from Quiet(); empty when it does not.
QString quietText(const QJsonObject &quiet)
{
    return quiet.value(u"quiet").toBool() ? StatusText::oneLine(quiet.value(u"text").toString())
                                          : QString();
}

} // namespace

namespace StatusText {

QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return text.simplified();
}

QString nameOf(const QJsonObject &session)
{
    QString name = oneLine(session.value(u"displayName").toString());
    if (name.isEmpty())
        name = oneLine(session.value(u"projectPath").toString().section(u'/', -1, -1));
    if (name.isEmpty())
        name = u"unnamed"_s;
    const QString host = oneLine(session.value(u"host").toString());
    return host.isEmpty() ? name : name + u" · "_s + host;
}

QString statusLine(const QJsonArray &sessions, const QString &problem, const QJsonObject &usage,
                   const QJsonObject &quiet)
{
    return joined(joined(lineOf(count(sessions, problem)), usage.value(u"summary").toString()),
                  quietText(quiet));
}

QJsonObject waybarObject(const QJsonArray &sessions, const QString &problem,
                         const QJsonObject &usage, const QJsonObject &quiet)
{
    const Counts counts = count(sessions, problem);
    QStringList tooltip = counts.tooltip;
    if (tooltip.isEmpty())
        tooltip.append(u"No Claude Code sessions"_s);
    if (!counts.problem.isEmpty())
        tooltip.prepend(u"Not receiving events: "_s + counts.problem);
    const auto worst =
        std::find_if(std::begin(waybarStates), std::end(waybarStates),
                     [&](const WaybarState &state) { return state.applies(counts); });
    if (const QString summary = oneLine(usage.value(u"summary").toString()); !summary.isEmpty())
        tooltip.append(summary);
    const QString why = quietText(quiet);
    if (!why.isEmpty())
        tooltip.append(why);
    return waybar(joined(joined(lineOf(counts), usage.value(u"limits").toString()),
                         why.isEmpty() ? QString() : u"quiet"_s),
                  tooltip.join(u'\n'), worst->token);
}

QJsonObject waybarAway(const QString &why)
{
    return waybar({}, oneLine(why), u"none"_s);
}

} // namespace StatusText
