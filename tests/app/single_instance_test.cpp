#include "app/single_instance.h"
#include "test_support.h"

#include <QProcess>
#include <QWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

using testing_support::WaitUntil;

QString uniqueKey()
{
    return CSingleInstance::KeyFor(testing_support::TestDir() + QStringLiteral("/vantrel"));
}

TEST(SingleInstance, KeysDependOnTheExecutablePathOnly)
{
    EXPECT_EQ(CSingleInstance::KeyFor(QStringLiteral("/usr/bin/vantrel")),
              CSingleInstance::KeyFor(QStringLiteral("/usr/bin/../bin/vantrel")));
    EXPECT_NE(CSingleInstance::KeyFor(QStringLiteral("/usr/bin/vantrel")),
              CSingleInstance::KeyFor(QStringLiteral("/opt/vantrel/vantrel")));
}

// A second start, on a thread of its own so this one can keep serving the
// first instance's socket. Returns what its Claim answered.
bool claimAsSecondStart(const QString& key, int waitMs)
{
    std::atomic<int> result{-1};
    std::thread second([&] {
        CSingleInstance other;
        result = other.Claim(key, 3, waitMs) ? 1 : 0;
    });
    EXPECT_TRUE(WaitUntil([&] { return result != -1; }, 15000));
    second.join();
    return result == 1;
}

TEST(SingleInstance, ASecondStartRaisesTheFirstWindowAndGivesUp)
{
    const QString key = uniqueKey();
    CSingleInstance first;
    ASSERT_TRUE(first.Claim(key));
    QWidget window;
    first.SetRaiseTarget(&window);

    EXPECT_FALSE(claimAsSecondStart(key, 100));
    EXPECT_EQ(first.RaiseRequests(), 1);
    EXPECT_TRUE(window.isVisible());
}

TEST(SingleInstance, ALockWithNoWindowThatAnswersIsRetriedThenIgnored)
{
    const QString key = uniqueKey();
    CSingleInstance first;
    ASSERT_TRUE(first.Claim(key));  // no window to raise yet

    EXPECT_TRUE(claimAsSecondStart(key, 50));
    EXPECT_EQ(first.RaiseRequests(), 0);
}

#ifdef VANTREL_BINARY
TEST(SingleInstance, TheProgramExitsWithMinusOneWhenAnInstanceRuns)
{
    const QString binary = QStringLiteral(VANTREL_BINARY);
    CSingleInstance first;
    ASSERT_TRUE(first.Claim(CSingleInstance::KeyFor(binary)));
    QWidget window;
    first.SetRaiseTarget(&window);

    QProcess process;
    process.start(binary, {});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return process.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 255);
    EXPECT_EQ(first.RaiseRequests(), 1);
}
#endif

} // namespace
