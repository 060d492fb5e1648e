#pragma once
// The main window as the tests drive it: set up, shown (offscreen), and
// items put into its capture as if they had been recorded.
#include "app/monitor_dlg.h"

#include <QByteArray>
#include <cstdint>
#include <optional>

namespace testing_support {

struct ShownWindow {
    // How far showing goes before the test starts: exposed so that it paints,
    // or active so that its keyboard shortcuts work.
    enum class Until { Shown, Exposed, Active };

    explicit ShownWindow(Until until = Until::Shown);
    CMonitorDlg dlg;
};

// Adds an item of `bytes` and `kind` to the capture, at `micros` when given.
void AddItem(CMonitorDlg& dlg, const QByteArray& bytes, int kind = 0, std::optional<int64_t> micros = {});

} // namespace testing_support
