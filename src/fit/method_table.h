// scorix-fit's methods (extractions, rotations, score types) are tables of
// named entries; an option's word picks the entry of that name.
#pragma once

#include <span>
#include <string_view>

// The entry called `name`, or nullptr when the table has none.
template <class Method>
const Method* find_named(std::span<const Method> table, std::string_view name)
{
    for (const Method& method : table)
        if (name == method.name)
            return &method;
    return nullptr;
}
