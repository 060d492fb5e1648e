#include "settings/list_accessibility.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleWidget>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>

namespace {

constexpr char kLabelProperty[] = "vantrelListLabel";

QLabel* extraLabel(const QComboBox* list)
{
    return qobject_cast<QLabel*>(list->property(kLabelProperty).value<QObject*>());
}

class AccessibleList : public QAccessibleWidget {
public:
    explicit AccessibleList(QComboBox* list) : QAccessibleWidget(list, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
        case QAccessible::Value: return list()->currentText();
        default: return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = list()->view() && list()->view()->isVisible();
        s.hasPopup = true;
        return s;
    }
    // The buddy labels (found by the stock relations), then a label set with
    // SetListLabel.
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation match) const override
    {
        auto found = QAccessibleWidget::relations(match);
        if (QLabel* label = extraLabel(list()); label && (match & QAccessible::Label))
            if (QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label))
                found.append({iface, QAccessible::Label});
        return found;
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

QAccessibleInterface* listFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QComboBox"))
        return nullptr;
    auto* list = qobject_cast<QComboBox*>(object);
    // An editable list keeps Qt's own face, which exposes its text field.
    if (!list || list->isEditable())
        return nullptr;
    return new AccessibleList(list);
}

} // namespace

void InstallListAccessibility()
{
    static const bool s_installed = (QAccessible::installFactory(listFactory), true);
    Q_UNUSED(s_installed);
}

void SetListLabel(QComboBox* list, QLabel* label)
{
    list->setProperty(kLabelProperty, QVariant::fromValue<QObject*>(label));
    // A label that goes first leaves no dangling relation behind.
    QObject::connect(label, &QObject::destroyed, list, [list] { list->setProperty(kLabelProperty, QVariant()); });
}
