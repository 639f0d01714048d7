#include "hookinstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

using Json = nlohmann::ordered_json;

namespace {

// Settings are a few levels deep; the limit keeps the recursive dump and
// comparisons far away from the end of the stack on hostile input.
constexpr int maxNesting = 512;

QString messageOf(const Json::exception &e)
{
    // Without the library's "[json.exception.parse_error.101] " tag.
    QString message = QString::fromUtf8(e.what());
    if (message.startsWith(u'['))
        message = message.mid(message.indexOf(u']') + 1).trimmed();
    return message;
}

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// --- Numbers keep the text the user wrote ---
//
// The parser turns 1.50 into 1.5, 1E5 into 100000.0 and 123456789012345678901234567890
// into 1.2345678901234568e+29, and refuses 1e400 outright. So a number that is not a
// plain integer enters the document as a string: a marker that no settings file holds
// (it is random for each process) followed by the number's text, and format() writes
// that text back in place of the string.

const std::string &numberMarker()
{
    static const std::string marker = [] {
        std::string m = "tolvo-number-";
        for (int i = 0; i < 4; ++i)
            m += QByteArray::number(QRandomGenerator::system()->generate(), 16)
                     .rightJustified(8, '0')
                     .toStdString();
        return m + ':';
    }();
    return marker;
}

bool isJsonNumber(std::string_view s)
{
    size_t i = 0;
    const auto digits = [&] {
        const size_t from = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i > from;
    };
    if (i < s.size() && s[i] == '-')
        ++i;
    if (i < s.size() && s[i] == '0')
        ++i;
    else if (!digits())
        return false;
    if (i < s.size() && s[i] == '.' && (++i, !digits()))
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == s.size();
}

// A number whose text the parser does not hand on: one that overflows a double, or -0.
// `ordinal` counts the numbers of the text from 0.
struct KeptNumber
{
    qsizetype ordinal;
    std::string text;
};

// What one pass over the text finds outside its strings.
struct Scan
{
    bool tooDeep = false;
    qsizetype numbers = 0;
    std::vector<KeptNumber> kept;
    // The text with each number that overflows a double replaced by 0.000... of the
    // same length, so that the parser takes it and its error positions stay right;
    // null when nothing was replaced.
    QByteArray parsable;
};

Scan scan(const QByteArray &text)
{
    Scan result;
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxNesting) {
                result.tooDeep = true;
                return result;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            qsizetype end = i + 1;
            while (end < text.size() && std::strchr("0123456789+-.eE", text[end]) && text[end])
                ++end;
            const std::string_view number(text.constData() + i, size_t(end - i));
            const qsizetype ordinal = result.numbers++;
            if (isJsonNumber(number)) {
                double value;
                const bool overflows =
                    std::from_chars(number.data(), number.data() + number.size(), value).ec ==
                    std::errc::result_out_of_range;
                if (overflows) { // at least "1e309"
                    if (result.parsable.isNull())
                        result.parsable = text;
                    result.parsable.replace(i, end - i, "0." + QByteArray(end - i - 2, '0'));
                }
                if (overflows || number == "-0")
                    result.kept.push_back({ordinal, std::string(number)});
            }
            i = end - 1;
        }
    }
    return result;
}

// Builds the document as the library's own parser would (a repeated key keeps its
// first place and its last value), with numbers as described above.
class DocumentBuilder : public nlohmann::json_sax<Json>
{
public:
    explicit DocumentBuilder(const Scan &scan) : m_scan(scan) {}

    Json root;
    QString error; // set when the text was refused

    bool null() override { return add(nullptr); }
    bool boolean(bool value) override { return add(value); }
    bool number_integer(number_integer_t value) override { return number(Json(value), {}); }
    bool number_unsigned(number_unsigned_t value) override { return number(Json(value), {}); }
    bool number_float(number_float_t, const string_t &text) override
    {
        // The text as read, but with the locale's decimal separator.
        std::string written = text;
        for (char &c : written) {
            if (!std::strchr("0123456789+-eE", c) || !c)
                c = '.';
        }
        return number(nullptr, written);
    }
    bool string(string_t &value) override { return add(std::move(value)); }
    bool binary(binary_t &) override { return false; } // not in JSON text
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool key(string_t &name) override
    {
        m_slot = &(*m_open.back())[name];
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string &, const Json::exception &e) override
    {
        error = QStringLiteral("is not valid JSON: ") + messageOf(e);
        return false;
    }

