#pragma once
// Probe bytes the far end writes until a capture run as a program records:
// once one is recorded, every byte written after it is recorded too.
#include "platform/pseudo_terminal.h"

#include <QByteArray>
#include <functional>

namespace testing_support {

constexpr char kProbe = '~';

// Writes a probe (or `probe`) every 100 ms until `recorded` holds; false
// when it does not within 15 s or the far end cannot be written.
bool ProbeUntil(platform::PseudoTerminal& far, const std::function<bool()>& recorded,
                const QByteArray& probe = QByteArray(1, kProbe));

} // namespace testing_support
