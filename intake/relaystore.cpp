#include "relaystore.h"

#include "hookterminal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>

namespace Relay {

namespace {

// Gone: no such process, or one that is dead but not yet reaped (by an
// init that does not reap, in a container).
bool processGone(pid_t pid)
{
    if (::kill(pid, 0) == -1 && errno == ESRCH)
        return true;
    std::string stat;
    if (!HookTerminal::readProcFile("/proc/" + std::to_string(pid) + "/stat", stat))
        return false;
    const std::size_t name = stat.rfind(')');
    return name != std::string::npos && name + 2 < stat.size() && stat[name + 2] == 'Z';
}

} // namespace

pid_t Store::processId(std::string_view instance)
{
    if (instance.empty() || instance.size() > 10 ||
        instance.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    long long value = 0;
    for (const char c : instance)
        value = value * 10 + (c - '0');
    return value >= 1 && value <= INT_MAX ? pid_t(value) : 0;
}

Store::Piece Store::addRecord(const std::string &instance, std::string_view record)
{
    std::string line;
    line.reserve(record.size() + 40);
    line += "{\"seq\":";
    line += std::to_string(m_seq + 1);
    line += ",\"record\":";
    line += record;
    line += '}';
    Piece piece = add(instance, std::move(line));
    // A process id seen again belongs to a session that runs (again).
    m_instances[instance].exited = false;
    return piece;
}

Store::Piece Store::addRefused(const std::string &instance)
{
    return add(instance,
               "{\"seq\":" + std::to_string(m_seq + 1) + ",\"refused\":\"" + instance + "\"}");
}

std::vector<std::pair<std::string, Store::Piece>> Store::checkProcesses()
{
    std::vector<std::string> gone;
    for (const auto &[name, instance] : m_instances) {
        if (!instance.exited && processGone(instance.pid))
            gone.push_back(name);
    }
    std::vector<std::pair<std::string, Piece>> items;
    for (const std::string &name : gone) {
        items.emplace_back(name, add(name, "{\"seq\":" + std::to_string(m_seq + 1) +
                                               ",\"exited\":\"" + name + "\"}"));
        if (Instance *instance = find(name))
            instance->exited = true;
    }
    return items;
}

Store::Instance *Store::find(const std::string &instance)
{
    const auto found = m_instances.find(instance);
    return found == m_instances.end() ? nullptr : &found->second;
}

std::vector<Store::Piece> Store::replay() const
{
    std::vector<const Item *> all;
    for (const auto &[name, instance] : m_instances) {
        for (const Item &item : instance.items)
            all.push_back(&item);
    }
    std::sort(all.begin(), all.end(), [](const Item *a, const Item *b) { return a->seq < b->seq; });
    std::vector<Piece> lines;
    lines.reserve(all.size());
    for (const Item *item : all)
        lines.push_back(item->line);
    return lines;
}

std::vector<std::string> Store::live() const
{
    std::vector<std::string> names;
    for (const auto &[name, instance] : m_instances) {
        if (!instance.exited)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Store::anyLive() const
{
    return std::any_of(m_instances.begin(), m_instances.end(),
                       [](const auto &entry) { return !entry.second.exited; });
}

Store::Piece Store::add(const std::string &name, std::string line)
{
    if (!m_instances.contains(name) && m_instances.size() >= m_limits.instances)
        evictInstance(name);
    Instance &instance = m_instances[name];
    if (instance.pid == 0)
        instance.pid = processId(name);
    auto piece = std::make_shared<const std::string>(std::move(line));
    instance.lastSeq = ++m_seq;
    instance.items.push_back({m_seq, piece});
    m_bytes += piece->size();
    if (instance.items.size() > m_limits.itemsPerInstance) {
        m_bytes -= instance.items.front().line->size();
        instance.items.pop_front();
    }
    while (m_bytes > m_limits.bytes)
        evictOldestItem();
    return piece;
}

// The one to make room: an exited session before one that runs, the least
// recently active first.
void Store::evictInstance(const std::string &keep)
{
    auto victim = m_instances.end();
    for (auto it = m_instances.begin(); it != m_instances.end(); ++it) {
        if (it->first == keep)
            continue;
        if (victim == m_instances.end() || it->second.exited > victim->second.exited ||
            (it->second.exited == victim->second.exited &&
             it->second.lastSeq < victim->second.lastSeq))
            victim = it;
    }
    if (victim == m_instances.end())
        return;
    for (const Item &item : victim->second.items)
        m_bytes -= item.line->size();
    m_instances.erase(victim);
}

void Store::evictOldestItem()
{
    auto oldest = m_instances.end();
    for (auto it = m_instances.begin(); it != m_instances.end(); ++it) {
        if (!it->second.items.empty() &&
            (oldest == m_instances.end() ||
             it->second.items.front().seq < oldest->second.items.front().seq))
            oldest = it;
    }
    if (oldest == m_instances.end()) {
        m_bytes = 0;
        return;
    }
    m_bytes -= oldest->second.items.front().line->size();
    oldest->second.items.pop_front();
    if (oldest->second.items.empty() && oldest->second.exited)
        m_instances.erase(oldest);
}

} // namespace Relay
