#include "claudecodeinstance.h"

#include <array>

namespace {

struct StatusNames
{
    InstanceStatus status;
    QStringView text;
    QStringView token;
};

constexpr std::array statusNames{
    StatusNames{InstanceStatus::off, u"Off", u"off"},
    StatusNames{InstanceStatus::ready, u"Ready", u"ready"},
    StatusNames{InstanceStatus::working, u"Working", u"working"},
    StatusNames{InstanceStatus::waitingForInput, u"Waiting for Input", u"waiting"},
    StatusNames{InstanceStatus::error, u"Error", u"error"},
    StatusNames{InstanceStatus::failed, u"Failed", u"failed"},
};

const StatusNames &namesOf(InstanceStatus status)
{
    return statusNames[size_t(status)];
}

} // namespace

QString statusText(InstanceStatus status)
{
    return namesOf(status).text.toString();
}

QString statusToken(InstanceStatus status)
{
    return namesOf(status).token.toString();
}

ClaudeCodeInstance ClaudeCodeInstance::make(const QString &id, qint64 pid,
                                            const QString &projectPath, const QString &projectName,
                                            const std::optional<QString> &customName,
                                            WallClockTime now)
{
    ClaudeCodeInstance instance;
    instance.id = id;
    instance.pid = pid;
    instance.projectPath = projectPath;
    instance.projectName = projectName;
    instance.customName = customName;
    instance.startTime = instance.lastActivity = instance.statusSince = now;
    return instance;
}

StatusColor ClaudeCodeInstance::statusColor() const
{
    switch (status) {
    case InstanceStatus::ready:
        return StatusColor::green;
    case InstanceStatus::working:
        return StatusColor::yellow;
    case InstanceStatus::waitingForInput:
        return StatusColor::red;
    case InstanceStatus::failed:
        return StatusColor::purple;
    case InstanceStatus::off:
    case InstanceStatus::error:
        break;
    }
    return StatusColor::gray;
}

QString lastPathComponent(const QString &path)
{
    QStringView view(path);
    while (view.size() > 1 && view.endsWith(u'/'))
        view.chop(1);
    if (view == u"/")
        return QStringLiteral("/");
    const qsizetype slash = view.lastIndexOf(u'/');
    return view.mid(slash + 1).toString();
}
