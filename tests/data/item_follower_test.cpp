// A follower's position in the item list, for lists longer than 2^31 items
// (a month of a thousand chunks a second): nothing may wrap or be cut.
#include "data/item_follower.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t k2G = int64_t(1) << 31;

} // namespace

TEST(ItemFollower, BatchesPastTwoToThe31stItemsAreWholeAndInOrder)
{
    struct Case {
        const char* name;
        int64_t taken;  // where the follower stands
        int64_t size;   // the list's size at the visit
        int64_t most;
        int64_t first, end;
    };
    const Case cases[] = {
        {"a batch that crosses 2^31", k2G - 5, k2G + 10, 1024, k2G - 5, k2G + 10},
        {"a bounded batch beyond 2^32", 5 * k2G, 5 * k2G + 5000, 1024, 5 * k2G, 5 * k2G + 1024},
        {"everything left, unbounded", k2G, 3 * k2G, INT64_MAX, k2G, 3 * k2G},
        {"nothing new", 3 * k2G, 3 * k2G, 512, 3 * k2G, 3 * k2G},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CItemFollower follower;
        follower.Seek(7, c.taken);
        const CItemFollower::Batch batch = follower.Take(7, c.size, c.most);
        EXPECT_FALSE(batch.restarted);
        EXPECT_EQ(batch.first, c.first);
        EXPECT_EQ(batch.end, c.end);
        EXPECT_EQ(follower.Taken(), c.end);
    }
}
