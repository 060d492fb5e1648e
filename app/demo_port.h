#pragma once
// --demo: the virtual instrument offered as a port for this run only. It
// takes a free COM number (the first from COM200 up whose device is absent),
// points that number at the instrument's pseudo-terminal through a run-only
// override, and selects it in the window without touching the stored port
// name: unless the user picks another port, the stored one is written back.
#include "capture/virtual_instrument.h"

#include <QString>
#include <QVector>

class CMonitorDlg;

// The first port number from 200 up whose device path is empty or names
// nothing that exists; 0 when all are taken. `devicePaths` is indexed by
// port number (index 0 unused).
int FirstFreeDemoPortNumber(const QVector<QString>& devicePaths);

class CDemoPort {
public:
    static constexpr int kFirstDemoPort = 200;

    CDemoPort() = default;
    explicit CDemoPort(CVirtualInstrument::Timing timing) : m_instrument(timing) {}
    ~CDemoPort();

    // Starts the instrument and claims a port number for it; false with a
    // message for the user in ErrorText().
    bool Start();
    void Stop();

    QString PortName() const;  // "COM200"
    QString DevicePath() const { return m_instrument.DevicePath(); }
    QString ErrorText() const { return m_strError; }
    const CVirtualInstrument& Instrument() const { return m_instrument; }

    // Makes the demo port the window's port for this run.
    void SelectIn(CMonitorDlg& dlg) const;

private:
    CVirtualInstrument m_instrument;
    int m_nPort = 0;
    QString m_strError;
};
