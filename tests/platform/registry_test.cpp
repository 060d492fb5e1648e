#include "platform/registry.h"
#include "platform/registry_document.h"
#include "test_support.h"

#include <QFile>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace platform;

namespace {

const QString kKey = QStringLiteral("Software\\Kerbix\\Vantrel");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

struct OpenKey {
    HKEY key = nullptr;
    long result;
    explicit OpenKey(const QString& subKey = kKey) : result(RegCreateKey(subKey, &key)) {}
    ~OpenKey() { RegCloseKey(key); }
};

TEST(Registry, FileLocationFollowsTheEnvironment)
{
    EXPECT_EQ(registryFilePath(), testing_support::TestDir() + QStringLiteral("/registry.reg"));
    qunsetenv("VANTREL_REGISTRY");
    qputenv("XDG_CONFIG_HOME", testing_support::TestDir().toLocal8Bit());
    EXPECT_EQ(registryFilePath(), testing_support::TestDir() + QStringLiteral("/vantrel/registry.reg"));
}

TEST(Registry, CreatingAKeyWritesItAndValuesKeepExactTypeAndBytes)
{
    {
        OpenKey k;
        ASSERT_EQ(k.result, kRegSuccess);
        EXPECT_EQ(readFile(registryFilePath()),
                  QByteArray("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\n\n"));
        const uint8_t sixteen[16] = {1, 0, 0, 0, 0xff, 0xfe, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2};
        ASSERT_EQ(RegSetValue(k.key, QStringLiteral("RecordSetting"), REG_DWORD, sixteen, 16), kRegSuccess);
        const char16_t name[] = u"COM3";
        ASSERT_EQ(RegSetValue(k.key, QStringLiteral("Port\"Name\\"), REG_SZ, name, 10), kRegSuccess);
    }
    EXPECT_EQ(readFile(registryFilePath()),
              QByteArray("Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\n"
                         "\"RecordSetting\"=hex(4):01,00,00,00,ff,fe,00,00,09,08,07,06,05,04,03,02\n"
                         "\"Port\\\"Name\\\\\"=hex(1):43,00,4f,00,4d,00,33,00,00,00\n\n"));

    OpenKey again;
    uint8_t buffer[16] = {};
    uint32_t size = sizeof buffer;
    uint32_t type = 0;
    ASSERT_EQ(RegQueryValue(again.key, QStringLiteral("recordsetting"), &type, buffer, &size), kRegSuccess);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(buffer[4], 0xff);
    EXPECT_EQ(buffer[15], 2);
    size = 10;
    char16_t name[5] = {};
    ASSERT_EQ(RegQueryValue(again.key, QStringLiteral("Port\"Name\\"), &type, name, &size), kRegSuccess);
    EXPECT_EQ(QString::fromUtf16(name), QStringLiteral("COM3"));
}

TEST(Registry, ALongerValueThanTheBufferAnswersMoreDataAndChangesNothing)
{
    OpenKey k;
    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(RegSetValue(k.key, QStringLiteral("V"), REG_BINARY, eight, 8), kRegSuccess);
    uint8_t small[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    uint32_t size = 4;
    EXPECT_EQ(RegQueryValue(k.key, QStringLiteral("V"), nullptr, small, &size), kRegMoreData);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(small[0], 0xAA);
    EXPECT_EQ(RegQueryValue(k.key, QStringLiteral("Missing"), nullptr, small, &size), kRegNotFound);
}

TEST(Registry, WritingKeepsOtherKeysAndValues)
{
    writeFile(registryFilePath(),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel\\Ports]\r\n"
              "\"COM7\"=\"/dev/serial/by-id/usb-gps\"\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\r\n"
              "\"Other\"=dword:0000002a\r\n");
    {
        OpenKey k;
        const int32_t one = 1;
        ASSERT_EQ(RegSetValue(k.key, QStringLiteral("ShowFormat"), REG_DWORD, &one, 4), kRegSuccess);
    }
    const RegistryDocument doc = RegistryDocument::parse(readFile(registryFilePath()));
    ASSERT_EQ(doc.keys().size(), 2);
    EXPECT_EQ(doc.keys()[0].path, QStringLiteral("HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel\\Ports"));
    EXPECT_EQ(doc.keys()[0].values[0].name, QStringLiteral("COM7"));
    EXPECT_EQ(doc.keys()[1].values.size(), 2);
    EXPECT_EQ(doc.keys()[1].values[0].data, QByteArray("\x2a\0\0\0", 4));
    EXPECT_EQ(doc.keys()[1].values[1].name, QStringLiteral("ShowFormat"));
}

TEST(Registry, HandEditedFormsAreRead)
{
    const QByteArray text =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
        "; a comment\n"
        "[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\n"
        "\"A\"=dword:00000102\n"
        "\"B\"=\"caf\xC3\xA9 \\\"q\\\"\"\n"
        "\"C\"=hex:de,ad,\\\n  be,ef\n"
        "\"D\"=hex(4):01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10\n"
        "@=dword:1\n";
    const RegistryDocument doc = RegistryDocument::parse(text);
    ASSERT_EQ(doc.keys().size(), 1);
    const RegistryKeyEntry& key = doc.keys()[0];
    ASSERT_EQ(key.values.size(), 5);
    EXPECT_EQ(key.values[0].data, QByteArray("\x02\x01\0\0", 4));
    EXPECT_EQ(key.values[1].type, REG_SZ);
    const QString b = QStringLiteral("caf\u00e9 \"q\"");
    EXPECT_EQ(key.values[1].data, QByteArray(reinterpret_cast<const char*>(b.utf16()), b.size() * 2) + QByteArray(2, 0));
    EXPECT_EQ(key.values[2].type, REG_BINARY);
    EXPECT_EQ(key.values[2].data, QByteArray("\xde\xad\xbe\xef"));
    EXPECT_EQ(key.values[3].data.size(), 16);
    EXPECT_EQ(key.values[4].name, QString());

    // UTF-16 files, as a registry editor on another system exports them.
    const QString utf16 = QString::fromUtf8(text.mid(3));
    QByteArray wide("\xFF\xFE");
    wide += QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2);
    EXPECT_EQ(RegistryDocument::parse(wide).keys()[0].values.size(), 5);
}

