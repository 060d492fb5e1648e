// Files and settings as the tests set them up and look at them.
#include "test_support.h"

#include "platform/device_map.h"
#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <unistd.h>

namespace testing_support {

namespace {

// Writes `value` as a string value `name` under `keyPath`.
void SetStringValue(const QString& keyPath, const QString& name, const QString& value)
{
    platform::HKEY key = nullptr;
    ASSERT_EQ(platform::RegCreateKey(keyPath, &key), platform::kRegSuccess);
    QByteArray bytes(reinterpret_cast<const char*>(value.utf16()), value.size() * 2);
    bytes.append(2, '\0');
    ASSERT_EQ(platform::RegSetValue(key, name, platform::REG_SZ, bytes.constData(), uint32_t(bytes.size())),
              platform::kRegSuccess);
    platform::RegCloseKey(key);
}

// Where each of this process's descriptors leads.
QList<QByteArray> DescriptorTargets()
{
    QList<QByteArray> targets;
    for (const QString& fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System)) {
        char target[256] = {};
        const QByteArray path = "/proc/self/fd/" + fd.toLatin1();
        if (::readlink(path.constData(), target, sizeof target - 1) > 0)
            targets.append(QByteArray(target));
    }
    return targets;
}

} // namespace

QString InTest(const QString& name)
{
    return TestDir() + QLatin1Char('/') + name;
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int OpenDescriptors(const char* kind)
{
    int count = 0;
    for (const QByteArray& target : DescriptorTargets())
        if (target.contains(kind))
            ++count;
    return count;
}

bool HoldsOpen(const QString& device)
{
    return DescriptorTargets().contains(device.toLocal8Bit());
}

void SetPortOverride(int number, const QString& path)
{
    SetStringValue(platform::kPortsKey, QStringLiteral("COM%1").arg(number), path);
}

void SetStoreFolder(const QString& folder)
{
    SetStringValue(QStringLiteral("Software\\Kerbix\\Vantrel"), QStringLiteral("StoreFolder"), folder);
}

} // namespace testing_support
