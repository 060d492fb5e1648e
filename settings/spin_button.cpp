#include "settings/spin_button.h"

#include "settings/data_exchange.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QToolButton* makeArrow(QWidget* parent, Qt::ArrowType arrow, const char* name)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    return button;
}

} // namespace

CSpinButton::CSpinButton(QLineEdit* buddy, QWidget* parent) : QWidget(parent), m_buddy(buddy)
{
    m_up = makeArrow(this, Qt::UpArrow, "up");
    m_down = makeArrow(this, Qt::DownArrow, "down");
    const int width = buddy->sizeHint().height() * 3 / 4;
    m_up->setFixedWidth(width);
    m_down->setFixedWidth(width);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_up);
    layout->addWidget(m_down);
    setFixedHeight(buddy->sizeHint().height());

    connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
    // The arrow keys in the edit step it too.
    buddy->installEventFilter(this);
}

void CSpinButton::SetRange(uint32_t lower, uint32_t upper)
{
    m_lower = std::min(lower, upper);
    m_upper = std::max(lower, upper);
    m_position = std::clamp(m_position, m_lower, m_upper);
}

void CSpinButton::SetAccessibleName(const QString& name)
{
    setAccessibleName(name);
    m_up->setAccessibleName(QStringLiteral("%1 up").arg(name));
    m_down->setAccessibleName(QStringLiteral("%1 down").arg(name));
}

void CSpinButton::Step(int steps)
{
    const std::optional<uint32_t> shown = ParseUnsignedText(m_buddy->text());
    const int64_t from = std::clamp<int64_t>(shown.value_or(m_position), m_lower, m_upper);
    m_position = uint32_t(std::clamp<int64_t>(from + steps, m_lower, m_upper));
    m_buddy->setText(QString::number(m_position));
}

bool CSpinButton::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_buddy && event->type() == QEvent::KeyPress && m_buddy->isEnabled()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
