#pragma once
// CRC-32 as zlib's crc32 computes it (the same value for the same bytes),
// from libdeflate, which folds many bytes at a time by carry-less
// multiplication where the processor has it: several times faster than
// zlib's, which matters because every item read back from the journal is
// checked (a search reads every item of the capture).
#include <cstddef>
#include <cstdint>

// The CRC of `length` bytes at `data`, going on from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length);
