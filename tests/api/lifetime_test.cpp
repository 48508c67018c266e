#include <gtest/gtest.h>
#include <mbus/mbus.h>

TEST(Lifetime, VersionIs82AtAnyTime) {
    EXPECT_EQ(MbVersionGet(), 82u);
}
