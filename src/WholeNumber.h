#pragma once

#include <optional>
#include <string_view>

// A whole number written in decimal and nothing else: no blank, no sign but a
// leading minus, no trailing text; within [lowest, highest], or none.
std::optional<long long> parseWholeNumber(std::string_view text, long long lowest,
                                          long long highest);
