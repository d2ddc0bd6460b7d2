#include "engine/nametemplates.h"

#include <utility>

#include "engine/textformat.h"

namespace salvora {

namespace {

struct Placeholder {
    std::string_view letters;
    std::string value;
};

struct TemplateKind {
    std::string_view word; // for messages
    std::string_view parameterised;
    std::string_view plain;
    std::string plainValue;
    Placeholder placeholders[3];
};

std::string twoDigits(int value) {
    std::string digits = std::to_string(value);
    return digits.size() < 2 ? "0" + digits : digits;
}

bool fail(std::string *error, std::string message) {
    if (error)
        *error = std::move(message);
    return false;
}

bool expand(std::string &name, const TemplateKind &kind, std::string *error) {
    std::string result = name;
    std::size_t start = findNoCase(result, kind.parameterised);
    if (start == std::string::npos) {
        replaceAllNoCase(result, kind.plain, kind.plainValue);
    } else {
        std::size_t formatStart = start + kind.parameterised.size();
        std::size_t close = result.find(']', formatStart);
        // Without a closing bracket the format runs to the end of the name.
        std::size_t formatEnd = close == std::string::npos ? result.size() : close;
        std::size_t tokenEnd = close == std::string::npos ? result.size() : close + 1;
        std::string format = result.substr(formatStart, formatEnd - formatStart);
        if (format.size() > maxTemplateFormatLength)
            return fail(error, "The " + std::string(kind.word) + " format in the output name is " +
                                   std::to_string(format.size()) + " characters long; at most " +
                                   std::to_string(maxTemplateFormatLength) + " are allowed");
        for (const Placeholder &placeholder : kind.placeholders)
            replaceAllNoCase(format, placeholder.letters, placeholder.value);
        std::string token = result.substr(start, tokenEnd - start);
        replaceAllNoCase(result, token, format);
    }
    if (result == name)
        return true;
    if (result.size() > maxExpandedNameLength)
        return fail(error, "The output name would be " + std::to_string(result.size()) +
                               " characters long with the " + std::string(kind.word) +
                               " put in; at most " + std::to_string(maxExpandedNameLength) +
                               " are allowed");
    name = std::move(result);
    return true;
}

} // namespace

void replaceAllNoCase(std::string &text, std::string_view token, std::string_view value) {
    if (token.empty())
        return;
    std::size_t at = findNoCase(text, token);
    while (at != std::string::npos) {
        text.replace(at, token.size(), value);
        at = findNoCase(text, token, at + value.size());
    }
}

bool expandDateTemplate(std::string &name, const platform::LocalTime &now, std::string *error) {
    std::string year = std::to_string(now.year);
    TemplateKind kind{"date",
                      "[date:",
                      "[date]",
                      year + "-" + twoDigits(now.month) + "-" + twoDigits(now.day),
                      {{"yyyy", year}, {"mm", twoDigits(now.month)}, {"dd", twoDigits(now.day)}}};
    return expand(name, kind, error);
}

bool expandTimeTemplate(std::string &name, const platform::LocalTime &now, std::string *error) {
    TemplateKind kind{"time",
                      "[time:",
                      "[time]",
                      twoDigits(now.hour) + twoDigits(now.minute) + twoDigits(now.second),
                      {{"hh", twoDigits(now.hour)},
                       {"mm", twoDigits(now.minute)},
                       {"ss", twoDigits(now.second)}}};
    return expand(name, kind, error);
}

} // namespace salvora
