#include "capture/capture_engine.h"
#include "platform/registry.h"
#include "platform/registry_document.h"
#include "test_support.h"

#include <QFile>
#include <cstring>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const QString kKeyPath = QStringLiteral("HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel");

QByteArray readFile()
{
    QFile file(registryFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QByteArray& bytes)
{
    QFile file(registryFilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray hexLine(const char* name, int type, const void* data, int size)
{
    QByteArray line = QByteArray("\"") + name + "\"=hex(" + QByteArray::number(type, 16) + "):";
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (int i = 0; i < size; ++i)
        line += (i ? "," : "") + QByteArray::number(bytes[i], 16).rightJustified(2, '0');
    return line + "\n";
}

void expectDefaults(const CCaptureEngine& dlg)
{
    EXPECT_EQ(dlg.m_strPortName, QStringLiteral("COM1"));
    EXPECT_EQ(dlg.m_nShowFormat, 0);
    EXPECT_EQ(dlg.m_recordSettings.nUnit, 1);
    EXPECT_EQ(dlg.m_recordSettings.nPeriod, 1);
    EXPECT_EQ(dlg.m_recordSettings.nLength, 1);
    EXPECT_EQ(dlg.m_recordSettings.bRecordAll, 1);
    EXPECT_EQ(dlg.m_portSettings.BaudRate, 9600u);
    EXPECT_EQ(dlg.m_portSettings.ByteSize, 8);
    EXPECT_EQ(dlg.m_portSettings.Parity, NOPARITY);
    EXPECT_EQ(dlg.m_portSettings.StopBits, ONESTOPBIT);
    EXPECT_EQ(dlg.m_portSettings.Flags, kDcbParity);
}

TEST(SettingsPersistence, FirstStartCreatesTheKeyAndUsesDefaults)
{
    CCaptureEngine dlg;
    expectDefaults(dlg);
    EXPECT_TRUE(readFile().contains("[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]"));
}

TEST(SettingsPersistence, SaveWritesExactTypesSizesAndBytes)
{
    CCaptureEngine dlg;
    dlg.SaveSettings();
    PortSettings port{};
    SetPortDefaults(port);
    const RecordSettings record{1, 1, 1, 1};
    char16_t name[128] = u"COM1";
    const int32_t format = 0;
    const QByteArray expected = QByteArray("Windows Registry Editor Version 5.00\n\n[") + kKeyPath.toUtf8() + "]\n"
                                + hexLine("RecordSetting", 4, &record, 16) + hexLine("PortSetting", 4, &port, 28)
                                + hexLine("PortName", 1, name, 256) + hexLine("ShowFormat", 4, &format, 4) + "\n";
    EXPECT_EQ(readFile(), expected);
}

TEST(SettingsPersistence, EveryByteComesBackInTheNextRun)
{
    PortSettings port;
    for (int i = 0; i < 28; ++i)
        reinterpret_cast<uint8_t*>(&port)[i] = uint8_t(0xA0 + i);
    const RecordSettings record{2, 999, 30, 0};
    {
        CCaptureEngine first;
        first.m_portSettings = port;
        first.m_recordSettings = record;
        first.m_strPortName = QStringLiteral("COM17");
        first.m_nShowFormat = 1;
        first.SaveSettings();
    }
    CCaptureEngine second;
    EXPECT_EQ(std::memcmp(&second.m_portSettings, &port, 28), 0);
    EXPECT_EQ(std::memcmp(&second.m_recordSettings, &record, 16), 0);
    EXPECT_EQ(second.m_strPortName, QStringLiteral("COM17"));
    EXPECT_EQ(second.m_nShowFormat, 1);
}

TEST(SettingsPersistence, ShortValuesReplaceOnlyTheLeadingBytesAndLongOnesNothing)
{
    const int32_t unit = 2;
    uint8_t tooLong[40] = {0xFF};
    writeFile(QByteArray("[") + kKeyPath.toUtf8() + "]\n" + hexLine("RecordSetting", 3, &unit, 4)
              + hexLine("PortSetting", 4, tooLong, 40) + "\"ShowFormat\"=dword:00000001\n");
    CCaptureEngine dlg;
    EXPECT_EQ(dlg.m_recordSettings.nUnit, 2);
    EXPECT_EQ(dlg.m_recordSettings.nPeriod, 1);
    EXPECT_EQ(dlg.m_recordSettings.bRecordAll, 1);
    EXPECT_EQ(dlg.m_portSettings.BaudRate, 9600u);
    EXPECT_EQ(dlg.m_nShowFormat, 1);
}

TEST(SettingsPersistence, PortNameEdgeCases)
{
    // Present but empty: the name becomes empty, as stored.
    writeFile(QByteArray("[") + kKeyPath.toUtf8() + "]\n\"PortName\"=\"\"\n");
    EXPECT_EQ(CCaptureEngine().m_strPortName, QString());

    // 128 characters with no terminating null still end in one.
    char16_t full[128];
    for (char16_t& c : full)
        c = u'A';
    writeFile(QByteArray("[") + kKeyPath.toUtf8() + "]\n" + hexLine("PortName", 1, full, 256));
    EXPECT_EQ(CCaptureEngine().m_strPortName, QString(128, u'A'));

    // Longer than 256 bytes: the read fails and the default stays.
    writeFile(QByteArray("[") + kKeyPath.toUtf8() + "]\n\"PortName\"=\"" + QByteArray(200, 'B') + "\"\n");
    EXPECT_EQ(CCaptureEngine().m_strPortName, QStringLiteral("COM1"));
}

TEST(SettingsPersistence, LongPortNamesAreCutTo127CharactersWhenSaved)
{
    {
        CCaptureEngine dlg;
        dlg.m_strPortName = QString(300, u'x');
        dlg.SaveSettings();
    }
    EXPECT_EQ(CCaptureEngine().m_strPortName, QString(127, u'x'));
}

TEST(SettingsPersistence, AnUnreadableFileLeavesDefaultsAndTheNextSaveRepairsIt)
{
    writeFile(QByteArray("\x00\x01garbage[[[\n\"RecordSetting\"=hex(4):zz\n", 35) + QByteArray(100, '\xff'));
    CCaptureEngine dlg;
    expectDefaults(dlg);
    dlg.SaveSettings();
    const RegistryDocument doc = RegistryDocument::parse(readFile());
    RegistryDocument copy = doc;
    const RegistryKeyEntry* key = copy.findKey(kKeyPath);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->values.size(), 4);
    EXPECT_EQ(RegistryDocument::findValue(*key, QStringLiteral("PortSetting"))->data.size(), 28);
}

} // namespace
