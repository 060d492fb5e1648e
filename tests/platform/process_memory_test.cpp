#include "platform/process_memory.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

TEST(ProcessMemory, PrefaultMakesPresentExactlyThePagesWhollyInTheRange)
{
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const struct {
        size_t offset, length;
        const char* present;  // of eight fresh pages
    } cases[] = {
        {0, 8 * page, "xxxxxxxx"},
        {100, 5 * page, ".xxxx..."},  // the partial pages at both ends are left alone
        {10, page - 20, "........"},  // within one page: nothing
        {3 * page, 0, "........"},
    };
    for (const auto& c : cases) {
        char* base = static_cast<char*>(::mmap(nullptr, 8 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(base, MAP_FAILED);
        const int result = platform::prefaultForWriting(base + c.offset, c.length);
        unsigned char present[8] = {};
        ASSERT_EQ(::mincore(base, 8 * page, present), 0);
        ::munmap(base, 8 * page);
        if (result == EINVAL)
            GTEST_SKIP() << "this kernel cannot prefault pages (before 5.14)";
        std::string map;
        for (const unsigned char p : present)
            map += (p & 1) ? 'x' : '.';
        EXPECT_EQ(result, 0) << c.offset << "+" << c.length;
        EXPECT_EQ(map, c.present) << c.offset << "+" << c.length;
    }
}

} // namespace
