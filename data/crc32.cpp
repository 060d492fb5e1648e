#include "data/crc32.h"

#include <libdeflate.h>

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length)
{
    return libdeflate_crc32(crc, data, length);
}
