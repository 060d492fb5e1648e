// The Record Setting dialog, run for real under the offscreen platform:
// its controls, the enabling by the radio buttons, and the checks at OK.
#include "app/command_ids.h"
#include "app/monitor_dlg.h"
#include "settings/record_setting_dlg.h"
#include "settings/spin_button.h"
#include "test_support.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

using testing_support::CapturedMessages;

// Found by argument lookup, so they sit beside RecordSettings.
static bool operator==(const RecordSettings& a, const RecordSettings& b)
{
    return a.nUnit == b.nUnit && a.nPeriod == b.nPeriod && a.nLength == b.nLength && a.bRecordAll == b.bRecordAll;
}

[[maybe_unused]] static void PrintTo(const RecordSettings& s, std::ostream* os)
{
    *os << "{" << s.nUnit << ", " << s.nPeriod << ", " << s.nLength << ", " << s.bRecordAll << "}";
}

namespace {

const QString kNotANumber = QStringLiteral("Please enter a positive integer.");
const QString kOutOfRange = QStringLiteral("Please enter an integer between 1 and 999.");

QStringList entries(const QComboBox* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->itemText(i));
    return texts;
}

// A dialog on the given rule, initialised and shown.
struct OpenDialog {
    explicit OpenDialog(const RecordSettings& settings, int32_t format = 0)
    {
        dlg.SetShowFormat(format);
        dlg.SetRecordSettings(settings);
        dlg.OnInitDialog();
        dlg.show();
    }
    CRecordSettingDlg dlg;
};

void retype(QLineEdit* edit, const QString& text)
{
    edit->setText(text);
}


} // namespace

TEST(RecordDialog, OpensOnTheDefaultsWithThePartialControlsDisabled)
{
    OpenDialog open({1, 1, 1, 1});
    CRecordSettingDlg& dlg = open.dlg;

    EXPECT_EQ(dlg.windowTitle(), "Record Setting");
    EXPECT_EQ(dlg.findChild<QGroupBox*>("advanceGroup")->title(), "Advance");
    EXPECT_EQ(dlg.m_radioRecordAll->text(), "Record All Data");
    EXPECT_EQ(dlg.m_radioRecordPartial->text(), "Record Partial");
    QStringList labels;
    for (const QLabel* label : dlg.findChildren<QLabel*>())
        labels.append(label->text());
    for (const char* text : {"Record On Every", "Record Time Length", "Second", "Show Format"})
        EXPECT_TRUE(labels.contains(text)) << text;
    EXPECT_EQ(entries(dlg.m_cbUnit), QStringList({"Sec", "Min", "Hour"}));
    EXPECT_EQ(entries(dlg.m_cbShowFormat), QStringList({"String", "Hex"}));

    EXPECT_TRUE(dlg.m_radioRecordAll->isChecked());
    EXPECT_FALSE(dlg.m_radioRecordPartial->isChecked());
    EXPECT_EQ(dlg.m_editPeriod->text(), "1");
    EXPECT_EQ(dlg.m_editLength->text(), "1");
    EXPECT_EQ(dlg.m_cbUnit->currentText(), "Min");
    EXPECT_EQ(dlg.m_cbShowFormat->currentText(), "String");

    EXPECT_FALSE(dlg.m_editPeriod->isEnabled());
    EXPECT_FALSE(dlg.m_editLength->isEnabled());
    EXPECT_FALSE(dlg.m_cbUnit->isEnabled());
    for (QWidget* stays : std::initializer_list<QWidget*>{dlg.m_radioRecordAll, dlg.m_radioRecordPartial,
                                                          dlg.m_cbShowFormat, dlg.m_spinPeriod, dlg.m_spinLength})
        EXPECT_TRUE(stays->isEnabled()) << stays->objectName().toStdString();

    // A stored partial rule opens with them enabled.
    OpenDialog partial({0, 10, 3, 0}, 1);
    EXPECT_TRUE(partial.dlg.m_radioRecordPartial->isChecked());
    EXPECT_TRUE(partial.dlg.m_editPeriod->isEnabled());
    EXPECT_EQ(partial.dlg.m_editPeriod->text(), "10");
    EXPECT_EQ(partial.dlg.m_cbUnit->currentText(), "Sec");
    EXPECT_EQ(partial.dlg.m_cbShowFormat->currentText(), "Hex");
}

