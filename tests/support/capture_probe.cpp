#include "capture_probe.h"

#include <QDeadlineTimer>
#include <QThread>

namespace testing_support {

bool ProbeUntil(platform::PseudoTerminal& far, const std::function<bool()>& recorded, const QByteArray& probe)
{
    QDeadlineTimer deadline(15000);
    while (!recorded()) {
        if (deadline.hasExpired() || !far.WriteAll(probe))
            return false;
        QThread::msleep(100);
    }
    return true;
}

} // namespace testing_support
