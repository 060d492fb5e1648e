#include "app/output_context_menu.h"

#include "app/go_to_time.h"
#include "app/monitor_dlg.h"
#include "app/output_view.h"
#include "app/save_with_times.h"
#include "app/time_column.h"
#include "platform/message_box.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QAction>
#include <QMenu>

COutputContextMenu::COutputContextMenu(CMonitorDlg* dlg, COutputView* view, CTimeColumn* column, CGoToTime* goTo)
    : QObject(dlg), m_dlg(dlg), m_view(view), m_column(column), m_goTo(goTo)
{
    m_menu = new QMenu;
    m_menu->setObjectName(QStringLiteral("outputMenu"));
    m_copy = m_menu->addAction(QStringLiteral("&Copy"));
    connect(m_copy, &QAction::triggered, m_view, [this] { m_view->Copy(); });
    m_copy->setShortcut(QKeySequence::Copy);
    m_copyWithTimes = m_menu->addAction(QStringLiteral("Copy with &Times"));
    connect(m_copyWithTimes, &QAction::triggered, this, &COutputContextMenu::CopyWithTimes);
    m_copyWithTimes->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    m_copyWithTimes->setShortcutContext(Qt::WindowShortcut);
    m_menu->addSeparator();

    QMenu* modes = m_menu->addMenu(QStringLiteral("Time &Column"));
    auto* group = new QActionGroup(this);
    const struct {
        TimeColumnMode mode;
        const char* text;
    } kModes[] = {
        {TimeColumnMode::Off, "&Off"},
        {TimeColumnMode::TimeOfDay, "Time of &Day"},
        {TimeColumnMode::SinceStart, "Since Capture &Start"},
        {TimeColumnMode::SincePrevious, "Since &Previous Item"},
    };
    for (const auto& entry : kModes) {
        QAction* action = modes->addAction(QString::fromLatin1(entry.text));
        action->setCheckable(true);
        group->addAction(action);
        m_modes[int(entry.mode)] = action;
        connect(action, &QAction::triggered, this, [this, mode = entry.mode] {
            m_column->SetMode(mode);
            emit modeChosen(mode);
        });
    }
    m_goToTime = m_menu->addAction(QStringLiteral("&Go to Time..."));
    connect(m_goToTime, &QAction::triggered, this, [this] { m_goTo->Run(); });
    m_goToTime->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    m_goToTime->setShortcutContext(Qt::WindowShortcut);
    m_menu->addSeparator();
    m_saveWithTimes = m_menu->addAction(QStringLiteral("Save with Ti&mes..."));
    connect(m_saveWithTimes, &QAction::triggered, this, [this] { SaveWithTimes(*m_dlg); });

    // The keys work without the menu too.
    m_dlg->addAction(m_copyWithTimes);
    m_dlg->addAction(m_goToTime);

    connect(m_menu, &QMenu::aboutToShow, this, &COutputContextMenu::UpdateState);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { Menu()->popup(m_view->mapToGlobal(at)); });
}

COutputContextMenu::~COutputContextMenu()
{
    delete m_menu;
}

QAction* COutputContextMenu::ModeAction(TimeColumnMode mode) const
{
    return m_modes[int(mode) & 3];
}

void COutputContextMenu::UpdateState()
{
    const bool selected = m_view->SelectionEnd() > m_view->SelectionStart();
    m_copy->setEnabled(selected);
    m_copyWithTimes->setEnabled(selected);
    ModeAction(m_column->Mode())->setChecked(true);
    // Offered when Save is: while no capture runs.
    m_saveWithTimes->setEnabled(!m_dlg->Engine().IsCapturing() && !m_dlg->IsSaving());
}

QMenu* COutputContextMenu::Menu()
{
    UpdateState();
    return m_menu;
}

void COutputContextMenu::CopyWithTimes()
{
    if (m_view->SelectionEnd() <= m_view->SelectionStart())
        return;
    QApplication::clipboard()->setText(m_column->TextWithTimes(m_view->SelectionStart(), m_view->SelectionEnd()));
    if (m_view->SelectionEnd() - m_view->SelectionStart() > COutputView::kMaxCopyChars) {
        ShowMessageBox(m_view,
                       QStringLiteral("The selection is too long for the clipboard: only its first %1 Mi characters "
                                      "were copied with their times. Save with Times writes the whole capture to a "
                                      "file.")
                           .arg(COutputView::kMaxCopyChars / (1024 * 1024)),
                       QStringLiteral("Vantrel"), MB_ICONINFORMATION);
    }
}
