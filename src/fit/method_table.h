// scorix-fit's methods (extractions, rotations, score types) are tables of
// named entries; an option's word picks the entry of that name, in any case
// (geominq is geominQ).
#pragma once

#include <algorithm>
#include <cctype>
#include <span>
#include <string_view>

// The entry called `name` (case aside), or nullptr when the table has none.
template <class Method>
const Method* find_named(std::span<const Method> table, std::string_view name)
{
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    for (const Method& method : table)
        if (std::ranges::equal(name, std::string_view(method.name), {}, lower, lower))
            return &method;
    return nullptr;
}
