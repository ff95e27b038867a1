#include "WholeNumber.h"

#include <charconv>
#include <system_error>

std::optional<long long> parseWholeNumber(std::string_view text, long long lowest,
                                          long long highest) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    // from_chars reports an overflow as out of range, and stops at the first
    // character that is not a digit.
    if (error != std::errc() || stop != end || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}
