// The Port Setting dialog, run for real under the offscreen platform, with
// pseudo-terminals standing in for the ports.
#include "app/command_ids.h"
#include "app/monitor_dlg.h"
#include "platform/pseudo_terminal.h"
#include "settings/port_setting_dlg.h"
#include "test_support.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

using testing_support::SetPortOverride;

namespace {

QStringList entries(const QComboBox* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->itemText(i));
    return texts;
}

// A record whose every byte is distinct, so a byte that moves or changes shows.
PortSettings patternedSettings()
{
    PortSettings settings;
    auto* bytes = reinterpret_cast<uint8_t*>(&settings);
    for (size_t i = 0; i < sizeof settings; ++i)
        bytes[i] = uint8_t(0x90 + i * 7);
    settings.BaudRate = 9600;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    return settings;
}

bool sameBytes(const PortSettings& a, const PortSettings& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}


struct PortDialogTest : ::testing::Test {
    // Makes COMn present: a pseudo-terminal behind a Ports override.
    QString present(int number)
    {
        auto& pty = ports[number];
        pty = std::make_unique<platform::PseudoTerminal>();
        EXPECT_TRUE(pty->Open());
        SetPortOverride(number, pty->SlavePath());
        return pty->SlavePath();
    }
    std::map<int, std::unique_ptr<platform::PseudoTerminal>> ports;
};

} // namespace

TEST_F(PortDialogTest, OpensOnTheDefaultsWithEveryListInItsOrder)
{
    PortSettings defaults{};
    SetPortDefaults(defaults);
    CPortSettingDlg dlg(defaults);
    dlg.OnInitDialog();

    EXPECT_EQ(dlg.windowTitle(), "Port Setting");
    QStringList labels;
    for (const QLabel* label : dlg.findChildren<QLabel*>())
        labels.append(label->text());
    for (const char* text : {"Port", "Baud Rate", "Parity", "Data Bits", "Stop Bits"})
        EXPECT_TRUE(labels.contains(text)) << text;
    EXPECT_EQ(entries(dlg.m_cbBaudRate), QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                                                      "19200", "38400", "56000", "57600", "115200", "128000",
                                                      "256000"}));
    EXPECT_EQ(entries(dlg.m_cbParity), QStringList({"Even", "Mark", "No parity", "Odd", "Space"}));
    EXPECT_EQ(entries(dlg.m_cbDataBits), QStringList({"5", "6", "7", "8"}));
    EXPECT_EQ(entries(dlg.m_cbStopBits), QStringList({"1", "1.5", "2"}));

    EXPECT_EQ(dlg.m_cbBaudRate->currentText(), "9600");
    EXPECT_EQ(dlg.m_cbParity->currentText(), "No parity");
    EXPECT_EQ(dlg.m_cbDataBits->currentText(), "8");
    EXPECT_EQ(dlg.m_cbStopBits->currentText(), "1");

    // The test's device tree holds no port: the list is empty and OK stores
    // an empty name, which the next Begin reports.
    EXPECT_EQ(dlg.m_cbPort->count(), 0);
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(dlg.GetPortName(), "");
    // The defaults check parity although there is none; OK puts the bit in
    // step with "No parity".
    PortSettings expected = defaults;
    expected.Flags &= ~uint32_t(kDcbParity);
    EXPECT_TRUE(sameBytes(dlg.GetPortSettings(), expected));
}

TEST_F(PortDialogTest, OpensOnTheStoredPortItselfEvenWhenALongerNameStartsWithIt)
{
    const QString com1 = present(1);
    present(2);
    const QString com10 = present(10);
    // Another program holds COM10: it is listed all the same.
    const int holder = ::open(QFile::encodeName(com10).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const std::pair<QString, QString> cases[] = {
        {"COM1", "COM1"},    // not COM10, which the prefix search meets first
        {"com10", "COM10"},  // names compare without case
        {"COM2", "COM2"},
        {"COM7", "COM1"},    // vanished: the first port listed
        {"COM", "COM2"},     // no equal entry: prefix search from entry 1
    };
    for (const auto& [stored, shown] : cases) {
        SCOPED_TRACE(stored.toStdString());
        PortSettings settings{};
        SetPortDefaults(settings);
        CPortSettingDlg dlg(settings);
        dlg.SetPortName(stored);
        dlg.OnInitDialog();
        EXPECT_EQ(entries(dlg.m_cbPort), QStringList({"COM1", "COM2", "COM10"}));
        EXPECT_EQ(dlg.m_cbPort->currentText(), shown);
        dlg.OnOK();
        EXPECT_EQ(dlg.GetPortName(), shown);
    }
    ::close(holder);

    // The device behind the selection is shown beside the list, and follows it.
    PortSettings settings{};
    CPortSettingDlg dlg(settings);
    dlg.SetPortName("COM1");
    dlg.OnInitDialog();
    auto* path = dlg.findChild<QLabel*>("devicePath");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->toolTip(), com1);
    dlg.m_cbPort->setCurrentIndex(2);
    EXPECT_EQ(path->toolTip(), com10);
    EXPECT_EQ(path->text(), com10);
}

