#pragma once

// The relay's JSON: what it reads of Tolvo's commands and the hooks' records,
// and the lines it writes. Plain C++ and nlohmann-json.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace RelayJson {

using Json = nlohmann::json;
using Ordered = nlohmann::ordered_json;

// Objects and arrays nested deeper than `depth` are left out of the value.
inline Json parsed(std::string_view text, int depth)
{
    return Json::parse(
        text,
        [depth](int at, Json::parse_event_t event, Json &) {
            return at <= depth || (event != Json::parse_event_t::object_start &&
                                   event != Json::parse_event_t::array_start);
        },
        false);
}

inline std::string text(const Json &object, const char *name)
{
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

inline std::string line(const Ordered &message)
{
    return message.dump(-1, ' ', false, Ordered::error_handler_t::replace) + '\n';
}

} // namespace RelayJson
