#pragma once

#include "serial/TQxComPort.h"
#include "settings/TTransferSync.h"
#include "tests/support/FakeInteraction.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempAppDir.h"

#include <QDialog>
#include <QEventLoop>
#include <QList>
#include <QPair>
#include <QTimer>

// The program's side of a download: COM1 mapped to a pty in a temporary
// application directory, every prompt recorded.
struct TDownloadRig {
    TDownloadRig() { Dir.MapDevice(1, Pty.SlavePath()); }

    // Writes a file into the directory; its full name.
    QString File(const QString& name, const QByteArray& content) const {
        Dir.WriteFile(name, content);
        return Dir.Path() + name;
    }

    FakeInteraction Fake;
    TempAppDir Dir;
    PtyPair Pty;
    TQxComPort Port;
};

inline TTransferSync Sync(int mode, const QByteArray& sequence = "#42") {
    TTransferSync sync;
    sync.Mode = std::uint8_t(mode);
    sync.Sequence = sequence;
    return sync;
}

// The bytes on the line for these lines.
inline QByteArray WithCrLf(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& line : lines)
        bytes += line + "\r\n";
    return bytes;
}

// The progress reports (lines total, lines done) after each of Done lines.
inline QList<QPair<int, int>> ProgressSteps(int total, int done) {
    QList<QPair<int, int>> steps;
    for (int i = 1; i <= done; ++i)
        steps << qMakePair(total, i);
    return steps;
}

// Runs the event loop until Dialog has closed (QTRY's polling sleeps between
// rounds, which would slow every line of a download down); false when it
// is still open after TimeoutMs.
inline bool WaitUntilClosed(QDialog& dialog, int timeoutMs = 30000) {
    if (!dialog.isVisible())
        return true;
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return !dialog.isVisible();
}
