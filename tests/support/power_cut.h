#pragma once
// What a power cut can leave of the journal's folder. While a capture runs,
// the recorder notes, at every flush of a file to stable storage, the bytes
// the flush makes safe, and at every flush of the folder, its names. Then,
// for a cut just after any of those moments, Rebuild lays out in a fresh
// folder what the disk could hold after it: each file cut back to its last
// flushed bytes or anywhere after them (the unflushed tail possibly garbage),
// names never flushed missing or present. Check then asks the restore for
// the capture and compares it with what was recorded.
#include "data/journal_file.h"
#include "data/journal_reader.h"
#include "platform/file_io.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

struct RecordedItem {
    QByteArray data;
    QString name;
    int kind = 0;
};

class PowerCutRecorder {
public:
    using Listing = std::map<std::string, ino_t>;  // name -> file
    struct Event {
        bool folder = false;  // a flush of the folder's names, else of one file
        Listing listing;      // the folder's names at that moment
        ino_t file = 0;
        QByteArray safe;      // the file's bytes that flush makes safe
    };

    explicit PowerCutRecorder(QString folder) : m_folder(std::move(folder))
    {
        using platform::file_io::Call;
        platform::file_io::SetInterceptor([this](const platform::file_io::Request& request) {
            // Seen before the call: what is there now is what it makes safe.
            if (request.call == Call::Fdatasync || request.call == Call::Fsync)
                Note(false, request.fd);
            else if (request.call == Call::SyncFolder && QString::fromStdString(request.path) == m_folder)
                Note(true, -1);
            return platform::file_io::Outcome{};
        });
    }
    ~PowerCutRecorder() { platform::file_io::SetInterceptor({}); }
    PowerCutRecorder(const PowerCutRecorder&) = delete;
    PowerCutRecorder& operator=(const PowerCutRecorder&) = delete;

    // After the capture: stops recording and keeps the files' last bytes,
    // the source of the unflushed tails.
    void Finish()
    {
        platform::file_io::SetInterceptor({});
        std::lock_guard lock(m_mutex);
        for (const auto& [name, file] : ListFolder())
            m_final[file] = ReadPath(m_folder + QLatin1Char('/') + QString::fromStdString(name));
    }
    size_t EventCount()
    {
        std::lock_guard lock(m_mutex);
        return m_events.size();
    }

    // Lays out in `target` what a cut just after event `cut` could leave;
    // returns how many items the journals there hold safely, at least.
    int64_t Rebuild(size_t cut, const QString& target, std::mt19937& random)
    {
        std::lock_guard lock(m_mutex);
        QDir(target).removeRecursively();
        QDir().mkpath(target);
        Listing durable;
        for (size_t i = 0; i <= cut; ++i)
            if (m_events[i].folder)
                durable = m_events[i].listing;
        const Listing& now = m_events[cut].listing;
        std::map<ino_t, std::pair<std::string, std::string>> names;  // durable, latest
        for (const auto& [name, file] : durable)
            names[file].first = name;
        for (const auto& [name, file] : now)
            names[file].second = name;

        int64_t safeItems = 0;
        for (const auto& [file, pair] : names) {
            QByteArray safe;
            for (size_t i = 0; i <= cut; ++i)
                if (!m_events[i].folder && m_events[i].file == file)
                    safe = m_events[i].safe;
            safeItems += ReadJournal(reinterpret_cast<const uint8_t*>(safe.constData()), size_t(safe.size())).items;

            // A name never flushed may be there or not; a rename after the
            // last flush of the folder may have happened or not.
            std::string name = pair.first;
            if (!pair.second.empty() && (name.empty() || Coin(random)) && (!name.empty() || Coin(random)))
                name = pair.second;
            if (name.empty())
                continue;

            QByteArray bytes = safe;
            const QByteArray final = m_final.count(file) ? m_final[file] : safe;
            switch (std::uniform_int_distribution<int>(0, 2)(random)) {
            case 1:  // some of what followed reached the disk
                if (final.size() > safe.size() && final.startsWith(safe))
                    bytes += final.mid(safe.size(), std::uniform_int_distribution<qsizetype>(
                                                         0, final.size() - safe.size())(random));
                break;
            case 2: {  // blocks the disk never finished writing
                QByteArray garbage(std::uniform_int_distribution<int>(1, 600)(random), '\0');
                for (char& c : garbage)
                    c = char(random());
                bytes += garbage;
                break;
            }
            default: break;
            }
            const QString path = target + QLatin1Char('/') + QString::fromStdString(name);
            QFile out(path);
            if (out.open(QIODevice::WriteOnly))
                out.write(bytes);
            out.close();
            // Old, as after a reboot: no program is creating it any more.
            const utimbuf old{::time(nullptr) - 3600, ::time(nullptr) - 3600};
            ::utime(QFile::encodeName(path).constData(), &old);
        }
        return safeItems;
    }

    // The restore's view of `target`: empty when it offers every item that
    // was safe and only items that were recorded, byte for byte and in order.
    static QString Check(const QString& target, int64_t safeItems, const std::vector<RecordedItem>& recorded)
    {
        std::vector<AbandonedJournal> offered = ClaimAbandonedJournals(target);
        if (offered.size() > 1)
            return QStringLiteral("%1 journals offered for one capture").arg(offered.size());
        std::vector<RecordedItem> restored;
        if (!offered.empty())
            offered[0].Read([&](const JournalItem& item) {
                restored.push_back({QByteArray(reinterpret_cast<const char*>(item.data), item.length), item.name,
                                    item.kind});
            });
        if (int64_t(restored.size()) < safeItems)
            return QStringLiteral("%1 items restored, %2 were safe").arg(restored.size()).arg(safeItems);
        if (restored.size() > recorded.size())
            return QStringLiteral("%1 items restored, only %2 recorded").arg(restored.size()).arg(recorded.size());
        for (size_t i = 0; i < restored.size(); ++i)
            if (restored[i].data != recorded[i].data || restored[i].name != recorded[i].name ||
                restored[i].kind != recorded[i].kind)
                return QStringLiteral("item %1 differs from the one recorded").arg(i);
        return {};
    }

private:
    static bool Coin(std::mt19937& random) { return random() & 1; }

    Listing ListFolder() const
    {
        Listing listing;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.toStdString(), error)) {
            struct stat info {};
            if (::lstat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode))
                listing[entry.path().filename().string()] = info.st_ino;
        }
        return listing;
    }
    static QByteArray ReadPath(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void Note(bool folder, int fd)
    {
        Event event;
        event.folder = folder;
        event.listing = ListFolder();
        if (!folder) {
            struct stat info {};
            if (::fstat(fd, &info) != 0)
                return;
            event.file = info.st_ino;
            event.safe.resize(qsizetype(info.st_size));
            const ssize_t got = ::pread(fd, event.safe.data(), size_t(info.st_size), 0);
            event.safe.resize(got > 0 ? qsizetype(got) : 0);
        }
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(event));
    }

    const QString m_folder;
    std::mutex m_mutex;
    std::vector<Event> m_events;
    std::map<ino_t, QByteArray> m_final;
};
