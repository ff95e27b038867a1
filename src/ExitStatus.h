#pragma once

// What camwatch's exit status says.
constexpr int kRunEnded = 0;  // ended by a key
constexpr int kInitializeFailed = 1;
constexpr int kOpenFailed = 2;
constexpr int kOutputFailed = 3;    // a report line could not be written
constexpr int kModeNotOffered = 4;  // --depth-mode or --color-mode names a mode the sensor lacks
constexpr int kUsage = 64;          // EX_USAGE: a wrong option, value or argument
