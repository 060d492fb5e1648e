// Damaged and hostile journal files: the reader never crashes or hangs, the
// good records before the damage are still offered, and a file that is not a
// journal is moved aside, never deleted.
#include "journal_support.h"

#include "data/journal_format.h"

#include <QRandomGenerator>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray GoodJournal()
{
    JournalModel model;
    CCaptureJournal journal(model.Source(), StateFolder() + QStringLiteral("-source"));
    for (int i = 0; i < 30; ++i)
        model.Add(QByteArray(i * 7 % 100, char(i)), i % 2);
    journal.Flush();
    const QByteArray bytes = FileBytes(journal.Path());
    journal.End();
    return bytes;
}

QByteArray Mutated(const QByteArray& good, QRandomGenerator& random)
{
    QByteArray bytes = good;
    const int edits = int(random.bounded(1, 6));
    for (int e = 0; e < edits && !bytes.isEmpty(); ++e) {
        const qsizetype at = qsizetype(random.bounded(quint32(bytes.size())));
        switch (random.bounded(6)) {
        case 0: bytes[at] = char(bytes[at] ^ char(1 << random.bounded(8))); break;
        case 1: bytes.truncate(at); break;
        case 2: bytes.insert(at, QByteArray(int(random.bounded(1, 64)), char(random.bounded(256)))); break;
        case 3: bytes.remove(at, qsizetype(random.bounded(1, 64))); break;
        case 4: {
            // A record size that points far past the end, or at the maximum.
            const char huge[4] = {char(0xff), char(0xff), char(0xff), char(random.bounded(2) ? 0x7f : 0x00)};
            bytes.replace(at, 4, huge, 4);
            break;
        }
        default: {
            QByteArray noise(int(random.bounded(1, 200)), Qt::Uninitialized);
            for (char& c : noise)
                c = char(random.bounded(256));
            bytes.replace(at, noise.size(), noise);
        }
        }
    }
    return bytes;
}

TEST(JournalDamage, ARandomisedCorpusOfDamagedJournalsIsReadSafelyAndNothingIsLost)
{
    const QByteArray good = GoodJournal();
    ASSERT_EQ(ReadBytes(good).items, 30);
    const QString folder = StateFolder();
    ASSERT_TRUE(QDir().mkpath(folder));

    QRandomGenerator random(20261208);
    QVector<QByteArray> corpus;
    for (int i = 0; i < 400; ++i)
        corpus.append(Mutated(good, random));
    // And files that were never journals.
    corpus.append(QByteArray());
    corpus.append(QByteArray(journal::kMagic, 8));
    corpus.append(journal::FileHeader());
    corpus.append(QByteArray(100000, '\xff'));
    corpus.append("Windows Registry Editor Version 5.00\r\n");

    for (int i = 0; i < corpus.size(); ++i) {
        QFile file(QStringLiteral("%1/capture-%2.vjournal").arg(folder).arg(i, 4, 10, QChar(u'0')));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(corpus[i]);
    }
    // Things that only look like journals by name.
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + QStringLiteral("/pipe.vjournal")).constData(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(folder + QStringLiteral("/zero.vjournal")).constData()), 0);
    ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("folder.vjournal")));

    std::vector<AbandonedJournal> offered = ClaimAbandonedJournals(folder);

    int movedAside = 0;
    for (int i = 0; i < corpus.size(); ++i) {
        const QString path = QStringLiteral("%1/capture-%2.vjournal").arg(folder).arg(i, 4, 10, QChar(u'0'));
        const JournalSummary summary = ReadBytes(corpus[i]);
        if (summary.Restorable()) {
            // Still there, and offered with what its good records hold.
            EXPECT_TRUE(QFile::exists(path)) << i;
            const auto it = std::find_if(offered.begin(), offered.end(),
                                         [&](const AbandonedJournal& j) { return j.Path() == path; });
            ASSERT_NE(it, offered.end()) << i;
            EXPECT_EQ(it->summary.items, summary.items) << i;
            EXPECT_LE(it->summary.items, 30) << i;
        } else if (summary.state == JournalState::NotAJournal || summary.state == JournalState::Damaged) {
            EXPECT_FALSE(QFile::exists(path)) << i;
            EXPECT_EQ(FileBytes(path + QStringLiteral(".damaged")), corpus[i]) << i;
            ++movedAside;
        } else {
            // A whole or cut-off journal with no items holds nothing to keep.
            EXPECT_EQ(summary.items, 0) << i;
        }
    }
    EXPECT_GT(movedAside, 0);
    EXPECT_GT(offered.size(), 0u);
    for (const char* name : {"pipe", "zero", "folder"})
        EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/%1.vjournal.damaged").arg(QLatin1String(name))))
            << name;
    // /dev/zero behind the link is untouched.
    EXPECT_TRUE(QFileInfo(QStringLiteral("/dev/zero")).exists());
}

TEST(JournalDamage, AGoodPrefixBeforeDamageIsOfferedAndTheDamageNamed)
{
    QByteArray bytes = GoodJournal();
    const JournalSummary good = ReadBytes(bytes);
    // Flip a byte in the payload of the last record.
    bytes[bytes.size() - 6] = char(bytes[bytes.size() - 6] ^ 0x20);
    const JournalSummary damaged = ReadBytes(bytes);
    EXPECT_EQ(damaged.state, JournalState::Damaged);
    EXPECT_EQ(damaged.items, good.items - 1);
    EXPECT_TRUE(damaged.problem.contains(QStringLiteral("fails its check"))) << damaged.problem.toStdString();
    EXPECT_TRUE(damaged.Restorable());
}

} // namespace
