#pragma once
// A pseudo-terminal pair. The program opens the slave side like any serial
// port; whoever holds this object is the far end and writes or reads the
// master side.
#include <QByteArray>
#include <QString>

namespace platform {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Creates the pair; false with errno set on failure.
    bool Open();
    // Closes the master: the slave side sees a hang-up, as when a USB
    // adapter is unplugged.
    void Close();
    bool IsOpen() const { return m_master >= 0; }

    int MasterFd() const { return m_master; }
    QString SlavePath() const { return m_slavePath; }

    // Writes every byte, waiting while the terminal's buffer is full; false
    // when the write failed or `timeoutMs` passed with bytes still unwritten.
    bool WriteAll(const QByteArray& bytes, int timeoutMs = 10000);
    // Reads what is waiting, without blocking.
    QByteArray ReadAvailable();

private:
    int m_master = -1;
    QString m_slavePath;
};

} // namespace platform
