#include "data/data_item.h"
#include <gtest/gtest.h>
TEST(Placeholder, Builds) { EXPECT_EQ(GetKindName(1), QStringLiteral("Hex")); }
