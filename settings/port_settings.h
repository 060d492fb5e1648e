#pragma once
// The serial line parameters, laid out as the 28-byte device-control block
// (DCB) that the settings file stores. Only BaudRate, the fParity flag,
// ByteSize, Parity and StopBits mean anything; every other byte is carried
// through unchanged.
#include <bit>
#include <cstddef>
#include <cstdint>

enum : uint8_t { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4 };
enum : uint8_t { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };

// Flags-word bits.
enum : uint32_t {
    kDcbBinary = 0x0001,
    kDcbParity = 0x0002,
    kDcbOutxCtsFlow = 0x0004,
    kDcbOutxDsrFlow = 0x0008,
    kDcbDtrControlMask = 0x0030,
    kDcbDtrControlEnable = 0x0010,
    kDcbDsrSensitivity = 0x0040,
    kDcbTxContinueOnXoff = 0x0080,
    kDcbOutX = 0x0100,
    kDcbInX = 0x0200,
    kDcbRtsControlMask = 0x3000,
    kDcbRtsControlEnable = 0x1000,
};

#pragma pack(push, 1)
struct PortSettings {
    uint32_t DCBlength;
    uint32_t BaudRate;
    uint32_t Flags;       // fBinary, fParity, flow control, ... (bit field)
    uint16_t wReserved;
    uint16_t XonLim;
    uint16_t XoffLim;
    uint8_t ByteSize;
    uint8_t Parity;
    uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    uint16_t wReserved1;
};
#pragma pack(pop)
using DCB = PortSettings;

static_assert(std::endian::native == std::endian::little, "the stored layout is little-endian");

static_assert(sizeof(PortSettings) == 28);
static_assert(offsetof(PortSettings, BaudRate) == 4);
static_assert(offsetof(PortSettings, Flags) == 8);
static_assert(offsetof(PortSettings, ByteSize) == 18);
static_assert(offsetof(PortSettings, Parity) == 19);
static_assert(offsetof(PortSettings, StopBits) == 20);
static_assert(offsetof(PortSettings, wReserved1) == 26);

// 9600 bits per second, 8 data bits, no parity, one stop bit, and the
// parity-checking bit set. Every other byte and flag bit is left alone.
void SetPortDefaults(PortSettings& settings);
