#include "hookjson.h"

#include <cstdint>
#include <cstdio>

namespace HookJson {

namespace {

// Arrays and objects nested deeper are left out: printing them again would
// recurse as deep (jq refused anything past 256).
constexpr int maximumDepth = 512;
constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// The UTF-8 sequence at `at`: a well-formed one, or the ill-formed bytes that
// one U+FFFD replaces (the longest start of a sequence there, at least one).
struct Sequence
{
    std::size_t length;
    bool wellFormed;
};

Sequence sequenceAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    unsigned char low = 0x80, high = 0xBF;
    std::size_t length = 0;
    if (lead < 0x80)
        return {1, true};
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;   // overlong
        high = lead == 0xED ? 0x9F : high; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;   // overlong
        high = lead == 0xF4 ? 0x8F : high; // beyond U+10FFFF
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (at + i >= text.size())
            return {i, false};
        const unsigned char next = byte(at + i);
        if (i == 1 ? next < low || next > high : (next & 0xC0) != 0x80)
            return {i, false};
    }
    return {length, true};
}

// The UTF-16 code unit of a \uXXXX escape at `at`, or -1.
int escapedUnit(std::string_view text, std::size_t at)
{
    if (text.size() - std::min(at, text.size()) < 6 || text[at] != '\\' || text[at + 1] != 'u')
        return -1;
    int unit = 0;
    for (std::size_t i = at + 2; i < at + 6; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

bool isHighSurrogate(int unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(int unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The parser refuses a whole document for one bad byte or one unpaired
// surrogate escape (JavaScript writes those for a string cut inside an
// emoji); both become U+FFFD. Everything else stays byte for byte, so a
// document that was broken stays broken.
std::string repaired(std::string_view json)
{
    std::string text;
    text.reserve(json.size() + 64);
    bool inString = false;
    std::size_t at = 0;
    while (at < json.size()) {
        // Plain ASCII runs are copied whole.
        std::size_t end = at;
        while (end < json.size() && static_cast<unsigned char>(json[end]) < 0x80 &&
               json[end] != '"' && json[end] != '\\')
            ++end;
        text.append(json.substr(at, end - at));
        at = end;
        if (at == json.size())
            break;
        const char c = json[at];
        if (static_cast<unsigned char>(c) >= 0x80) {
            const Sequence sequence = sequenceAt(json, at);
            text.append(sequence.wellFormed ? json.substr(at, sequence.length)
                                            : replacementCharacter);
            at += sequence.length;
        } else if (c == '"') {
            inString = !inString;
            text += c;
            ++at;
        } else if (!inString) {
            text += c;
            ++at;
        } else {
            const int unit = escapedUnit(json, at);
            if (isHighSurrogate(unit) && isLowSurrogate(escapedUnit(json, at + 6))) {
                text.append(json.substr(at, 12));
                at += 12;
            } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
                text.append("\\ufffd");
                at += 6;
            } else {
                // Any other escape: the backslash and the character it escapes.
                text.append(json.substr(at, 2));
                at += 2;
            }
        }
    }
    return text;
}

} // namespace

Json parsed(std::string_view text)
{
    return Json::parse(
        text,
        [](int depth, Json::parse_event_t event, Json &) {
            return depth <= maximumDepth || (event != Json::parse_event_t::object_start &&
                                             event != Json::parse_event_t::array_start);
        },
        false);
}

std::string compact(const Json &value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// `text` cut after at most `count` code points, never inside a UTF-8 sequence.
std::string_view leadingCodePoints(std::string_view text, std::size_t count)
{
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == count)
            return text.substr(0, i);
    }
    return text;
}

// The parsed input; a bad byte or lone surrogate costs only its own text.
Json parsedRepaired(std::string_view input)
{
    Json parsedInput = parsed(input);
    if (parsedInput.is_discarded()) {
        const std::string text = repaired(input);
        if (text.size() != input.size() || text != input)
            parsedInput = parsed(text);
    }
    return parsedInput;
}

} // namespace HookJson
