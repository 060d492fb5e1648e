#pragma once
// What every benchmark of the window or the engine sets up before its
// application exists: the offscreen platform, a folder of its own with its
// own settings file, an empty device tree and its own journal folder, Qt's
// notes about the offscreen platform kept off the figures, and program
// messages printed instead of shown, so no box waits for anyone.
#include "platform/message_box.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>

class BenchEnvironment {
public:
    // `stateHome` is where capture journals go; empty: the folder's own.
    explicit BenchEnvironment(const QByteArray& stateHome = {})
    {
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type != QtDebugMsg && type != QtInfoMsg && !message.contains(QLatin1String("propagateSizeHints")) &&
                !message.contains(QLatin1String("XDG_RUNTIME_DIR")))
                std::fprintf(stderr, "%s\n", qPrintable(message));
        });
        SetMessageHandler([](const ShownMessage& message) {
            std::fprintf(stderr, "message: %s\n", qPrintable(message.text));
            return IDOK;
        });
        // Offscreen unless a run asks for a real display (with the
        // accessibility bus: bench/with_accessibility_bus.sh).
        const QByteArray platform = qgetenv("VANTREL_BENCH_PLATFORM");
        qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
        QDir(m_dir.path()).mkpath(QStringLiteral("devroot/dev"));
        qputenv("VANTREL_REGISTRY", (m_dir.path() + QStringLiteral("/registry.reg")).toLocal8Bit());
        qputenv("VANTREL_DEVICE_ROOT", (m_dir.path() + QStringLiteral("/devroot")).toLocal8Bit());
        qputenv("XDG_STATE_HOME", stateHome.isEmpty() ? (m_dir.path() + QStringLiteral("/state")).toLocal8Bit() : stateHome);
    }

    QString Path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
