#include "platform/serial_termios.h"

namespace platform {

namespace {

tcflag_t sizeFlag(uint8_t byteSize)
{
    switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

// Builds the frame bits of c_cflag from a DCB; false for values no line takes.
bool frameFlags(const DCB& dcb, tcflag_t& flags)
{
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
        return false;
    flags = sizeFlag(dcb.ByteSize);
    switch (dcb.Parity) {
    case NOPARITY: break;
    case ODDPARITY: flags |= PARENB | PARODD; break;
    case EVENPARITY: flags |= PARENB; break;
    case MARKPARITY: flags |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: flags |= PARENB | CMSPAR; break;
    default: return false;
    }
    switch (dcb.StopBits) {
    case ONESTOPBIT: break;
    // A UART sends 1.5 stop bits for CSTOPB with 5 data bits, and 2 only
    // with 6 to 8; the other pairings do not exist on the wire.
    case ONE5STOPBITS:
        if (dcb.ByteSize != 5)
            return false;
        flags |= CSTOPB;
        break;
    case TWOSTOPBITS:
        if (dcb.ByteSize == 5)
            return false;
        flags |= CSTOPB;
        break;
    default: return false;
    }
    return true;
}

} // namespace

bool TermiosFromDcb(const DCB& dcb, termios2& t)
{
    tcflag_t frame = 0;
    if (dcb.BaudRate == 0 || !frameFlags(dcb, frame))
        return false;
    // Flow control on DSR has no termios counterpart.
    if (dcb.Flags & (kDcbOutxDsrFlow | kDcbDsrSensitivity))
        return false;

    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | kFrameFlags | CRTSCTS);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | frame | CREAD | CLOCAL;
    if (dcb.Flags & kDcbOutxCtsFlow)
        t.c_cflag |= CRTSCTS;
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;

    MakeRawInput(t);
    // Parity checking: a byte received with a parity error is read as 0.
    if (dcb.Flags & kDcbParity)
        t.c_iflag |= INPCK;
    if (dcb.Flags & kDcbOutX)
        t.c_iflag |= IXON;
    if (dcb.Flags & kDcbInX)
        t.c_iflag |= IXOFF;
    if (dcb.Flags & (kDcbOutX | kDcbInX)) {
        t.c_cc[VSTART] = cc_t(dcb.XonChar);
        t.c_cc[VSTOP] = cc_t(dcb.XoffChar);
    }
    return true;
}

void MakeRawInput(termios2& t)
{
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXON | IXOFF | IXANY |
                   IMAXBEL | INPCK | IGNPAR);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ECHOKE | IEXTEN | NOFLSH);
    t.c_cflag |= CREAD;
    t.c_cc[VMIN] = 1;  // poll reports the first byte
    t.c_cc[VTIME] = 0;
}

void DcbFromTermios(const termios2& t, DCB& dcb)
{
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
        dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    dcb.StopBits = !(t.c_cflag & CSTOPB) ? ONESTOPBIT : dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;

    // Bits 0-14 describe the line; bits 15-31 mean nothing here and read as 0.
    uint32_t flags = kDcbBinary | kDcbDtrControlEnable | kDcbRtsControlEnable | kDcbTxContinueOnXoff;
    if (t.c_iflag & INPCK)
        flags |= kDcbParity;
    if (t.c_cflag & CRTSCTS)
        flags |= kDcbOutxCtsFlow;
    if (t.c_iflag & IXON)
        flags |= kDcbOutX;
    if (t.c_iflag & IXOFF)
        flags |= kDcbInX;
    dcb.Flags = flags;
    dcb.XonChar = char(t.c_cc[VSTART]);
    dcb.XoffChar = char(t.c_cc[VSTOP]);
    dcb.EofChar = char(t.c_cc[VEOF]);
}

} // namespace platform
