#include <gtest/gtest.h>

#include "ReadFailure.h"
#include "StopPoint.h"
#include "TraceLog.h"

namespace {

TEST(TraceQuoted, KeepsEachCallOnOneParsableLine) {
    EXPECT_EQ(traceQuoted(nullptr), "(null)");
    EXPECT_EQ(traceQuoted(""), "\"\"");
    EXPECT_EQ(traceQuoted("vcam://0"), "\"vcam://0\"");
    EXPECT_EQ(traceQuoted("\tno devices\n"), "\"\\tno devices\\n\"");
    EXPECT_EQ(traceQuoted("say \"hi\" \\ -> x"), "\"say \\\"hi\\\" \\\\ -> x\"");
    EXPECT_EQ(traceQuoted("\r\x1b\x7f"), "\"\\x0d\\x1b\\x7f\"");
    // Bytes beyond ASCII pass unchanged: the reader decodes them itself.
    EXPECT_EQ(traceQuoted("\xc3\xa9"), "\"\xc3\xa9\"");
}

TEST(ReadFailurePeriod, OnlyAWholePositiveNumberTurnsInjectionOn) {
    EXPECT_EQ(readFailurePeriod("1"), 1);
    EXPECT_EQ(readFailurePeriod("25"), 25);
    for (const char* off : {static_cast<const char*>(nullptr), "", "0", "-3", "three", "3x", " ",
                            "99999999999999999999999"}) {
        EXPECT_EQ(readFailurePeriod(off), 0) << (off != nullptr ? off : "(null)");
    }
}

TEST(StopPoint, MatchesTheWholeFunctionNameOnly) {
    EXPECT_TRUE(isCallOf("oniStreamStop stream=0x1", "oniStreamStop"));
    EXPECT_TRUE(isCallOf("oniShutdown", "oniShutdown"));
    EXPECT_FALSE(isCallOf("oniStreamStopped stream=0x1", "oniStreamStop"));
    EXPECT_FALSE(isCallOf("oniStream stream=0x1", "oniStreamStop"));
    EXPECT_FALSE(isCallOf("oniShutdown", ""));
}

}  // namespace
