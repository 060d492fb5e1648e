#pragma once
// What every test shares: its own registry file and an empty device tree
// (set up by the test main before each test), captured message boxes, and
// ways to wait for the event loop.
#include "platform/ctime.h"
#include "platform/message_box.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class QDialog;
#include <functional>

namespace testing_support {

// Replaces the clock for as long as it lives. Declared after what the clock
// reads, it gives the system clock back before that goes out of scope, so
// no thread still running (a journal, a receive thread) reads a dead local.
class ScopedClock {
public:
    explicit ScopedClock(CTime::Clock clock) { CTime::SetClock(std::move(clock)); }
    ~ScopedClock() { CTime::SetClock({}); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

// The folder this test may write in; removed after the test.
QString TestDir();

// The path of `name` in the test's folder.
QString InTest(const QString& name);

// The whole of a file; empty when it cannot be read.
QByteArray FileBytes(const QString& path);

// How many of this process's descriptors lead to a path containing `kind`.
int OpenDescriptors(const char* kind);

// Whether this process holds `device` open.
bool HoldsOpen(const QString& device);

// While alive, message boxes are recorded instead of shown.
class CapturedMessages {
public:
    CapturedMessages();
    ~CapturedMessages();
    const QVector<ShownMessage>& All() const { return m_messages; }
    int Count() const { return int(m_messages.size()); }
    const ShownMessage& Last() const { return m_messages.last(); }

private:
    QVector<ShownMessage> m_messages;
};

// Makes any message box a test failure (the default in every test).
void FailOnMessages();

// Runs the event loop until `done` is true or `timeoutMs` passes; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000);

// Waits until process `pid` holds `device` open (another program's capture
// has opened its port); false after `timeoutMs`.
bool WaitUntilOpened(qint64 pid, const QString& device, int timeoutMs = 15000);

// Runs `script` on the modal dialog once its loop is running. A dialog the
// script left open is cancelled, so a failing test cannot hang.
void OnceModal(std::function<void(QDialog*)> script);

// Writes a registry value "COMn" under the Ports key pointing at `path`.
void SetPortOverride(int number, const QString& path);

// Sets the folder the settings choose for the capture's journal.
void SetStoreFolder(const QString& folder);

} // namespace testing_support