TEST(RecordDialog, TheRadioButtonsEnableThePartialControlsAndTheValuesStay)
{
    OpenDialog open({1, 1, 1, 1});
    CRecordSettingDlg& dlg = open.dlg;
    QTest::mouseClick(dlg.m_radioRecordPartial, Qt::LeftButton);
    EXPECT_TRUE(dlg.m_editPeriod->isEnabled());
    EXPECT_TRUE(dlg.m_editLength->isEnabled());
    EXPECT_TRUE(dlg.m_cbUnit->isEnabled());

    dlg.m_editPeriod->selectAll();
    QTest::keyClicks(dlg.m_editPeriod, "12");
    QTest::keyClick(dlg.m_cbUnit, Qt::Key_Up);  // "Sec"
    QTest::mouseClick(dlg.m_radioRecordAll, Qt::LeftButton);
    EXPECT_FALSE(dlg.m_editPeriod->isEnabled());
    EXPECT_FALSE(dlg.m_cbUnit->isEnabled());
    EXPECT_EQ(dlg.m_editPeriod->text(), "12");

    dlg.OnOK();
    ASSERT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(dlg.GetRecordSettings(), (RecordSettings{0, 12, 1, 1}));
}

TEST(RecordDialog, NumbersThatAreNotOneTo999AreRefusedInBothModes)
{
    struct Case {
        const char* text;
        const QString& message;
        unsigned type;
    };
    const Case cases[] = {
        {"0", kOutOfRange, MB_ICONEXCLAMATION},  {"1000", kOutOfRange, MB_ICONEXCLAMATION},
        {"-5", kNotANumber, MB_OK},              {"abc", kNotANumber, MB_OK},
        {"", kNotANumber, MB_OK},                {"+", kNotANumber, MB_OK},
        {"12abc", kNotANumber, MB_OK},           {"1 2", kNotANumber, MB_OK},
        // Would wrap to 1 in 32 bits; it must be refused, not taken as 1.
        {"4294967297", kOutOfRange, MB_ICONEXCLAMATION},
    };
    for (int32_t recordAll : {1, 0}) {
        for (bool periodField : {true, false}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(testing::Message() << "recordAll " << recordAll << (periodField ? " period " : " length ")
                                                << '"' << c.text << '"');
                OpenDialog open({1, 4, 6, recordAll});
                CRecordSettingDlg& dlg = open.dlg;
                QLineEdit* edit = periodField ? dlg.m_editPeriod : dlg.m_editLength;
                retype(edit, c.text);
                dlg.m_editLength->setFocus();
                if (!periodField)
                    dlg.m_editPeriod->setFocus();

                CapturedMessages messages;
                QTest::mouseClick(dlg.findChild<QPushButton*>("okButton"), Qt::LeftButton);
                ASSERT_EQ(messages.Count(), 1);
                EXPECT_EQ(messages.Last().text, c.message);
                EXPECT_EQ(messages.Last().type, c.type);
                EXPECT_TRUE(dlg.isVisible());
                EXPECT_NE(dlg.result(), IDOK);
                EXPECT_EQ(edit->selectedText(), edit->text());
                EXPECT_EQ(edit->text(), c.text);
                if (recordAll == 0) {
                    EXPECT_EQ(dlg.focusWidget(), edit);
                }
            }
        }
    }
}

TEST(RecordDialog, TheExchangeStopsAtTheFirstBadFieldUntilItIsCorrected)
{
    OpenDialog open({1, 4, 6, 0});
    CRecordSettingDlg& dlg = open.dlg;
    retype(dlg.m_editPeriod, "abc");
    retype(dlg.m_editLength, "0");
    CapturedMessages messages;
    dlg.OnOK();
    ASSERT_EQ(messages.Count(), 1);
    EXPECT_EQ(messages.Last().text, kNotANumber);

    retype(dlg.m_editPeriod, "8");
    dlg.OnOK();
    ASSERT_EQ(messages.Count(), 2);
    EXPECT_EQ(messages.Last().text, kOutOfRange);
    EXPECT_EQ(dlg.focusWidget(), dlg.m_editLength);
    EXPECT_TRUE(dlg.isVisible());

    retype(dlg.m_editLength, "9");
    dlg.OnOK();
    EXPECT_EQ(messages.Count(), 2);
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(dlg.GetRecordSettings(), (RecordSettings{1, 8, 9, 0}));
}

TEST(RecordDialog, NumbersFromOneTo999AreAcceptedWithBlanksAroundThem)
{
    const std::pair<const char*, int32_t> cases[] = {{"999", 999}, {" 7 ", 7}, {"\t+7\t", 7}, {"1", 1}, {"007", 7}};
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        OpenDialog open({2, 4, 6, 1});
        retype(open.dlg.m_editPeriod, text);
        retype(open.dlg.m_editLength, text);
        open.dlg.OnOK();
        ASSERT_EQ(open.dlg.result(), IDOK);
        EXPECT_EQ(open.dlg.GetRecordSettings(), (RecordSettings{2, value, value, 1}));
    }
}

