#pragma once

#include <QHashFunctions>
#include <optional>

// Absent and present values hash differently, so that absent and "" differ.
template<typename T> size_t qHash(const std::optional<T> &value, size_t seed = 0)
{
    return value ? qHashMulti(seed, true, *value) : qHash(false, seed);
}
