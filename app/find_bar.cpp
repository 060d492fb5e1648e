#include "app/find_bar.h"

#include "data/capture_search.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QToolButton>
#include <algorithm>

namespace {

// A screen reader announces the bar as a named group ("Find panel") when the
// focus enters it; a plain widget is a filler it passes over in silence.
QAccessibleInterface* findBarFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CFindBar") && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping);
    return nullptr;
}

} // namespace

CFindBar::CFindBar(const COutputTextSource& text, QWidget* parent) : QWidget(parent)
{
    static const bool s_factoryInstalled = (QAccessible::installFactory(findBarFactory), true);
    Q_UNUSED(s_factoryInstalled);
    setObjectName(QStringLiteral("findBar"));
    setAccessibleName(QStringLiteral("Find"));
    m_search = new CCaptureSearch(text, this);

    m_editText = new QLineEdit(this);
    m_editText->setObjectName(QStringLiteral("findText"));
    m_editText->setAccessibleName(QStringLiteral("Find text"));
    m_editText->setPlaceholderText(tr("Find"));
    m_editText->setClearButtonEnabled(true);

    m_btnPrevious = new QToolButton(this);
    m_btnPrevious->setObjectName(QStringLiteral("findPrevious"));
    m_btnPrevious->setText(tr("Previous"));
    m_btnPrevious->setToolTip(tr("Previous match (Shift+F3)"));
    m_btnNext = new QToolButton(this);
    m_btnNext->setObjectName(QStringLiteral("findNext"));
    m_btnNext->setText(tr("Next"));
    m_btnNext->setToolTip(tr("Next match (F3)"));

    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("findCount"));
    // Read by its text ("3 matches", "1 of 3"): a fixed name would hide the
    // count from a screen reader.
    m_count->setAccessibleDescription(QStringLiteral("Matches"));
    m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(QStringLiteral("000000 of 000000+")));

    m_cbCase = new QCheckBox(tr("Match case"), this);
    m_cbCase->setObjectName(QStringLiteral("findCase"));

    m_btnClose = new QToolButton(this);
    m_btnClose->setObjectName(QStringLiteral("findClose"));
    m_btnClose->setText(QStringLiteral("\u00d7"));
    m_btnClose->setAccessibleName(tr("Close find bar"));
    m_btnClose->setToolTip(tr("Close (Escape)"));
    m_btnClose->setAutoRaise(true);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(m_editText, 1);
    layout->addWidget(m_btnPrevious);
    layout->addWidget(m_btnNext);
    layout->addWidget(m_count);
    layout->addWidget(m_cbCase);
    layout->addWidget(m_btnClose);

    connect(m_editText, &QLineEdit::textEdited, this, &CFindBar::Restart);
    connect(m_cbCase, &QCheckBox::toggled, this, &CFindBar::Restart);
    connect(m_btnNext, &QToolButton::clicked, this, &CFindBar::FindNext);
    connect(m_btnPrevious, &QToolButton::clicked, this, &CFindBar::FindPrevious);
    connect(m_btnClose, &QToolButton::clicked, this, &CFindBar::Close);
    connect(m_search, &CCaptureSearch::matchFound, this, &CFindBar::OnMatchFound);
    connect(m_search, &CCaptureSearch::matchNotFound, this, &CFindBar::OnMatchNotFound);
    connect(m_search, &CCaptureSearch::countChanged, this, &CFindBar::OnCountChanged);
    connect(m_search, &CCaptureSearch::textRestarted, this, [this] {
        ForgetMatch();
        m_nCount = 0;
        m_bCountComplete = false;
        ShowCount();
    });
}

// The search's worker reads the text source; it stops before the bar goes.
CFindBar::~CFindBar() = default;

void CFindBar::AttachShortcuts(QWidget* window)
{
    auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), window);
    connect(open, &QShortcut::activated, this, &CFindBar::Open);
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), window);
    connect(next, &QShortcut::activated, this, &CFindBar::FindNext);
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), window);
    connect(previous, &QShortcut::activated, this, &CFindBar::FindPrevious);
    // Only while the bar is open: otherwise Escape closes the window as ever.
    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    m_escape->setEnabled(isVisible());
    connect(m_escape, &QShortcut::activated, this, &CFindBar::Close);
}

void CFindBar::Open()
{
    QWidget* focus = QApplication::focusWidget();
    if (focus && !isAncestorOf(focus))
        m_previousFocus = focus;
    show();
    m_editText->setFocus(Qt::ShortcutFocusReason);
    m_editText->selectAll();
    if (!m_bSearching && !m_editText->text().isEmpty())
        Restart();
}

