#include "hookterminal.h"

#include "terminalvariables.h"

#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace HookTerminal {

namespace {

// The pseudo-terminal in the tty_nr field of /proc/PID/stat (the seventh,
// counted after the command name, which may hold anything but ends with the
// last ")"). Majors 136 to 143 are the Unix 98 pseudo-terminals.
std::string pseudoTerminal(const std::string &stat)
{
    const std::size_t name = stat.rfind(')');
    if (name == std::string::npos)
        return {};
    std::size_t at = name + 1;
    for (int field = 3; field < 7; ++field) {
        at = stat.find(' ', at + 1);
        if (at == std::string::npos)
            return {};
    }
    const unsigned long long number = std::strtoull(stat.c_str() + at + 1, nullptr, 10);
    const unsigned int major = (number >> 8) & 0xfff;
    const unsigned int minor = (number & 0xff) | ((number >> 12) & 0xfff00);
    if (major < 136 || major > 143)
        return {};
    return "/dev/pts/" + std::to_string((major - 136) * 256 + minor);
}

// The controlling terminal of the process, else the terminal its standard
// input, output or error is connected to.
std::string terminalOf(const std::string &pid)
{
    if (pid.empty() || pid.size() > 10 || pid.find_first_not_of("0123456789") != std::string::npos)
        return {};
    const std::string process = "/proc/" + pid;
    std::string stat;
    if (readProcFile(process + "/stat", stat)) {
        std::string device = pseudoTerminal(stat);
        if (!device.empty())
            return device;
    }
    for (const char *fd : {"/fd/0", "/fd/1", "/fd/2"}) {
        char target[256];
        const ssize_t length = ::readlink((process + fd).c_str(), target, sizeof target);
        if (length <= 0 || length == sizeof target)
            continue;
        const std::string_view path(target, static_cast<std::size_t>(length));
        if (path.starts_with("/dev/pts/") || path.starts_with("/dev/tty"))
            return std::string(path);
    }
    return {};
}

} // namespace

bool readProcFile(const std::string &path, std::string &text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    char buffer[4096];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    text.assign(buffer, count > 0 ? static_cast<std::size_t>(count) : 0);
    return count >= 0;
}

HookRecord::Terminal of(const std::string &pid)
{
    HookRecord::Terminal found;
    for (const char *name : TerminalVariables::all) {
        const char *value = std::getenv(name);
        if (value && *value)
            found.emplace_back(name, value);
    }
    std::string tty = terminalOf(pid);
    if (!tty.empty())
        found.emplace_back(TerminalVariables::tty, std::move(tty));
    return found;
}

} // namespace HookTerminal
