#include "platform/textcodec.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TEST(TextCodec, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("报告.txt"));
  EXPECT_FALSE(IsValidUtf8("\xB1\xA8\xB8\xE6.txt"));  // 报告 in GBK
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));              // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));          // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE6\x8A"));              // cut short
}

TEST(TextCodec, DisplayPrefersUtf8ThenGbkThenReplacement) {
  EXPECT_EQ(DisplayText("报告.txt"), "报告.txt");
  EXPECT_EQ(DisplayText("\xB1\xA8\xB8\xE6.txt"), "报告.txt");
  EXPECT_EQ(DisplayText("a\xFF"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
}

}  // namespace
}  // namespace pw