    // Whether every number of the scan went through this builder.
    bool complete() const
    {
        return m_numbers == m_scan.numbers && m_nextKept == m_scan.kept.size();
    }

private:
    // `written`: the text of a number that is not a plain integer.
    bool number(Json value, const std::string &written)
    {
        const qsizetype ordinal = m_numbers++;
        if (m_nextKept < m_scan.kept.size() && m_scan.kept[m_nextKept].ordinal == ordinal)
            return add(numberMarker() + m_scan.kept[m_nextKept++].text);
        if (!written.empty())
            return add(numberMarker() + written);
        return add(std::move(value));
    }

    Json *place(Json value)
    {
        if (m_open.empty()) {
            root = std::move(value);
            return &root;
        }
        Json &parent = *m_open.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        *m_slot = std::move(value);
        return m_slot;
    }
    template<typename T> bool add(T &&value)
    {
        place(Json(std::forward<T>(value)));
        return true;
    }
    bool open(Json container)
    {
        m_open.push_back(place(std::move(container)));
        return true;
    }
    bool close()
    {
        m_open.pop_back();
        return true;
    }

    const Scan &m_scan;
    std::vector<Json *> m_open; // the objects and arrays being filled, innermost last
    Json *m_slot = nullptr;     // where the value after a key goes
    qsizetype m_numbers = 0;
    size_t m_nextKept = 0;
};

struct Parsed
{
    std::optional<Json> root; // unset: refused
    QString reason;
};

// The settings as an object whose "hooks", if there, is an object of events.
// `events` are the events Tolvo installs into: those must hold lists.
Parsed parseSettings(const QByteArray &text, const std::vector<std::string> &events)
{
    if (text.trimmed().isEmpty())
        return {Json::object(), {}};
    // The parser stops at a NUL as if the text ended there: what follows
    // would silently be dropped on the next write.
    if (text.contains('\0'))
        return {std::nullopt, QStringLiteral("contains a NUL character")};
    const Scan numbers = scan(text);
    if (numbers.tooDeep)
        return {std::nullopt, QStringLiteral("is nested too deeply to be settings")};
    const QByteArray &parsable = numbers.parsable.isNull() ? text : numbers.parsable;
    DocumentBuilder builder(numbers);
    if (!Json::sax_parse(parsable.constBegin(), parsable.constEnd(), &builder))
        return {std::nullopt, builder.error};
    if (!builder.complete()) // a number the scan and the parser saw differently
        return {std::nullopt, QStringLiteral("has numbers Tolvo cannot keep exactly")};
    Json &root = builder.root;
    if (!root.is_object())
        return {std::nullopt, QStringLiteral("is not a JSON object")};
    const auto hooks = root.find("hooks");
    if (hooks == root.end())
        return {std::move(root), {}};
    if (!hooks->is_object())
        return {std::nullopt, QStringLiteral("has a \"hooks\" value that is not an object")};
    for (const std::string &event : events) {
        const auto groups = hooks->find(event);
        if (groups != hooks->end() && !groups->is_array())
            return {std::nullopt, QStringLiteral("has a \"hooks\" entry \"%1\" that is not a list")
                                      .arg(fromStd(event))};
    }
    return {std::move(root), {}};
}

// The sections of the copy-and-paste configuration, so that both ways of
// installing give Claude Code exactly the same hooks.
struct Sections
{
    Json hooks;                      // event -> list of matcher groups
    std::vector<std::string> events; // in the configuration's order
    std::string command;             // the command every event runs
};

// Unset when the prefix cannot hold hooks; `problem` then says why.
std::optional<Sections> tolvoSections(const QString &prefix, QString *problem = nullptr)
{
    const QString configuration = HookConfiguration::hooksConfiguration(prefix);
    if (configuration.isEmpty()) {
        if (problem)
            *problem = QStringLiteral("cannot hold Tolvo's hooks: ") +
                       HookConfiguration::prefixProblem(prefix);
        return std::nullopt;
    }
    const QByteArray text = ('{' + configuration + '}').toUtf8();
    Json parsed = Json::parse(text.constBegin(), text.constEnd());
    Sections sections;
    sections.hooks = std::move(parsed["hooks"]);
    for (const auto &[event, groups] : sections.hooks.items())
        sections.events.push_back(event);
    sections.command = sections.hooks.front()[0]["hooks"][0]["command"].get<std::string>();
    return sections;
}

const Json *commandOf(const Json &entry)
{
    if (!entry.is_object())
        return nullptr;
    const auto command = entry.find("command");
    return command != entry.end() && command->is_string() ? &*command : nullptr;
}

