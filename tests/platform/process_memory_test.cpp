#include "platform/process_memory.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

// Which of `pages` pages from `base` are present, as the kernel says.
std::string PresentPages(void* base, size_t pages, size_t page)
{
    std::vector<unsigned char> present(pages);
    if (::mincore(base, pages * page, present.data()) != 0)
        return "mincore failed";
    std::string map;
    for (const unsigned char p : present)
        map += (p & 1) ? 'x' : '.';
    return map;
}

TEST(ProcessMemory, PrefaultMakesPresentExactlyThePagesWhollyInTheRange)
{
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const struct {
        size_t offset;
        size_t length;
        const char* present;
    } cases[] = {
        {0, 8 * page, "xxxxxxxx"},
        {100, 5 * page, ".xxxx..."},  // the partial pages at both ends are left alone
        {page, 2 * page, ".xx....."},
        {10, page - 20, "........"},  // within one page: nothing
        {3 * page, 0, "........"},
    };
    for (const auto& c : cases) {
        void* base = ::mmap(nullptr, 8 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(base, MAP_FAILED);
        const int result = prefaultForWriting(static_cast<char*>(base) + c.offset, c.length);
        if (result == EINVAL) {
            ::munmap(base, 8 * page);
            GTEST_SKIP() << "this kernel cannot prefault pages (before 5.14)";
        }
        EXPECT_EQ(result, 0) << c.offset << "+" << c.length;
        EXPECT_EQ(PresentPages(base, 8, page), c.present) << c.offset << "+" << c.length;
        ::munmap(base, 8 * page);
    }
}

} // namespace
