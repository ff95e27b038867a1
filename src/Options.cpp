#include "Options.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "PrintableText.h"

const char* const kUsageLine =
    "usage: camwatch [-hVlsf] [-d CAMERA] [--depth-mode MODE] [--color-mode MODE]\n";

const char* const kHelpText =
    "usage: camwatch [-hVlsf] [-d CAMERA] [--depth-mode MODE] [--color-mode MODE]\n"
    "\n"
    "Reports the frames and device events of an OpenNI2 depth camera, a line\n"
    "each, until a key is pressed.\n"
    "\n"
    "  -h, --help             print this help and exit\n"
    "  -V, --version          print the version and exit\n"
    "  -l, --list             list the cameras and their sensors' modes, and exit\n"
    "  -d, --device=CAMERA    watch CAMERA: its index from 0 in the list, its URI\n"
    "                         or its serial number; else it goes to the library\n"
    "      --depth-mode=MODE  run the depth stream in the first offered mode that\n"
    "                         matches MODE\n"
    "      --color-mode=MODE  the same for the color stream\n"
    "  -s, --stats            a line per stream each second, not one per frame\n"
    "  -f, --follow           open the camera again when it is plugged in again\n"
    "\n"
    "MODE is WIDTHxHEIGHT[@FPS][:FORMAT]; FORMAT is a pixel format as --list names\n"
    "it (DEPTH_1_MM, DEPTH_100_UM, RGB888, ...) or its number. A part left out\n"
    "matches any.\n"
    "\n"
    "Exit status: 0 ended by a key, 1 the library did not initialise, 2 no camera\n"
    "could be opened (--list: none was listed), 3 a line could not be written,\n"
    "4 a mode asked for is not offered, 64 a wrong command line.\n";

namespace {

// Values of the options that have no letter, above every character.
constexpr int kDepthModeOption = 256;
constexpr int kColorModeOption = 257;

// '+': the first argument that is no option ends them, whatever POSIXLY_CORRECT
// says; ':': a missing value is told apart from an unknown option.
constexpr const char* kShortOptions = "+:hVld:sf";

const std::array<option, 9> kLongOptions{{
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"list", no_argument, nullptr, 'l'},
    {"device", required_argument, nullptr, 'd'},
    {"depth-mode", required_argument, nullptr, kDepthModeOption},
    {"color-mode", required_argument, nullptr, kColorModeOption},
    {"stats", no_argument, nullptr, 's'},
    {"follow", no_argument, nullptr, 'f'},
    {nullptr, 0, nullptr, 0},
}};

// The longest part of a wrong value or option a message repeats.
constexpr std::size_t kQuotedLimit = 64;

std::string longName(int value) {
    const auto* known = std::find_if(
        kLongOptions.begin(), kLongOptions.end(),
        [value](const option& each) { return each.name != nullptr && each.val == value; });
    return known != kLongOptions.end() ? std::string("--") + known->name : std::string();
}

// How the user wrote the option whose value is `value`: its long name when the
// word getopt took last is that long option or a prefix of it, else its letter.
std::string writtenAs(int value, const char* lastWord) {
    std::string name = longName(value);
    const std::string_view word = lastWord != nullptr ? lastWord : "";
    const std::string_view typed = word.substr(0, word.find('='));
    if (typed.size() > 2 && typed.substr(0, 2) == "--" &&
        std::string_view(name).substr(0, typed.size()) == typed) {
        return name;
    }
    if (value < kDepthModeOption) {
        return std::string("-") + static_cast<char>(value);
    }
    return name;
}

// The message for a word getopt did not take: an unknown or ambiguous long
// option, a long option given a value it does not take, or an unknown letter.
std::string unknownOption(int letter, const char* word) {
    const std::string_view written = word != nullptr ? word : "";
    if (written.substr(0, 2) == "--") {
        const std::string_view name = written.substr(2, written.find('=') - 2);
        const auto matches =
            std::count_if(kLongOptions.begin(), kLongOptions.end(), [name](const option& known) {
                return known.name != nullptr &&
                       std::string_view(known.name).substr(0, name.size()) == name;
            });
        const std::string shown = inQuotes(written.substr(0, written.find('=')), kQuotedLimit);
        if (letter != 0) {
            return "option " + shown + " takes no value";
        }
        return matches > 1 ? "option " + shown + " is ambiguous" : "unknown option " + shown;
    }
    const std::string shown =
        letter != 0 ? std::string("-") + static_cast<char>(letter) : std::string(written);
    return "unknown option " + inQuotes(shown, kQuotedLimit);
}

bool setDevice(Options& options, const char* value, const std::string& option, std::string& error) {
    const std::string_view device = value;
    if (device.empty()) {
        error = "option " + option + " needs a camera, not an empty value";
        return false;
    }
    if (device.size() > kMaxDeviceLength) {
        error = "option " + option + ": the camera " + inQuotes(device, kQuotedLimit) +
                " is longer than " + std::to_string(kMaxDeviceLength) + " bytes";
        return false;
    }
    options.device = std::string(device);
    return true;
}

bool setMode(std::optional<ModeRequest>& mode, const char* value, const std::string& option,
             std::string& error) {
    std::string reason;
    mode = parseModeRequest(value, reason);
    if (!mode) {
        error =
            "option " + option + ": wrong mode " + inQuotes(value, kQuotedLimit) + ": " + reason;
        return false;
    }
    return true;
}

// --list reports and ends; the options of a run have nothing to act on there.
bool consistent(const Options& options, std::string& error) {
    if (options.help || options.version || !options.list) {
        return true;
    }
    const char* other = nullptr;
    if (options.device) {
        other = "--device";
    } else if (options.depthMode) {
        other = "--depth-mode";
    } else if (options.colorMode) {
        other = "--color-mode";
    } else if (options.stats) {
        other = "--stats";
    } else if (options.follow) {
        other = "--follow";
    }
    if (other != nullptr) {
        error = std::string("--list cannot be combined with ") + other;
        return false;
    }
    return true;
}

}  // namespace

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options options;
    // glibc starts afresh, its permutation state included, at 0.
    optind = 0;
    opterr = 0;
    for (;;) {
        const int previous = optind;
        const int value = getopt_long(argc, argv, kShortOptions, kLongOptions.data(), nullptr);
        if (value == -1) {
            break;
        }
        // The word this option came from: the last getopt moved past, or the
        // one it is still in, for letters grouped in one word.
        const char* word = optind > previous ? argv[optind - 1] : argv[previous];
        bool good = true;
        switch (value) {
            case 'h':
                options.help = true;
                break;
            case 'V':
                options.version = true;
                break;
            case 'l':
                options.list = true;
                break;
            case 's':
                options.stats = true;
                break;
            case 'f':
                options.follow = true;
                break;
            case 'd':
                good = setDevice(options, optarg, writtenAs('d', word), error);
                break;
            case kDepthModeOption:
                good = setMode(options.depthMode, optarg, "--depth-mode", error);
                break;
            case kColorModeOption:
                good = setMode(options.colorMode, optarg, "--color-mode", error);
                break;
            case ':':
                error = "option " + writtenAs(optopt, word) + " needs a value";
                good = false;
                break;
            default:
                error = unknownOption(optopt, word);
                good = false;
                break;
        }
        if (!good) {
            return std::nullopt;
        }
    }
    if (optind < argc) {
        error = "unexpected argument " + inQuotes(argv[optind], kQuotedLimit);
        return std::nullopt;
    }
    if (!consistent(options, error)) {
        return std::nullopt;
    }
    return options;
}
