// Loading the four settings at start and writing them back at the end of a run.
#include "app/monitor_dlg.h"
#include "platform/registry.h"

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

void CMonitorDlg::LoadSettings()
{
    m_strPortName = QStringLiteral("COM1");
    m_nShowFormat = 0;
    m_nTimeColumn = 0;
    m_bTimeColumnStored = false;
    m_recordSettings = RecordSettings{1, 1, 1, 1};
    SetPortDefaults(m_portSettings);

    HKEY key = nullptr;
    if (RegCreateKey(kSettingsKey, &key) != kRegSuccess)
        return;
    queryInto(key, QStringLiteral("RecordSetting"), m_recordSettings);
    queryInto(key, QStringLiteral("PortSetting"), m_portSettings);

    // Read into 256 bytes of a zero-filled 512, so even a name that fills the
    // whole value without a terminating null ends in one.
    char16_t name[256] = {};
    uint32_t size = kPortNameBytes;
    if (RegQueryValue(key, QStringLiteral("PortName"), nullptr, name, &size) == kRegSuccess)
        m_strPortName = QString::fromUtf16(name);

    queryInto(key, QStringLiteral("ShowFormat"), m_nShowFormat);
    uint32_t timeColumnSize = sizeof m_nTimeColumn;
    m_bTimeColumnStored =
        RegQueryValue(key, QStringLiteral("TimeColumn"), nullptr, &m_nTimeColumn, &timeColumnSize) == kRegSuccess;
    RegCloseKey(key);
}

void CMonitorDlg::SaveSettings()
{
    HKEY key = nullptr;
    if (RegCreateKey(kSettingsKey, &key) != kRegSuccess)
        return;
    RegSetValue(key, QStringLiteral("RecordSetting"), REG_DWORD, &m_recordSettings, sizeof m_recordSettings);
    RegSetValue(key, QStringLiteral("PortSetting"), REG_DWORD, &m_portSettings, sizeof m_portSettings);

    // The name in UTF-16, at most 127 characters, its null, zeros up to 256 bytes.
    char16_t name[kPortNameBytes / 2] = {};
    const QString text = m_strPortName.left(kPortNameBytes / 2 - 1);
    std::memcpy(name, text.utf16(), size_t(text.size()) * 2);
    RegSetValue(key, QStringLiteral("PortName"), REG_SZ, name, kPortNameBytes);

    RegSetValue(key, QStringLiteral("ShowFormat"), REG_DWORD, &m_nShowFormat, sizeof m_nShowFormat);
    // A file that never had the time column on stays as it was.
    if (m_bTimeColumnStored || m_nTimeColumn != 0)
        RegSetValue(key, QStringLiteral("TimeColumn"), REG_DWORD, &m_nTimeColumn, sizeof m_nTimeColumn);
    RegCloseKey(key);
}