bool isTolvoEntry(const Json &entry)
{
    const Json *command = commandOf(entry);
    return command &&
           HookInstaller::isTolvoCommand(fromStd(command->get_ref<const std::string &>()));
}

// A matcher group's list of hook entries, if it has one.
template<typename J> J *entriesOf(J &group)
{
    if (!group.is_object())
        return nullptr;
    const auto entries = group.find("hooks");
    return entries != group.end() && entries->is_array() ? &*entries : nullptr;
}

// Drops Tolvo's entries from one event's matcher groups, and each group that this
// leaves empty. With `keep`, the first Tolvo entry stays and runs `keep` instead.
// Returns how many Tolvo entries there were.
int pruneEvent(Json &groups, const std::string *keep)
{
    int found = 0;
    for (auto group = groups.begin(); group != groups.end();) {
        Json *entries = entriesOf(*group);
        if (!entries) {
            ++group;
            continue;
        }
        bool removed = false;
        for (auto entry = entries->begin(); entry != entries->end();) {
            if (!isTolvoEntry(*entry)) {
                ++entry;
            } else if (found++ == 0 && keep) {
                (*entry)["command"] = *keep;
                ++entry;
            } else {
                entry = entries->erase(entry);
                removed = true;
            }
        }
        if (removed && entries->empty())
            group = groups.erase(group);
        else
            ++group;
    }
    return found;
}

// Removes Tolvo's entries from every event but those in `skip`, dropping events
// that this leaves empty. Returns how many entries there were.
int pruneAllEvents(Json &hooks, const std::vector<std::string> &skip)
{
    int found = 0;
    std::vector<std::string> emptied;
    for (auto &[event, groups] : hooks.items()) {
        if (!groups.is_array() || std::find(skip.begin(), skip.end(), event) != skip.end())
            continue;
        const int here = pruneEvent(groups, nullptr);
        if (here > 0 && groups.empty())
            emptied.push_back(event);
        found += here;
    }
    for (const std::string &event : emptied)
        hooks.erase(event);
    return found;
}

QByteArray format(const Json &root)
{
    // Invalid UTF-8 cannot come out of the parser; replacing keeps dump() from throwing.
    const std::string text = root.dump(2, ' ', false, Json::error_handler_t::replace);
    // Each number kept as text is a string "<marker><digits...>" in the dump: no
    // escapes inside, so the next quote closes it.
    const std::string open = '"' + numberMarker();
    QByteArray out;
    out.reserve(qsizetype(text.size()) + 1);
    size_t from = 0;
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, from)) {
        out.append(text.data() + from, qsizetype(at - from));
        const size_t number = at + open.size();
        const size_t close = text.find('"', number);
        out.append(text.data() + number, qsizetype(close - number));
        from = close + 1;
    }
    out.append(text.data() + from, qsizetype(text.size() - from));
    return out + '\n';
}

HookInstaller::Edit finish(const QByteArray &input, const Json &before, const Json &after)
{
    HookInstaller::Edit edit;
    edit.ok = true;
    edit.changed = before != after;
    edit.text = edit.changed ? format(after) : input;
    return edit;
}

HookInstaller::Edit refused(const QString &reason)
{
    HookInstaller::Edit edit;
    edit.reason = reason;
    return edit;
}

// The first word of a shell command that names a tolvo.sh, after sh's quote removal:
// '/a/b'\''c/tolvo.sh' gives /a/b'c/tolvo.sh. Redirections, pipes, lists and
// substitutions end a word. Empty when there is none.
QString scriptPathOf(QStringView command)
{
    static constexpr QStringView ends = u"|;&()<>`";
    static constexpr QStringView escapedInDoubleQuotes = u"$`\"\\";
    const auto isScript = [](const QString &word) {
        return word == u"tolvo.sh" || word.endsWith(u"/tolvo.sh");
    };
    QString word;
    const qsizetype n = command.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = command[i];
        if (c == u'\'') {
            qsizetype close = command.indexOf(u'\'', i + 1);
            if (close < 0)
                close = n;
            word += command.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            for (++i; i < n && command[i] != u'"'; ++i) {
                if (command[i] == u'\\' && i + 1 < n &&
                    escapedInDoubleQuotes.contains(command[i + 1]))
                    ++i;
                word += command[i];
            }
        } else if (c == u'\\') {
            if (i + 1 < n)
                word += command[++i];
        } else if (c.isSpace() || ends.contains(c)) {
            if (isScript(word))
                return word;
            word.clear();
        } else {
            word += c;
        }
    }
    return isScript(word) ? word : QString();
}

} // namespace

