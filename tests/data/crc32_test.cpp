// The journal's CRC gives zlib's value for every length and alignment, from
// a fresh start or going on from an earlier part, so journals stay readable
// by anyone's reader and by earlier releases.
#include "data/crc32.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <vector>
#include <zlib.h>

TEST(Crc32, GivesZlibsValueForEveryLengthAlignmentAndStart)
{
    std::vector<uint8_t> bytes(70000 + 16);
    QRandomGenerator random(31);
    for (uint8_t& byte : bytes)
        byte = uint8_t(random.bounded(256));
    const size_t lengths[] = {0, 1, 15, 16, 17, 63, 64, 65, 79, 80, 127, 128, 129, 191, 192, 1000, 1047, 4096, 65537, 70000};
    int checked = 0;
    for (const size_t length : lengths) {
        for (size_t shift = 0; shift < 4; ++shift) {
            const uint8_t* data = bytes.data() + shift;
            EXPECT_EQ(Crc32(0, data, length), uint32_t(crc32_z(0, data, length))) << length << " bytes, shifted " << shift;
            // In two parts, the second going on from the first.
            const size_t half = length / 2;
            EXPECT_EQ(Crc32(Crc32(0, data, half), data + half, length - half), uint32_t(crc32_z(0, data, length)))
                << length << " bytes in two parts";
            ++checked;
        }
    }
    // A record of all zero bytes and one of all ones.
    const std::vector<uint8_t> zeros(1024, 0), ones(1024, 0xFF);
    EXPECT_EQ(Crc32(0, zeros.data(), zeros.size()), uint32_t(crc32_z(0, zeros.data(), zeros.size())));
    EXPECT_EQ(Crc32(0, ones.data(), ones.size()), uint32_t(crc32_z(0, ones.data(), ones.size())));
    EXPECT_EQ(checked, int(std::size(lengths)) * 4);
}
