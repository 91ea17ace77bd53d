// TSiStringBuilder: growth and the return to a small buffer after a huge text.
#include "logging/base/string_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace deruz::logging {
namespace {

TEST(SiStringBuilderTest, AppendsAndDoublesItsCapacity) {
    TSiStringBuilder LBuilder(4);
    LBuilder.Append("ab").Append('c');
    EXPECT_EQ(LBuilder.Capacity(), 4u);
    LBuilder.Append("de");
    EXPECT_EQ(LBuilder.Capacity(), 8u);
    LBuilder.Append(std::string(20, 'x'));
    EXPECT_EQ(LBuilder.Capacity(), 32u);
    EXPECT_EQ(LBuilder.ToString(), "abcde" + std::string(20, 'x'));
    LBuilder.Clear();
    EXPECT_TRUE(LBuilder.Empty());
    EXPECT_EQ(LBuilder.Capacity(), 32u);  // small buffers are kept for reuse
}

TEST(SiStringBuilderTest, ClearShrinksAHugeBufferBackTo256) {
    TSiStringBuilder LBuilder;
    LBuilder.Append(std::string(TSiStringBuilder::kShrinkLimit, 'x'));
    EXPECT_GT(LBuilder.Capacity(), TSiStringBuilder::kShrinkLimit);
    LBuilder.Clear();
    EXPECT_EQ(LBuilder.Capacity(), 256u);
    EXPECT_EQ(LBuilder.Length(), 0u);
    LBuilder.Append("again");
    EXPECT_EQ(LBuilder.ToString(), "again");
}

}  // namespace
}  // namespace deruz::logging
