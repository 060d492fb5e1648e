#include "app/menu_button.h"

#include "app/command_accessible.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>

namespace {

// What a screen reader sees of the button: a button with a menu, whose
// actions both open it. The menu is its child, as a screen reader expects
// of a menu button; a shown menu is no window of the program's own on the
// bus, so this is where its entries are found.
class AccessibleMenuButton : public QAccessibleWidget {
public:
    explicit AccessibleMenuButton(CMenuButton* button) : QAccessibleWidget(button, QAccessible::ButtonMenu) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return button()->accessibleName().isEmpty() ? button()->text() : button()->accessibleName();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.hasPopup = true;
        // The bus carries no "has popup": "expandable" is what tells a
        // screen reader that the button opens something, and whether it is.
        s.expandable = true;
        s.expanded = button()->menu() && button()->menu()->isVisible();
        s.pressed = button()->isDown();
        return s;
    }
    int childCount() const override { return button()->menu() ? 1 : 0; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 && button()->menu() ? QAccessible::queryAccessibleInterface(button()->menu()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && button()->menu() && child->object() == button()->menu() ? 0 : -1;
    }
    QStringList actionNames() const override { return {pressAction(), showMenuAction()}; }
    void doAction(const QString& name) override
    {
        if (button()->isEnabled() && (name == pressAction() || name == showMenuAction()))
            button()->OpenMenuLater();
    }

private:
    CMenuButton* button() const { return static_cast<CMenuButton*>(widget()); }
};

QAccessibleInterface* menuButtonFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CMenuButton") && object->isWidgetType())
        return new AccessibleMenuButton(static_cast<CMenuButton*>(object));
    return nullptr;
}

} // namespace

CMenuButton::CMenuButton(QMenu* menu, QWidget* parent) : QToolButton(parent)
{
    static const bool s_factoryInstalled = (QAccessible::installFactory(menuButtonFactory), true);
    Q_UNUSED(s_factoryInstalled);
    UseCommandMenuAccessibility(menu);
    setMenu(menu);
    setPopupMode(QToolButton::InstantPopup);
}

void CMenuButton::OpenMenuLater()
{
    QMetaObject::invokeMethod(this, &QToolButton::showMenu, Qt::QueuedConnection);
}

void CMenuButton::keyPressEvent(QKeyEvent* event)
{
    // Space and Enter already open it; the Down arrow does in every menu button
    // people know.
    if (event->key() == Qt::Key_Down && menu()) {
        showMenu();
        return;
    }
    QToolButton::keyPressEvent(event);
}