TEST(RecordDialog, TheSpinButtonsStepTheNumberWithinOneTo999)
{
    OpenDialog open({1, 998, 1, 0});
    CRecordSettingDlg& dlg = open.dlg;
    QToolButton* up = dlg.m_spinPeriod->UpButton();
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(dlg.m_editPeriod->text(), "999");
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(dlg.m_editPeriod->text(), "999");

    QTest::mouseClick(dlg.m_spinLength->DownButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.m_editLength->text(), "1");
    QTest::keyClick(dlg.m_editLength, Qt::Key_Up);
    QTest::keyClick(dlg.m_editLength, Qt::Key_Up);
    EXPECT_EQ(dlg.m_editLength->text(), "3");

    // From a refused text the arrows bring back a number that passes.
    retype(dlg.m_editLength, "5000");
    QTest::mouseClick(dlg.m_spinLength->DownButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.m_editLength->text(), "998");
    dlg.OnOK();
    EXPECT_EQ(dlg.GetRecordSettings(), (RecordSettings{1, 999, 998, 0}));
}

TEST(RecordDialog, TheCommandStoresTheRuleChosenWithTheKeyboardOnlyOnOk)
{
    CMonitorDlg window;
    ASSERT_EQ(window.Engine().m_recordSettings, (RecordSettings{1, 1, 1, 1}));

    // OK with "Record Partial", 5, "Hour", 30 and "Hex".
    testing_support::OnceModal([](QDialog* dlg) {
        QTest::mouseClick(dlg->findChild<QRadioButton*>("recordPartial"), Qt::LeftButton);
        auto* period = dlg->findChild<QLineEdit*>("periodEdit");
        period->selectAll();
        QTest::keyClicks(period, "5");
        QTest::keyClick(dlg->findChild<QComboBox*>("unitList"), Qt::Key_Down);
        auto* length = dlg->findChild<QLineEdit*>("lengthEdit");
        length->selectAll();
        QTest::keyClicks(length, "30");
        QTest::keyClick(dlg->findChild<QComboBox*>("showFormatList"), Qt::Key_Down);
        QTest::keyClick(length, Qt::Key_Return);
    });
    window.OnRecordSetting();
    EXPECT_EQ(window.Engine().m_recordSettings, (RecordSettings{2, 5, 30, 0}));
    EXPECT_EQ(window.Engine().m_nShowFormat, 1);

    // Cancel after changing everything keeps it all.
    testing_support::OnceModal([](QDialog* dlg) {
        QTest::mouseClick(dlg->findChild<QRadioButton*>("recordAll"), Qt::LeftButton);
        dlg->findChild<QLineEdit*>("periodEdit")->setText("77");
        dlg->findChild<QComboBox*>("showFormatList")->setCurrentIndex(0);
        QTest::mouseClick(dlg->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    window.OnCommand(ID_MENU_RECORD_SETTING);
    EXPECT_EQ(window.Engine().m_recordSettings, (RecordSettings{2, 5, 30, 0}));
    EXPECT_EQ(window.Engine().m_nShowFormat, 1);

    // A refused number keeps the dialog open; closing it then changes nothing.
    bool stayedOpen = false;
    testing_support::OnceModal([&stayedOpen](QDialog* dlg) {
        CapturedMessages messages;
        dlg->findChild<QLineEdit*>("lengthEdit")->setText("1000");
        QTest::mouseClick(dlg->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        stayedOpen = dlg->isVisible() && messages.Count() == 1;
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    window.OnRecordSetting();
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(window.Engine().m_recordSettings, (RecordSettings{2, 5, 30, 0}));
}

TEST(RecordDialog, AStoredUnitOutsideItsListIsKeptRatherThanMinusOne)
{
    CMonitorDlg window;
    window.Engine().m_recordSettings = RecordSettings{5, 2, 3, 0};
    window.Engine().m_nShowFormat = 7;
    int unitIndex = 0;
    int formatIndex = 0;
    testing_support::OnceModal([&](QDialog* dlg) {
        unitIndex = dlg->findChild<QComboBox*>("unitList")->currentIndex();
        formatIndex = dlg->findChild<QComboBox*>("showFormatList")->currentIndex();
        dlg->findChild<QLineEdit*>("periodEdit")->setText("4");
        QTest::mouseClick(dlg->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    window.OnRecordSetting();
    EXPECT_EQ(unitIndex, -1);
    EXPECT_EQ(formatIndex, -1);
    EXPECT_EQ(window.Engine().m_recordSettings, (RecordSettings{5, 4, 3, 0}));
    // A show format list without selection stores -1, which shows as text.
    EXPECT_EQ(window.Engine().m_nShowFormat, -1);
}
