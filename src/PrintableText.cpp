#include "PrintableText.h"

#include <array>
#include <cstring>

namespace {

bool printable(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7f;
}

void appendHex(std::string& out, unsigned char byte) {
    constexpr std::array<char, 16> kDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                           '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    out += "\\x";
    out += kDigits[byte >> 4U];
    out += kDigits[byte & 0xfU];
}

bool blank(unsigned char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\v' ||
           byte == '\f';
}

}  // namespace

std::string inQuotes(std::string_view text, std::size_t limit) {
    const bool cut = text.size() > limit;
    std::string out = "\"";
    for (const char c : text.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (printable(byte)) {
            out += c;
        } else {
            appendHex(out, byte);
        }
    }
    out += '"';
    if (cut) {
        out += "...";
    }
    return out;
}

std::string oneLine(std::string_view text) {
    std::string out;
    bool blankPending = false;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (blank(byte)) {
            blankPending = !out.empty();
            continue;
        }
        if (blankPending) {
            out += ' ';
            blankPending = false;
        }
        if (printable(byte)) {
            out += c;
        } else {
            appendHex(out, byte);
        }
    }
    return out;
}

std::string_view fieldText(const char* field, std::size_t size) {
    const void* nul = std::memchr(field, '\0', size);
    return {field, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - field)
                                  : size};
}