namespace HookInstaller {

bool isTolvoCommand(QStringView command)
{
    return !scriptPathOf(command).isEmpty();
}

Edit install(const QByteArray &settings, const QString &prefix)
{
    QString problem;
    const std::optional<Sections> sections = tolvoSections(prefix, &problem);
    if (!sections)
        return refused(problem);
    const Parsed parsed = parseSettings(settings, sections->events);
    if (!parsed.root)
        return refused(parsed.reason);
    Json root = *parsed.root;
    if (!root.contains("hooks"))
        root["hooks"] = Json::object(); // a new key goes last
    Json &hooks = root["hooks"];
    pruneAllEvents(hooks, sections->events);
    for (const std::string &event : sections->events) {
        const auto groups = hooks.find(event);
        if (groups == hooks.end())
            hooks[event] = sections->hooks[event];
        else if (pruneEvent(*groups, &sections->command) == 0)
            groups->push_back(sections->hooks[event].front());
    }
    return finish(settings, *parsed.root, root);
}

Edit remove(const QByteArray &settings)
{
    // Refuses exactly what install refuses; the events do not depend on the prefix.
    static const std::vector<std::string> events = tolvoSections(QStringLiteral("/usr"))->events;
    const Parsed parsed = parseSettings(settings, events);
    if (!parsed.root)
        return refused(parsed.reason);
    Json root = *parsed.root;
    const auto hooks = root.find("hooks");
    if (hooks != root.end() && pruneAllEvents(*hooks, {}) > 0 && hooks->empty())
        root.erase(hooks);
    return finish(settings, *parsed.root, root);
}

Inspection inspect(const QByteArray &settings, const QString &prefix)
{
    Inspection inspection;
    const std::optional<Sections> sections = tolvoSections(prefix, &inspection.reason);
    if (!sections)
        return inspection;
    const Parsed parsed = parseSettings(settings, sections->events);
    if (!parsed.root) {
        inspection.reason = parsed.reason;
        return inspection;
    }
    const QString ownScript = HookConfiguration::hookScriptPath(prefix);
    bool anyTolvoEntry = false;
    const Json hooks = parsed.root->value("hooks", Json::object());
    for (const Json &groups : hooks) {
        if (!groups.is_array())
            continue;
        for (const Json &group : groups) {
            const Json *entries = entriesOf(group);
            if (!entries)
                continue;
            for (const Json &entry : *entries) {
                if (!isTolvoEntry(entry))
                    continue;
                anyTolvoEntry = true;
                const QString script =
                    scriptPathOf(fromStd(commandOf(entry)->get_ref<const std::string &>()));
                if (script != ownScript && !inspection.otherScriptPaths.contains(script))
                    inspection.otherScriptPaths.append(script);
            }
        }
    }
    if (!anyTolvoEntry)
        inspection.state = State::NotInstalled;
    else if (!install(settings, prefix).changed)
        inspection.state = State::Installed;
    else if (!inspection.otherScriptPaths.isEmpty())
        inspection.state = State::OtherScriptPath;
    else
        inspection.state = State::Incomplete;
    if (inspection.state != State::OtherScriptPath)
        inspection.otherScriptPaths.clear();
    return inspection;
}

QString describe(const Inspection &inspection)
{
    switch (inspection.state) {
    case State::Invalid:
        return QStringLiteral("The settings file %1.").arg(inspection.reason);
    case State::NotInstalled:
        return QStringLiteral("Tolvo's hooks are not installed in Claude Code's settings.");
    case State::Installed:
        return QStringLiteral("Tolvo's hooks are installed: Claude Code reports to Tolvo.");
    case State::OtherScriptPath:
        return QStringLiteral("Tolvo's hooks are installed with another script path: %1. Install "
                              "again to use this copy of Tolvo.")
            .arg(inspection.otherScriptPaths.join(QStringLiteral(", ")));
    case State::Incomplete:
        return QStringLiteral(
            "Tolvo's hooks are partly installed: install again to complete them.");
    }
    return {};
}

// --- The settings file ---

namespace {

struct SettingsFile
{
    bool exists = false;
    QByteArray text;
    QString error; // completes "The settings file ..."
};

SettingsFile readSettings(const QString &path)
{
    SettingsFile file;
    const QFileInfo info(path);
    if (!info.exists())
        return file;
    file.exists = true;
    if (info.isDir()) {
        file.error = QStringLiteral("is a folder");
        return file;
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        file.error = QStringLiteral("cannot be read: ") + in.errorString();
        return file;
    }
    file.text = in.readAll();
    return file;
}

QString shown(const QString &path)
{
    const QString home = QDir::homePath() + u'/';
    return path.startsWith(home) ? u'~' + path.mid(home.size() - 1) : path;
}

FileOutcome failed(const QString &message)
{
    return {false, false, message};
}

bool sameFile(const SettingsFile &a, const SettingsFile &b)
{
    return a.exists == b.exists && a.error.isEmpty() && b.error.isEmpty() && a.text == b.text;
}

// Keeps `text`, the file as Tolvo is about to replace it, at `backup` with the file's
// own permissions: it holds what the user wrote, secrets included.
bool writeBackup(const QString &path, const QString &backup, const QByteArray &text, QString *error)
{
    QFile out(backup);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::permissions(path))) {
        *error = out.errorString();
        return false;
    }
    if (out.write(text) != text.size() || !out.flush()) {
        *error = out.errorString();
        out.remove();
        return false;
    }
    return true;
}

