#pragma once

// What camwatch's exit status says.
constexpr int kRunEnded = 0;  // ended by a key
constexpr int kInitializeFailed = 1;
constexpr int kOpenFailed = 2;
constexpr int kOutputFailed = 3;  // a report line could not be written
