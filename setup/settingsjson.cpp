#include "settingsjson.h"

#include <QRandomGenerator>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

namespace SettingsJson {

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

} // namespace

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

Parsed parseObject(const QByteArray &text)
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
    if (!builder.root.is_object())
        return {std::nullopt, QStringLiteral("is not a JSON object")};
    return {std::move(builder.root), {}};
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

const Json *commandOf(const Json &entry)
{
    if (!entry.is_object())
        return nullptr;
    const auto command = entry.find("command");
    return command != entry.end() && command->is_string() ? &*command : nullptr;
}

} // namespace SettingsJson
