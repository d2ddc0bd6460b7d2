// The "[date]" and "[time]" templates of an output name, and their parameterised forms
// "[date:yyyymmdd]" and "[time:hh-mm-ss]".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace salvora {

// The longest format a parameterised token may carry.
inline constexpr std::size_t maxTemplateFormatLength = 58;
// An expanded name must still fit a path buffer.
inline constexpr std::size_t maxExpandedNameLength = 255;

// Replaces every occurrence of `token` (ASCII letters in any case) by `value`, searching on
// after each inserted value. An empty token changes nothing.
void replaceAllNoCase(std::string &text, std::string_view token, std::string_view value);

// Both expand the first parameterised token (and its identical copies), or else every plain
// one. On false `name` is unchanged and `error` says why.
bool expandDateTemplate(std::string &name, const platform::LocalTime &now,
                        std::string *error = nullptr);
bool expandTimeTemplate(std::string &name, const platform::LocalTime &now,
                        std::string *error = nullptr);

} // namespace salvora