// Reads the file, edits it and replaces it atomically, unless the edit was refused or
// changes nothing. Just before the replace the file is read once more: when it
// changed in the meantime the edit is done again on what it holds now, and when it
// changed once more nothing is written.
FileOutcome change(const QString &path, const std::function<Edit(const QByteArray &)> &edit,
                   const QString &changedMessage, const QString &unchangedMessage,
                   const BeforeReplace &beforeReplace)
{
    const QString writeFailed = QStringLiteral("Could not write %1: %2").arg(shown(path));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const SettingsFile file = readSettings(path);
        const Edit edited = file.error.isEmpty() ? edit(file.text) : refused(file.error);
        if (!edited.ok)
            return failed(
                QStringLiteral("%1 was not changed: the file %2.").arg(shown(path), edited.reason));
        if (!edited.changed)
            return {true, false, unchangedMessage.arg(shown(path))};
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return failed(writeFailed.arg(QStringLiteral("its folder cannot be created")));
        QSaveFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(edited.text) != edited.text.size())
            return failed(writeFailed.arg(out.errorString()));

        QString message = changedMessage.arg(shown(path));
        const QString backup = backupPath(path);
        const bool makeBackup = file.exists && !QFileInfo::exists(backup);
        if (makeBackup) {
            QString error;
            if (!writeBackup(path, backup, file.text, &error))
                return failed(writeFailed.arg(QStringLiteral("no backup could be made: ") + error));
            message += QStringLiteral(" The previous file is kept as %1.").arg(shown(backup));
        }
        if (beforeReplace)
            beforeReplace();
        if (!sameFile(readSettings(path), file)) {
            // Not Tolvo's first change after all; QSaveFile drops its copy.
            if (makeBackup)
                QFile::remove(backup);
            continue;
        }
        if (!out.commit())
            return failed(writeFailed.arg(out.errorString()));
        return {true, true, message};
    }
    return failed(QStringLiteral("Tolvo did not write %1: it changed while Tolvo was writing it; "
                                 "try again.")
                      .arg(shown(path)));
}

} // namespace

QString defaultSettingsPath()
{
    return QDir::homePath() + QStringLiteral("/.claude/settings.json");
}

QString backupPath(const QString &settingsPath)
{
    return settingsPath + QStringLiteral(".tolvo-backup");
}

Inspection inspectFile(const QString &settingsPath, const QString &prefix)
{
    const SettingsFile file = readSettings(settingsPath);
    if (!file.error.isEmpty())
        return {State::Invalid, file.error, {}};
    return inspect(file.text, prefix);
}

FileOutcome installFile(const QString &settingsPath, const QString &prefix,
                        const BeforeReplace &beforeReplace)
{
    const QString problem = HookConfiguration::prefixProblem(prefix);
    if (!problem.isEmpty())
        return failed(QStringLiteral("%1 was not changed: %2.").arg(shown(settingsPath), problem));
    return change(
        settingsPath, [&prefix](const QByteArray &text) { return install(text, prefix); },
        QStringLiteral("Installed Tolvo's hooks in %1."),
        QStringLiteral("Tolvo's hooks were already installed in %1."), beforeReplace);
}

FileOutcome removeFile(const QString &settingsPath, const BeforeReplace &beforeReplace)
{
    return change(settingsPath, remove, QStringLiteral("Removed Tolvo's hooks from %1."),
                  QStringLiteral("%1 has no Tolvo hooks to remove."), beforeReplace);
}

} // namespace HookInstaller
