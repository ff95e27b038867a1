#include "PixelFormats.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

struct NamedFormat {
    int code;
    std::string_view name;
};

constexpr std::array<NamedFormat, 10> kFormats{{
    {100, "DEPTH_1_MM"},
    {101, "DEPTH_100_UM"},
    {102, "SHIFT_9_2"},
    {103, "SHIFT_9_3"},
    {200, "RGB888"},
    {201, "YUV422"},
    {202, "GRAY8"},
    {203, "GRAY16"},
    {204, "JPEG"},
    {205, "YUYV"},
}};

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

const char* pixelFormatName(int code) {
    const auto* found =
        std::find_if(kFormats.begin(), kFormats.end(),
                     [code](const NamedFormat& format) { return format.code == code; });
    // Each name is a whole literal, NUL-terminated.
    return found != kFormats.end() ? found->name.data() : nullptr;
}

std::optional<int> pixelFormatCode(std::string_view name) {
    const auto* found = std::find_if(
        kFormats.begin(), kFormats.end(),
        [name](const NamedFormat& format) { return sameIgnoringCase(format.name, name); });
    if (found == kFormats.end()) {
        return std::nullopt;
    }
    return found->code;
}
