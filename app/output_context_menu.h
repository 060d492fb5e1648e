#pragma once
// The output area's context menu: Copy and Copy with Times, the time
// column's mode, Go to Time (also Ctrl+G) and Save with Times. The window's
// own menu and toolbar are not touched.
#include "data/item_time_format.h"

#include <QObject>

class CMonitorDlg;
class COutputView;
class CTimeColumn;
class CGoToTime;
class QAction;
class QMenu;

class COutputContextMenu : public QObject {
    Q_OBJECT
public:
    // Everything given outlives the menu; `dlg` is its parent.
    COutputContextMenu(CMonitorDlg* dlg, COutputView* view, CTimeColumn* column, CGoToTime* goTo);
    ~COutputContextMenu() override;

    // The menu as it shows now (its entries enabled for the present state).
    QMenu* Menu();
    QAction* CopyWithTimesAction() const { return m_copyWithTimes; }
    QAction* GoToTimeAction() const { return m_goToTime; }
    QAction* SaveWithTimesAction() const { return m_saveWithTimes; }
    QAction* ModeAction(TimeColumnMode mode) const;

    // Copies the selection with times to the clipboard.
    void CopyWithTimes();

signals:
    void modeChosen(TimeColumnMode mode);

private:
    void UpdateState();

    CMonitorDlg* m_dlg;
    COutputView* m_view;
    CTimeColumn* m_column;
    CGoToTime* m_goTo;
    QMenu* m_menu = nullptr;
    QAction* m_copy = nullptr;
    QAction* m_copyWithTimes = nullptr;
    QAction* m_modes[4] = {};
    QAction* m_goToTime = nullptr;
    QAction* m_saveWithTimes = nullptr;
};
