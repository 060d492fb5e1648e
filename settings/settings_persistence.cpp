// Loading the four settings at start and writing them back at the end of a run.
#include "settings/settings_persistence.h"

#include "platform/registry.h"

#include <QVector>
#include <cstring>

using namespace platform;

namespace {

const QString kSettingsKey = QStringLiteral("Software\\Kerbix\\Vantrel");
constexpr uint32_t kPortNameBytes = 256;

// Reads a value straight into an object: a shorter stored value replaces only
// the leading bytes, a longer one changes nothing; the type is not looked at.
template <typename T>
void queryInto(HKEY key, const QString& name, T& object)
{
    uint32_t size = sizeof(T);
    RegQueryValue(key, name, nullptr, &object, &size);
}

} // namespace

void LoadSettings(StoredSettings& settings)
{
    settings.portName = QStringLiteral("COM1");
    settings.showFormat = 0;
    settings.record = RecordSettings{1, 1, 1, 1};
    SetPortDefaults(settings.port);

    HKEY key = nullptr;
    if (RegCreateKey(kSettingsKey, &key) != kRegSuccess)
        return;
    queryInto(key, QStringLiteral("RecordSetting"), settings.record);
    queryInto(key, QStringLiteral("PortSetting"), settings.port);

    // Read into 256 bytes of a zero-filled 512, so even a name that fills the
    // whole value without a terminating null ends in one.
    char16_t name[256] = {};
    uint32_t size = kPortNameBytes;
    if (RegQueryValue(key, QStringLiteral("PortName"), nullptr, name, &size) == kRegSuccess)
        settings.portName = QString::fromUtf16(name);

    queryInto(key, QStringLiteral("ShowFormat"), settings.showFormat);
    RegCloseKey(key);
}

void SaveSettings(const StoredSettings& settings)
{
    HKEY key = nullptr;
    if (RegCreateKey(kSettingsKey, &key) != kRegSuccess)
        return;
    RegSetValue(key, QStringLiteral("RecordSetting"), REG_DWORD, &settings.record, sizeof settings.record);
    RegSetValue(key, QStringLiteral("PortSetting"), REG_DWORD, &settings.port, sizeof settings.port);

    // The name in UTF-16, at most 127 characters, its null, zeros up to 256 bytes.
    char16_t name[kPortNameBytes / 2] = {};
    const QString text = settings.portName.left(kPortNameBytes / 2 - 1);
    std::memcpy(name, text.utf16(), size_t(text.size()) * 2);
    RegSetValue(key, QStringLiteral("PortName"), REG_SZ, name, kPortNameBytes);

    RegSetValue(key, QStringLiteral("ShowFormat"), REG_DWORD, &settings.showFormat, sizeof settings.showFormat);
    RegCloseKey(key);
}

TimeColumnSetting LoadTimeColumnSetting()
{
    TimeColumnSetting setting;
    HKEY key = nullptr;
    if (RegCreateKey(kSettingsKey, &key) != kRegSuccess)
        return setting;
    uint32_t size = sizeof setting.mode;
    setting.stored = RegQueryValue(key, QStringLiteral("TimeColumn"), nullptr, &setting.mode, &size) == kRegSuccess;
    RegCloseKey(key);
    return setting;
}

QString LoadStoreFolder()
{
    HKEY key = nullptr;
    if (RegOpenKey(kSettingsKey, &key) != kRegSuccess)
        return {};
    // UTF-16 up to the first null, however long.
    QString folder;
    uint32_t size = 0;
    if (RegQueryValue(key, QStringLiteral("StoreFolder"), nullptr, nullptr, &size) == kRegMoreData) {
        QVector<char16_t> buffer(qsizetype(size / 2 + 2), u'\0');
        if (RegQueryValue(key, QStringLiteral("StoreFolder"), nullptr, buffer.data(), &size) == kRegSuccess)
            folder = QString::fromUtf16(buffer.constData()).trimmed();
    }
    RegCloseKey(key);
    return folder;
}

void SaveTimeColumnSetting(const TimeColumnSetting& setting)
{
    // A file that never had the time column on stays as it was.
    if (!setting.stored && setting.mode == 0)
        return;
    HKEY key = nullptr;
    if (RegCreateKey(kSettingsKey, &key) != kRegSuccess)
        return;
    RegSetValue(key, QStringLiteral("TimeColumn"), REG_DWORD, &setting.mode, sizeof setting.mode);
    RegCloseKey(key);
}
