// The settings dialogs operated the way a screen reader or a test tool
// operates them: through Qt's accessibility interface, not by clicks.
#include "settings/port_setting_dlg.h"
#include "settings/record_setting_dlg.h"
#include "settings/spin_button.h"
#include "test_support.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

QAccessibleInterface* accessible(QObject* object)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    EXPECT_NE(iface, nullptr);
    return iface;
}

QString accessibleName(QObject* object)
{
    return accessible(object)->text(QAccessible::Name);
}

// The labels a screen reader reads for a control, through the relation
// rather than the widget tree, joined by "/".
QString labelledBy(QObject* object)
{
    QStringList labels;
    for (const auto& [other, relation] : accessible(object)->relations(QAccessible::Label))
        labels.append(other->text(QAccessible::Name));
    return labels.join(u'/');
}

} // namespace

TEST(DialogAccessibility, RecordPartialChosenByItsActionEnablesWhatAClickEnables)
{
    CRecordSettingDlg dlg;
    RecordSettings settings{0, 1, 1, 1};  // record all
    dlg.SetRecordSettings(settings);
    dlg.OnInitDialog();
    dlg.show();
    ASSERT_FALSE(dlg.m_editPeriod->isEnabled());

    QAccessibleActionInterface* partial = accessible(dlg.m_radioRecordPartial)->actionInterface();
    ASSERT_NE(partial, nullptr);
    ASSERT_TRUE(partial->actionNames().contains(QAccessibleActionInterface::pressAction()) ||
                partial->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    const QString action = partial->actionNames().contains(QAccessibleActionInterface::toggleAction())
                               ? QAccessibleActionInterface::toggleAction()
                               : QAccessibleActionInterface::pressAction();
    partial->doAction(action);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return dlg.m_radioRecordPartial->isChecked(); }));
    EXPECT_TRUE(dlg.m_editPeriod->isEnabled());
    EXPECT_TRUE(dlg.m_editLength->isEnabled());
    EXPECT_TRUE(dlg.m_cbUnit->isEnabled());

    // And back, through the other button's action.
    accessible(dlg.m_radioRecordAll)->actionInterface()->doAction(action);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return dlg.m_radioRecordAll->isChecked(); }));
    EXPECT_FALSE(dlg.m_editPeriod->isEnabled());
    EXPECT_FALSE(dlg.m_cbUnit->isEnabled());
}

TEST(DialogAccessibility, EveryRecordSettingControlHasANameOfItsOwn)
{
    CRecordSettingDlg dlg;
    dlg.OnInitDialog();
    dlg.show();
    // A list reads as its entry, labelled by the label before it.
    EXPECT_EQ(accessibleName(dlg.m_cbUnit), dlg.m_cbUnit->currentText());
    // The group's title, then the row's label.
    EXPECT_EQ(labelledBy(dlg.m_cbUnit), QStringLiteral("Advance/Record On Every"));
    EXPECT_EQ(accessibleName(dlg.m_cbShowFormat), dlg.m_cbShowFormat->currentText());
    EXPECT_EQ(labelledBy(dlg.m_cbShowFormat), QStringLiteral("Show Format"));
    EXPECT_EQ(accessibleName(dlg.m_spinPeriod->UpButton()), QStringLiteral("Record On Every up"));
    EXPECT_EQ(accessibleName(dlg.m_spinPeriod->DownButton()), QStringLiteral("Record On Every down"));
    EXPECT_EQ(accessibleName(dlg.m_spinLength->UpButton()), QStringLiteral("Record Time Length up"));
    EXPECT_EQ(accessibleName(dlg.m_spinLength->DownButton()), QStringLiteral("Record Time Length down"));

    // The arrows' own actions step the number as a click does.
    dlg.m_editPeriod->setText(QStringLiteral("5"));
    accessible(dlg.m_spinPeriod->UpButton())->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(testing_support::WaitUntil([&] { return dlg.m_editPeriod->text() == QStringLiteral("6"); }));
}

TEST(DialogAccessibility, ThePortSettingListsReadAsTheirEntryAndAreLabelled)
{
    CPortSettingDlg dlg(PortSettings{});
    dlg.OnInitDialog();
    dlg.show();
    const std::pair<QComboBox*, const char*> lists[] = {
        {dlg.m_cbPort, "Port"},          {dlg.m_cbBaudRate, "Baud Rate"}, {dlg.m_cbParity, "Parity"},
        {dlg.m_cbDataBits, "Data Bits"}, {dlg.m_cbStopBits, "Stop Bits"},
    };
    for (const auto& [list, label] : lists) {
        EXPECT_EQ(accessibleName(list), list->currentText()) << label;
        EXPECT_EQ(labelledBy(list), QLatin1String(label));
    }
}
