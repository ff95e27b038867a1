// Feeds formatMiddlePixelLine frames of any shape, format, size and content.
// The frame data is an exact-size heap copy, so AddressSanitizer stops any read
// past it; every line must then be one of the forms camwatch may print, and the
// printed pixel must be the one at the packed middle index.

#include <OniCEnums.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "MiddlePixelLine.h"

namespace {

// Input layout: width, height, format, declared data size (int32 each), the
// timestamp (uint64), a flag byte (bit 0: null data), then the data bytes.
struct FuzzFrame {
    FrameView view;
    // A plain heap block of exactly the claimed size (non-null even when empty),
    // so that AddressSanitizer flags the first byte read past it.
    std::unique_ptr<unsigned char[]> storage;  // NOLINT(modernize-avoid-c-arrays)
};

template <typename T>
T take(const std::uint8_t*& input, std::size_t& size) {
    T value{};
    if (size >= sizeof value) {
        std::memcpy(&value, input, sizeof value);
        input += sizeof value;
        size -= sizeof value;
    }
    return value;
}

FuzzFrame decode(const std::uint8_t* input, std::size_t size) {
    FuzzFrame frame;
    frame.view.width = take<std::int32_t>(input, size);
    frame.view.height = take<std::int32_t>(input, size);
    frame.view.pixelFormat = take<std::int32_t>(input, size);
    auto declared = take<std::int32_t>(input, size);
    frame.view.timestamp = take<std::uint64_t>(input, size);
    const bool nullData = (take<std::uint8_t>(input, size) & 1U) != 0;

    // The library never claims more bytes than it hands over; a negative claim
    // is kept to check that it is treated as no data at all.
    if (declared > 0 && static_cast<std::size_t>(declared) > size) {
        declared = static_cast<std::int32_t>(size);
    }
    frame.view.dataSize = declared;
    if (!nullData) {
        const std::size_t bytes = declared > 0 ? static_cast<std::size_t>(declared) : 0;
        frame.storage.reset(new unsigned char[bytes]);
        if (bytes > 0) {
            std::memcpy(frame.storage.get(), input, bytes);
        }
        frame.view.data = frame.storage.get();
    }
    return frame;
}

[[noreturn]] void fail(const char* why, const std::string& line) {
    std::fprintf(stderr, "bad line (%s): \"%s\"\n", why, line.c_str());
    std::abort();
}

bool consume(std::string& rest, const std::string& prefix) {
    if (rest.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    rest.erase(0, prefix.size());
    return true;
}

// The pixel the line must name, or -1 when the middle lies outside the frame.
long long expectedMiddleByte(const FrameView& frame, long long pixelBytes) {
    if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0) {
        return -1;
    }
    const long long width = frame.width;
    const long long height = frame.height;
    const long long index = (height + 1) * width / 2;
    if (index >= width * height || (index + 1) * pixelBytes > frame.dataSize) {
        return -1;
    }
    return index * pixelBytes;
}

// What a frame line says after its timestamp, per kind of stream.
struct StreamKind {
    const char* name;
    long long pixelBytes;
    const char* valuePrefix;
    std::string (*valueText)(const unsigned char* pixel);
};

std::string depthText(const unsigned char* pixel) {
    std::array<char, 16> field{};
    std::snprintf(field.data(), field.size(), "%8u\n",
                  static_cast<unsigned>(pixel[0] | (pixel[1] << 8U)));
    return field.data();
}

std::string colorText(const unsigned char* pixel) {
    std::array<char, 16> field{};
    std::snprintf(field.data(), field.size(), "%02x%02x%02x\n", pixel[0], pixel[1], pixel[2]);
    return field.data();
}

constexpr StreamKind kDepth{"Depth", 2, "Depth middle index ", depthText};
constexpr StreamKind kColor{"Color", 3, "Color RGB value 0x", colorText};

void checkPixel(const FrameView& frame, const StreamKind& kind, std::string rest,
                const std::string& line) {
    const long long offset = expectedMiddleByte(frame, kind.pixelBytes);
    if (offset < 0) {
        if (rest != std::string(kind.name) + " middle pixel outside frame\n") {
            fail("pixel is outside", line);
        }
        return;
    }
    const unsigned char* pixel = static_cast<const unsigned char*>(frame.data) + offset;
    if (!consume(rest, kind.valuePrefix) || rest != kind.valueText(pixel)) {
        fail("pixel value", line);
    }
}

void checkLine(const FrameView& frame, const std::string& line) {
    const int format = frame.pixelFormat;
    const bool depth =
        format == ONI_PIXEL_FORMAT_DEPTH_1_MM || format == ONI_PIXEL_FORMAT_DEPTH_100_UM;
    if (!depth && format != ONI_PIXEL_FORMAT_RGB888) {
        if (line != "Unknown format\n") {
            fail("unknown format", line);
        }
        return;
    }
    std::array<char, 32> stamp{};
    std::snprintf(stamp.data(), stamp.size(), "[%08llu] ",
                  static_cast<unsigned long long>(frame.timestamp));
    std::string rest = line;
    if (!consume(rest, stamp.data())) {
        fail("timestamp", line);
    }
    checkPixel(frame, depth ? kDepth : kColor, rest, line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    const FuzzFrame frame = decode(input, size);
    // Exactly the promised room, filled with non-zero bytes: a write past it or a
    // missing terminator is caught by AddressSanitizer in the strlen below.
    const std::unique_ptr<char[]> line(  // NOLINT(modernize-avoid-c-arrays)
        new char[kMiddlePixelLineCapacity]);
    std::memset(line.get(), 'x', kMiddlePixelLineCapacity);
    const std::size_t length =
        formatMiddlePixelLine(frame.view, line.get(), kMiddlePixelLineCapacity);
    if (length >= kMiddlePixelLineCapacity || length != std::strlen(line.get())) {
        fail("length", std::string(line.get(), length));
    }
    checkLine(frame.view, std::string(line.get(), length));
    return 0;
}
