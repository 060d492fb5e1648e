// The test programs' main: a real QApplication (offscreen), and before every
// test a fresh registry file and an empty device tree, so no test sees the
// machine's settings or its serial ports.
#include "test_support.h"

#include "platform/ctime.h"
#include "platform/device_map.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>

namespace testing_support {

namespace {
std::unique_ptr<QTemporaryDir> s_dir;
MessageHandler s_previous;
}

QString TestDir()
{
    return s_dir ? s_dir->path() : QDir::tempPath();
}

CapturedMessages::CapturedMessages()
{
    SetMessageHandler([this](const ShownMessage& message) {
        m_messages.append(message);
        return IDOK;
    });
}

CapturedMessages::~CapturedMessages()
{
    FailOnMessages();
}

void FailOnMessages()
{
    SetMessageHandler([](const ShownMessage& message) -> int {
        ADD_FAILURE() << "unexpected message box: " << message.text.toStdString();
        return IDOK;
    });
}

bool WaitUntilOpened(qint64 pid, const QString& device, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            if (fd.symLinkTarget() == device)
                return true;
        QThread::msleep(20);
    }
    return false;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void OnceModal(std::function<void(QDialog*)> script)
{
    QTimer::singleShot(0, [script] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dlg) {
            ADD_FAILURE() << "no modal dialog is running";
            return;
        }
        script(dlg);
        if (dlg->isVisible())
            dlg->reject();
    });
}

namespace {

class FreshEnvironment : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        s_dir = std::make_unique<QTemporaryDir>();
        QDir(s_dir->path()).mkpath(QStringLiteral("devroot/dev"));
        qputenv("VANTREL_REGISTRY", (s_dir->path() + QStringLiteral("/registry.reg")).toLocal8Bit());
        qputenv("VANTREL_DEVICE_ROOT", (s_dir->path() + QStringLiteral("/devroot")).toLocal8Bit());
        qputenv("XDG_STATE_HOME", (s_dir->path() + QStringLiteral("/state")).toLocal8Bit());
        CTime::SetClock({});
        FailOnMessages();
        platform::clearRuntimePortOverrides();
    }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        CTime::SetClock({});
        SetMessageHandler({});
        platform::clearRuntimePortOverrides();
        s_dir.reset();
    }
};

} // namespace
} // namespace testing_support

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(resources);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new testing_support::FreshEnvironment);
    return RUN_ALL_TESTS();
}
