#pragma once
// A built-in instrument for trying the program without hardware. It stands
// behind a pseudo-terminal, whose slave side the program opens like any
// serial port, and writes on its own thread:
// - NMEA 0183 position sentences, $GPGGA and $GPRMC, once a second;
// - a line of sensor readings a few times a second,
//   "SENS T=21.47C RH=45.3% P=1013.25hPa\r\n";
// - now and then a binary frame: 0xA5 0x5A, a type byte, a length byte, the
//   payload (a 16-bit sequence number, a status byte, a reserved byte and
//   three 16-bit acceleration values, all big-endian, so zero bytes are
//   always part of it), then the XOR of type, length and payload.
// Nobody has to read: what the terminal cannot take is dropped whole
// message by whole message, and the thread never blocks.
#include "platform/pseudo_terminal.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CVirtualInstrument {
public:
    struct Timing {
        int nGpsMs = 1000;
        int nSensorMs = 250;
        int nFrameMs = 3700;
    };
    static constexpr uint8_t kFrameSync0 = 0xA5;
    static constexpr uint8_t kFrameSync1 = 0x5A;
    static constexpr uint8_t kFrameTypeMotion = 0x01;

    CVirtualInstrument() = default;
    explicit CVirtualInstrument(Timing timing) : m_timing(timing) {}
    ~CVirtualInstrument();
    CVirtualInstrument(const CVirtualInstrument&) = delete;
    CVirtualInstrument& operator=(const CVirtualInstrument&) = delete;

    // Opens the pseudo-terminal, sets its line raw and starts writing; false
    // with errno set when the terminal could not be made.
    bool Start();
    // Ends the thread and closes the terminal; returns at once.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    // The device the program opens.
    QString DevicePath() const { return m_pty.SlavePath(); }
    uint64_t SentMessages() const { return m_nSent; }
    uint64_t DroppedMessages() const { return m_nDropped; }

    // "$" body "*" checksum "\r\n"; the checksum is the XOR of the body's
    // bytes in two upper-case hexadecimal digits.
    static QByteArray NmeaSentence(const QByteArray& body);
    static uint8_t NmeaChecksum(const QByteArray& body);
    static QByteArray BinaryFrame(uint8_t type, const QByteArray& payload);

private:
    void Run();
    void Emit(const QByteArray& message);
    void Flush();
    QByteArray NextGpsSentences();
    QByteArray NextSensorLine();
    QByteArray NextFrame();

    Timing m_timing;
    platform::PseudoTerminal m_pty;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bStop = false;
    QByteArray m_pending;  // whole messages the terminal has not taken yet
    std::atomic<uint64_t> m_nSent{0};
    std::atomic<uint64_t> m_nDropped{0};
    uint32_t m_nRandom = 12345;
    uint16_t m_nSequence = 0;       // sensor lines so far
    uint16_t m_nFrameSequence = 0;  // binary frames so far
    int m_nTick = 0;
};