TEST(Registry, MalformedLinesAreSkippedNotFatal)
{
    const QByteArray text =
        "[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\n"
        "\"Good\"=dword:00000001\n"
        "\"NoEquals\"\n"
        "\"BadHex\"=hex(4):zz,01\n"
        "\"TooWide\"=hex(4):100\n"
        "\"BadDword\"=dword:123456789\n"
        "\"Unclosed=dword:1\n"
        "\"Kind\"=hex(qq):01\n"
        "garbage line\n"
        "[broken section\n"
        "\"AfterBroken\"=dword:2\n"
        "[-HKEY_CURRENT_USER\\Deleted]\n"
        "\"InDeleted\"=dword:3\n";
    const RegistryDocument doc = RegistryDocument::parse(text);
    ASSERT_EQ(doc.keys().size(), 1);
    ASSERT_EQ(doc.keys()[0].values.size(), 1);
    EXPECT_EQ(doc.keys()[0].values[0].name, QStringLiteral("Good"));
}

TEST(Registry, HostileFilesNeverCrashAndTheNextWriteIsWellFormed)
{
    const QByteArray seed =
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\n"
        "\"RecordSetting\"=hex(4):01,00,00,00,01,00,00,00,01,00,00,00,01,00,00,00\n\"PortName\"=\"COM1\"\n";
    QRandomGenerator random(12345);
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes = seed;
        const int edits = 1 + int(random.bounded(20));
        for (int e = 0; e < edits; ++e) {
            const int at = int(random.bounded(bytes.size() + 1));
            switch (random.bounded(4)) {
            case 0: bytes.insert(at, char(random.bounded(256))); break;
            case 1: if (at < bytes.size()) bytes.remove(at, 1 + int(random.bounded(8))); break;
            case 2: if (at < bytes.size()) bytes[at] = char(random.bounded(256)); break;
            default: bytes.insert(at, QByteArray("\\\n[\"=hex(:,\0", 12).mid(int(random.bounded(12)), 3)); break;
            }
        }
        if (round % 50 == 0)
            bytes.truncate(int(random.bounded(bytes.size() + 1)));
        writeFile(registryFilePath(), bytes);
        OpenKey k;
        if (k.result != kRegSuccess)
            continue;
        uint8_t buffer[16];
        uint32_t size = sizeof buffer;
        RegQueryValue(k.key, QStringLiteral("RecordSetting"), nullptr, buffer, &size);
        const int32_t one = 1;
        ASSERT_EQ(RegSetValue(k.key, QStringLiteral("ShowFormat"), REG_DWORD, &one, 4), kRegSuccess);
        // Whatever was read, what is written reads back as a well-formed file
        // holding the value just set.
        const RegistryDocument reread = RegistryDocument::parse(readFile(registryFilePath()));
        RegistryDocument copy = reread;
        const RegistryKeyEntry* key = copy.findKey(QStringLiteral("HKEY_CURRENT_USER\\") + kKey);
        ASSERT_NE(key, nullptr) << round;
        const RegistryValue* value = RegistryDocument::findValue(*key, QStringLiteral("ShowFormat"));
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->data, QByteArray("\1\0\0\0", 4));
        EXPECT_EQ(reread.serialize(), readFile(registryFilePath()));
    }
}

