#pragma once

// Hook inputs as JSON, for the hook helper: parsed with a depth bound, and
// repaired first where a bad byte or a lone surrogate would cost the whole
// input. Plain C++ and nlohmann-json.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace HookJson {

// Keeps the members of objects in their order, so that a tool input keeps
// the order the agent wrote it in.
using Json = nlohmann::ordered_json;

// Discarded when the text is not JSON; arrays and objects nested too deep are left out.
Json parsed(std::string_view text);
// One line, with invalid UTF-8 replaced.
std::string compact(const Json &value);
// The parsed input; a bad byte or lone surrogate costs only its own text.
Json parsedRepaired(std::string_view input);
// `text` cut after at most `count` code points, never inside a UTF-8 sequence.
std::string_view leadingCodePoints(std::string_view text, std::size_t count);

} // namespace HookJson
