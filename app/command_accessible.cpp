#include "app/command_accessible.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QToolBar>
#include <QToolButton>

namespace {

constexpr char kCommandMenuProperty[] = "vantrelCommandMenu";
constexpr char kCommandBarProperty[] = "vantrelCommandBar";

class AccessibleCommandItem : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    AccessibleCommandItem(QMenu* menu, QAction* action) : m_menu(menu), m_action(action) {}

    bool isValid() const override { return m_menu && m_action; }
    QObject* object() const override { return m_action; }
    QWindow* window() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_menu); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        if (t == QAccessible::Name)
            return QString(m_action->text()).remove(u'&');
        if (t == QAccessible::Accelerator)
            return m_action->shortcut().toString(QKeySequence::NativeText);
        return {};
    }
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect local = m_menu->actionGeometry(m_action);
        return QRect(m_menu->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override
    {
        return m_action && m_action->isSeparator() ? QAccessible::Separator : QAccessible::MenuItem;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid())
            return s;
        s.disabled = !m_action->isEnabled();
        s.invisible = !m_action->isVisible() || !m_menu->isVisible();
        s.focusable = !m_action->isSeparator();
        s.focused = s.selected = m_menu->activeAction() == m_action;
        s.checkable = m_action->isCheckable();
        s.checked = m_action->isChecked();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        return m_action && !m_action->isSeparator() ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& name) override
    {
        if (name != pressAction() || !isValid() || !m_action->isEnabled())
            return;
        // As a click: the menu closes, then the command runs.
        m_menu->hide();
        QMetaObject::invokeMethod(
            m_menu,
            [action = m_action] {
                if (action && action->isEnabled())
                    action->trigger();
            },
            Qt::QueuedConnection);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QMenu> m_menu;
    QPointer<QAction> m_action;
};

QAccessibleInterface* commandItemFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QAction"))
        return nullptr;
    auto* action = static_cast<QAction*>(object);
    // The entry belongs to the command menu it was added to.
    for (QObject* owner : action->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(owner); menu && menu->property(kCommandMenuProperty).toBool())
            return new AccessibleCommandItem(menu, action);
    return nullptr;
}

// A command bar button: a button, or a check box while it can stay pressed
// (Pause), whose state says pressed and checked alike.
class AccessibleCommandButton : public QAccessibleWidget {
public:
    explicit AccessibleCommandButton(QToolButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::Role role() const override
    {
        return button()->isCheckable() ? QAccessible::CheckBox : QAccessible::Button;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return button()->accessibleName().isEmpty() ? button()->text() : button()->accessibleName();
        if (t == QAccessible::Description && button()->accessibleDescription().isEmpty())
            return button()->toolTip();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = button()->isCheckable();
        s.checked = button()->isChecked();
        s.pressed = button()->isDown() || button()->isChecked();
        return s;
    }
    QStringList actionNames() const override
    {
        return button()->isCheckable() ? QStringList{toggleAction(), pressAction()} : QStringList{pressAction()};
    }
    void doAction(const QString& name) override
    {
        if (!button()->isEnabled() || !actionNames().contains(name))
            return;
        // A toggle only flips a state and opens nothing: at once, so the
        // state read right after it is the new one.
        if (name == toggleAction())
            button()->click();
        else
            QMetaObject::invokeMethod(button(), &QAbstractButton::click, Qt::QueuedConnection);
    }

private:
    QToolButton* button() const { return static_cast<QToolButton*>(widget()); }
};

QAccessibleInterface* commandButtonFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QToolButton") || !object->isWidgetType())
        return nullptr;
    auto* button = static_cast<QToolButton*>(object);
    auto* bar = qobject_cast<QToolBar*>(button->parentWidget());
    if (!bar || !bar->property(kCommandBarProperty).toBool() || !button->defaultAction())
        return nullptr;
    return new AccessibleCommandButton(button);
}

} // namespace

void UseCommandButtonAccessibility(QToolBar* bar)
{
    static const bool s_installed = (QAccessible::installFactory(commandButtonFactory), true);
    Q_UNUSED(s_installed);
    bar->setProperty(kCommandBarProperty, true);
}

void UseCommandMenuAccessibility(QMenu* menu)
{
    static const bool s_installed = (QAccessible::installFactory(commandItemFactory), true);
    Q_UNUSED(s_installed);
    menu->setProperty(kCommandMenuProperty, true);
}