TEST(Registry, EnormousAndBinaryFilesAreIgnored)
{
    QByteArray huge = "[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel]\n\"A\"=dword:1\n";
    huge += QByteArray(RegistryDocument::kMaxFileSize, 'x');
    writeFile(registryFilePath(), huge);
    {
        OpenKey k;
        ASSERT_EQ(k.result, kRegSuccess);
        uint32_t a = 0, size = 4;
        EXPECT_EQ(RegQueryValue(k.key, QStringLiteral("A"), nullptr, &a, &size), kRegNotFound);
    }
    // The key was created afresh, so the file is small and correct again, and
    // what could not be read is kept beside it rather than lost.
    EXPECT_LT(readFile(registryFilePath()).size(), 200);
    EXPECT_EQ(readFile(registryFilePath() + QStringLiteral(".bad")), huge);

    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 7919 % 251);
    EXPECT_TRUE(RegistryDocument::parse(binary).keys().isEmpty());
    writeFile(registryFilePath(), binary);
    {
        OpenKey k;
        ASSERT_EQ(k.result, kRegSuccess);
    }
    EXPECT_EQ(readFile(registryFilePath() + QStringLiteral(".bad")), binary);
}

TEST(Registry, AFileWithReadableKeysIsKeptInPlaceThoughSomeLinesAreBad)
{
    writeFile(registryFilePath(), "[HKEY_CURRENT_USER\\Software\\Kerbix\\Vantrel\\Ports]\n\"COM2\"=\"/dev/x\"\nrubbish\n");
    {
        OpenKey k;
        ASSERT_EQ(k.result, kRegSuccess);
    }
    EXPECT_FALSE(QFile::exists(registryFilePath() + QStringLiteral(".bad")));
    EXPECT_TRUE(readFile(registryFilePath()).contains("\"COM2\"=hex(1):2f,00"));
}

TEST(Registry, LargeHandMadeFilesAreReadWhole)
{
    // Lookups are hashed, so a file of a hundred thousand keys and values is
    // read in one pass rather than compared with every earlier entry.
    QByteArray text;
    for (int i = 0; i < 50000; ++i)
        text += "[HKEY_CURRENT_USER\\K" + QByteArray::number(i) + "]\n\"V\"=dword:1\n";
    text += "[HKEY_CURRENT_USER\\Many]\n";
    for (int i = 0; i < 50000; ++i)
        text += "\"N" + QByteArray::number(i) + "\"=dword:" + QByteArray::number(i, 16) + "\n";
    RegistryDocument doc = RegistryDocument::parse(text);
    EXPECT_EQ(doc.keys().size(), 50001);
    RegistryKeyEntry* many = doc.findKey(QStringLiteral("hkey_current_user\\many"));
    ASSERT_NE(many, nullptr);
    EXPECT_EQ(many->values.size(), 50000);
    EXPECT_EQ(RegistryDocument::findValue(*many, QStringLiteral("n49999"))->data, QByteArray("\x4f\xc3\0\0", 4));
    EXPECT_NE(doc.findKey(QStringLiteral("HKEY_CURRENT_USER\\K49999")), nullptr);
}

TEST(Registry, AFileThatCannotBeWrittenIsReportedWithItsErrno)
{
    writeFile(testing_support::TestDir() + QStringLiteral("/plainfile"), "x");
    qputenv("VANTREL_REGISTRY", (testing_support::TestDir() + QStringLiteral("/plainfile/registry.reg")).toLocal8Bit());
    HKEY key = nullptr;
    EXPECT_NE(RegCreateKey(kKey, &key), kRegSuccess);
    EXPECT_EQ(key, nullptr);
}

} // namespace
