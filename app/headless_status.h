#pragma once
// The one status line of a capture without a window, on standard error:
// redrawn in place a few times a second while standard error is a terminal,
// and never drawn otherwise, so logs and pipes get errors only.
#include <QString>
#include <cstdint>

class CHeadlessStatus {
public:
    explicit CHeadlessStatus(bool enabled) : m_bEnabled(enabled) {}
    bool Enabled() const { return m_bEnabled; }

    // Whether a status line makes sense: standard error is a terminal.
    static bool StandardErrorIsTerminal();

    // "COM3 /dev/ttyUSB0 115200 8-N-1 | 1234 items | 56.7 KiB | 3.2 KiB/s | recording"
    static QString Describe(const QString& port, const QString& device, const QString& line, int64_t items,
                            int64_t bytes, double bytesPerSecond, const QString& state);
    static QString FormatBytes(double bytes);

    void Show(const QString& text);
    // Takes the line away, so an error message can be printed in its place.
    void Clear();
    // Leaves the last line standing and moves below it.
    void End();

private:
    bool m_bEnabled;
    bool m_bShown = false;
};
