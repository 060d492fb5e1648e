#include "main_window.h"

#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace testing_support {

ShownWindow::ShownWindow(Until until)
{
    dlg.OnInitDialog();
    dlg.show();
    if (until == Until::Exposed) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    } else if (until == Until::Active) {
        QApplication::setActiveWindow(&dlg);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
    }
}

void AddItem(CMonitorDlg& dlg, const QByteArray& bytes, int kind, std::optional<int64_t> micros)
{
    CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    item.SetKind(kind);
    std::lock_guard lock(dlg.Engine().m_csCapture);
    const int index = dlg.Engine().m_items.Add(item);
    if (micros)
        dlg.Engine().m_items.ElementAt(index).SetTimeMicros(*micros);
}

} // namespace testing_support
