// Streamed capture files under disk faults made on purpose: a file that
// cannot be written keeps what it has not written and writes it, exactly
// once, when the disk takes data again; and what was written reaches the
// disk at least once a second.
#include "data/capture_formats.h"
#include "data/streamed_capture_file.h"
#include "io_faults.h"
#include "test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Call = platform::file_io::Call;
using testing_support::FileBytes;

CDataItem Item(int i)
{
    const QByteArray bytes = QByteArray::number(i) + QByteArray(1 + i % 90, char('A' + i % 26));
    CDataItem item(reinterpret_cast<const uint8_t*>(bytes.constData()), int(bytes.size()));
    item.SetKind(1);
    item.SetName(QStringLiteral("10:00:00"));
    return item;
}

struct DiskFault {
    const char* name;
    Call call;
    int error;
    std::size_t shortWrite;
};

TEST(StreamedFileFaults, AFileThatCannotBeWrittenWritesEverythingOnceWhenTheDiskHeals)
{
    const DiskFault faults[] = {
        {"full disk", Call::Write, ENOSPC, 0},
        {"quota", Call::Write, EDQUOT, 0},
        {"short write, then a full disk", Call::Write, ENOSPC, 5},
        {"I/O error on flush", Call::Fsync, EIO, 0},
    };
    for (const CaptureFormat format : {CaptureFormat::SerialLog, CaptureFormat::SendData}) {
        for (const DiskFault& fault : faults) {
            SCOPED_TRACE(fault.name);
            const QString path = testing_support::TestDir() + QStringLiteral("/streamed.out");
            IoFaults io;
            QByteArray expected = FormatPrefix(format, QStringLiteral("prefix"));
            {
                CStreamedCaptureFile file(format, path);
                ASSERT_TRUE(file.Open(QStringLiteral("prefix"), 0));
                int n = 0;
                auto add = [&](int count) {
                    for (int i = 0; i < count; ++i, ++n) {
                        file.Append(Item(n));
                        expected += FormatItem(format, Item(n));
                    }
                };
                add(10);
                ASSERT_TRUE(file.Flush(true));
                io.Fail(fault.call, fault.error, fault.shortWrite);
                add(2000);  // more than one write's worth while failing
                EXPECT_FALSE(file.Flush(true));
                EXPECT_TRUE(file.ErrorText().contains(QString::fromLocal8Bit(std::strerror(fault.error))))
                    << file.ErrorText().toStdString();
                add(10);
                EXPECT_FALSE(file.Flush(true));
                io.Heal();
                add(10);
                EXPECT_TRUE(file.Flush(true)) << file.ErrorText().toStdString();
            }
            const QByteArray written = FileBytes(path);
            EXPECT_TRUE(written == expected) << written.size() << " bytes written, " << expected.size() << " expected";
        }
    }
}

TEST(StreamedFileFaults, WhatIsWrittenReachesTheDiskAtLeastOnceASecond)
{
    const QString path = testing_support::TestDir() + QStringLiteral("/synced.log");
    IoFaults io;
    CStreamedCaptureFile file(CaptureFormat::SerialLog, path);
    ASSERT_TRUE(file.Open(QString(), 0));
    auto syncs = [&] {
        int count = 0;
        for (const IoFaults::Request& request : io.Calls())
            count += request.call == Call::Fsync || request.call == Call::Fdatasync;
        return count;
    };
    // Plain flushes, as the capture makes them between items, for more
    // than a second: the last of them comes more than a second after the
    // file was opened, so the disk must have been asked by then.
    const int before = syncs();
    QElapsedTimer elapsed;
    elapsed.start();
    int i = 0;
    do {
        file.Append(Item(i++));
        ASSERT_TRUE(file.Flush());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (elapsed.elapsed() < 1100);
    file.Append(Item(i));
    ASSERT_TRUE(file.Flush());
    EXPECT_GE(syncs() - before, 1);
}

} // namespace
