#include "settings/list_accessibility.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QAbstractItemView>
#include <QComboBox>

namespace {

class AccessibleNamedList : public QAccessibleWidget {
public:
    explicit AccessibleNamedList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return list()->accessibleName().isEmpty() ? list()->currentText() : list()->accessibleName();
        case QAccessible::Value: return list()->currentText();
        default: return QAccessibleWidget::text(t);
        }
    }
    // The entries, as the stock list offers them: its drop-down view.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(list()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == list()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& name) override
    {
        if (list()->isEnabled() && (name == showMenuAction() || name == pressAction()))
            list()->showPopup();
    }

private:
    QComboBox* list() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* namedListFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QComboBox"))
        return nullptr;
    auto* list = qobject_cast<QComboBox*>(object);
    // An editable list keeps Qt's own face, which exposes its text field.
    if (!list || list->isEditable())
        return nullptr;
    return new AccessibleNamedList(list);
}

} // namespace

void InstallListAccessibility()
{
    static const bool s_installed = (QAccessible::installFactory(namedListFactory), true);
    Q_UNUSED(s_installed);
}