void CFindBar::Close()
{
    hide();
    m_search->SetPattern(QString(), Qt::CaseSensitive);  // no scanning while nobody looks
    m_bSearching = false;
    ForgetMatch();
    m_count->clear();
    if (m_previousFocus)
        m_previousFocus->setFocus(Qt::OtherFocusReason);
}

void CFindBar::FindNext()
{
    if (m_editText->text().isEmpty()) {
        Open();
        return;
    }
    if (isHidden())
        show();  // the count and the match number are worth seeing
    if (!m_bSearching)
        StartSearch();
    // From the current match, else from the origin itself.
    m_search->FindNext(m_nCurrentStart >= 0 ? m_nCurrentStart : Anchor() - 1);
}

void CFindBar::FindPrevious()
{
    if (m_editText->text().isEmpty()) {
        Open();
        return;
    }
    if (isHidden())
        show();
    if (!m_bSearching)
        StartSearch();
    m_search->FindPrevious(Anchor());
}

void CFindBar::TextChanged()
{
    if (m_bSearching)
        m_search->TextChanged();
}

void CFindBar::Restart()
{
    StartSearch();
    if (!m_bSearching) {
        ForgetMatch();
        return;
    }
    // Searching as one types stays on the current match while it still fits.
    m_search->FindNext(Anchor() - 1);
}

void CFindBar::StartSearch()
{
    const QString pattern = m_editText->text();
    m_bSearching = !pattern.isEmpty();
    m_search->SetPattern(pattern, CaseRule());
    m_nCount = 0;
    m_bCountComplete = false;
    m_bNotFound = false;
    ShowCount();
}

qint64 CFindBar::Anchor() const
{
    if (m_nCurrentStart >= 0)
        return m_nCurrentStart;
    return m_origin ? std::max<qint64>(0, m_origin()) : 0;
}

void CFindBar::ForgetMatch()
{
    if (m_nCurrentStart >= 0)
        emit highlightCleared();
    m_nCurrentStart = -1;
    m_nCurrentNumber = 0;
}

void CFindBar::OnMatchFound(qint64 start, qint64 length, qint64 number)
{
    m_nCurrentStart = start;
    m_nCurrentNumber = number;
    m_bNotFound = false;
    emit highlightRequested(start, length);
    ShowCount();
}

void CFindBar::OnMatchNotFound()
{
    ForgetMatch();
    m_bNotFound = true;
    ShowCount();
}

void CFindBar::OnCountChanged(qint64 count, bool complete)
{
    m_nCount = count;
    m_bCountComplete = complete;
    ShowCount();
}

QString CFindBar::CountText() const
{
    return m_count->text();
}

void CFindBar::ShowCount()
{
    if (!m_bSearching) {
        m_count->clear();
        return;
    }
    if (m_bNotFound || (m_bCountComplete && m_nCount == 0)) {
        m_count->setText(tr("No matches"));
        return;
    }
    // A "+" while the count is still under way.
    const QString more = m_bCountComplete ? QString() : QStringLiteral("+");
    if (m_nCurrentNumber > 0)
        m_count->setText(tr("%1 of %2%3").arg(m_nCurrentNumber).arg(m_nCount).arg(more));
    else if (m_bCountComplete)
        m_count->setText(m_nCount == 1 ? tr("1 match") : tr("%1 matches").arg(m_nCount));
    else if (m_nCount > 0)
        m_count->setText(tr("%1+ matches").arg(m_nCount));
    else
        m_count->setText(tr("Searching…"));
}

void CFindBar::showEvent(QShowEvent* event)
{
    if (m_escape)
        m_escape->setEnabled(true);
    QWidget::showEvent(event);
}

void CFindBar::hideEvent(QHideEvent* event)
{
    if (m_escape)
        m_escape->setEnabled(false);
    QWidget::hideEvent(event);
}

void CFindBar::keyPressEvent(QKeyEvent* event)
{
    // Keys the text field and the buttons leave alone arrive here; taking
    // them keeps the window from closing on Escape (when no shortcut is
    // attached) or pressing a default button on Return.
    switch (event->key()) {
    case Qt::Key_Escape:
        Close();
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & Qt::ShiftModifier)
            FindPrevious();
        else
            FindNext();
        event->accept();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

Qt::CaseSensitivity CFindBar::CaseRule() const
{
    return m_cbCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}