TEST_F(PortDialogTest, TheParityCheckBitFollowsTheParityAndNothingElseChanges)
{
    const uint8_t parities[] = {EVENPARITY, MARKPARITY, NOPARITY, ODDPARITY, SPACEPARITY};
    for (int index = 0; index < 5; ++index) {
        for (uint32_t bitBefore : {0u, uint32_t(kDcbParity)}) {
            SCOPED_TRACE(index);
            PortSettings before = patternedSettings();
            before.Flags = (before.Flags & ~uint32_t(kDcbParity)) | bitBefore;
            CPortSettingDlg dlg(before);
            dlg.OnInitDialog();
            dlg.m_cbParity->setCurrentIndex(index);
            dlg.m_cbBaudRate->setCurrentIndex(12);
            dlg.m_cbDataBits->setCurrentIndex(0);
            dlg.m_cbStopBits->setCurrentIndex(2);
            dlg.OnOK();
            ASSERT_EQ(dlg.result(), IDOK);

            PortSettings expected = before;
            expected.BaudRate = 115200;
            expected.ByteSize = 5;
            expected.StopBits = TWOSTOPBITS;
            expected.Parity = parities[index];
            expected.Flags = parities[index] == NOPARITY ? before.Flags & ~uint32_t(kDcbParity)
                                                         : before.Flags | kDcbParity;
            EXPECT_TRUE(sameBytes(dlg.GetPortSettings(), expected));
        }
    }
}

TEST_F(PortDialogTest, AStoredValueMissingFromItsTableShowsNoSelectionAndIsKept)
{
    PortSettings before = patternedSettings();
    before.BaudRate = 12345;
    before.ByteSize = 9;
    before.Parity = 7;
    before.StopBits = 5;
    CPortSettingDlg dlg(before);
    dlg.OnInitDialog();
    for (const QComboBox* list : {dlg.m_cbBaudRate, dlg.m_cbParity, dlg.m_cbDataBits, dlg.m_cbStopBits})
        EXPECT_EQ(list->currentIndex(), -1) << list->objectName().toStdString();
    dlg.OnOK();
    EXPECT_TRUE(sameBytes(dlg.GetPortSettings(), before));

    // One list chosen, the others still kept.
    CPortSettingDlg again(before);
    again.OnInitDialog();
    again.m_cbDataBits->setCurrentIndex(2);
    again.OnOK();
    PortSettings expected = before;
    expected.ByteSize = 7;
    EXPECT_TRUE(sameBytes(again.GetPortSettings(), expected));
}

TEST_F(PortDialogTest, TheCommandTakesTheResultOnlyOnOk)
{
    present(3);
    present(5);
    CMonitorDlg window;
    const PortSettings stored = patternedSettings();
    window.Engine().m_portSettings = stored;
    window.Engine().m_strPortName = "COM5";

    // Cancel, after changing everything: nothing changes.
    testing_support::OnceModal([](QDialog* dlg) {
        dlg->findChild<QComboBox*>("portList")->setCurrentIndex(0);
        dlg->findChild<QComboBox*>("baudRateList")->setCurrentIndex(0);
        dlg->findChild<QComboBox*>("parityList")->setCurrentIndex(0);
        QTest::mouseClick(dlg->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
    window.OnCommand(ID_TOOL_PORT_SETTING);
    EXPECT_TRUE(sameBytes(window.Engine().m_portSettings, stored));
    EXPECT_EQ(window.Engine().m_strPortName, "COM5");

    // Escape is Cancel too.
    testing_support::OnceModal([](QDialog* dlg) {
        dlg->findChild<QComboBox*>("baudRateList")->setCurrentIndex(0);
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    window.OnCommand(ID_MENU_PORT_SETTING);
    EXPECT_TRUE(sameBytes(window.Engine().m_portSettings, stored));

    // OK: the dialog opened on the stored port; the choices come back.
    QString openedOn;
    testing_support::OnceModal([&openedOn](QDialog* dlg) {
        auto* port = dlg->findChild<QComboBox*>("portList");
        openedOn = port->currentText();
        port->setCurrentIndex(0);
        dlg->findChild<QComboBox*>("baudRateList")->setCurrentIndex(8);
        dlg->findChild<QComboBox*>("parityList")->setCurrentIndex(3);
        QTest::mouseClick(dlg->findChild<QPushButton*>("okButton"), Qt::LeftButton);
    });
    window.OnCommand(ID_TOOL_PORT_SETTING);
    EXPECT_EQ(openedOn, "COM5");
    EXPECT_EQ(window.Engine().m_strPortName, "COM3");
    PortSettings expected = stored;
    expected.BaudRate = 19200;
    expected.Parity = ODDPARITY;
    expected.Flags |= kDcbParity;
    EXPECT_TRUE(sameBytes(window.Engine().m_portSettings, expected));
}
