#pragma once
// A real, small file system (a 64 KiB tmpfs, which needs root) that a test
// can fill to the last byte and free again.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <sys/mount.h>

class SmallDisk {
public:
    explicit SmallDisk(const QString& path) : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return m_mounted; }
    QString Path() const { return m_path; }
    // Takes every free byte.
    void Fill()
    {
        QFile filler(m_path + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        const QByteArray block(512, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.write(QByteArray(1, 'f'));
        filler.flush();
    }
    void Free() { QFile::remove(m_path + QStringLiteral("/filler")); }

private:
    QString m_path;
    bool m_mounted = false;
};
