#pragma once
// The translation between the DCB form of the line settings and the kernel's
// termios2. Kept apart from the port so it can be checked on its own: a
// pseudo-terminal shows the far end only part of what a real line gets (it
// always keeps 8 data bits and no parity bit).
//
// termios2 (custom rates through BOTHER, CMSPAR) lives in the kernel's own
// headers, which clash with <termios.h>: include this only where no
// <termios.h> is needed.
#include "settings/port_settings.h"

#include <asm/termbits.h>

namespace platform {

// The bits of c_cflag that carry the frame: size, parity, stop bits.
constexpr tcflag_t kFrameFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

// Rewrites `t` for the DCB's rate, frame and flow control, in raw mode, and
// keeps whatever else it held. False for values no line takes: a rate of 0,
// ByteSize outside 5-8, an unknown parity or stop setting, 1.5 stop bits
// with more than 5 data bits, 2 with 5, or DSR flow control.
bool TermiosFromDcb(const DCB& dcb, termios2& t);

// Raw binary input, whatever the line settings: every byte as it came,
// nothing translated, eaten or echoed, no software flow control; a read
// finds the first byte. Rate and frame are left alone.
void MakeRawInput(termios2& t);

// Fills the DCB's rate, size, parity, stop bits, flags and flow characters
// from `t`.
void DcbFromTermios(const termios2& t, DCB& dcb);

} // namespace platform
