#include "tests/app/AppWindowFixture.h"

#include "platform/TProfileFile.h"
#include "serial/TQxComPort.h"
#include "settings/Settings.h"
#include "terminal/TQxConsole.h"

#include <QtTest>

#include <poll.h>
#include <unistd.h>

QList<QByteArray> RecordingWindow::WrittenBytes() const {
    QList<QByteArray> bytes;
    for (const Write& write : Writes)
        bytes << write.Bytes;
    return bytes;
}

void RecordingWindow::WritePort(const QByteArray& bytes) {
    Writes.append(Write{FClock.elapsed(), bytes});
    TQxConsoleWindow::WritePort(bytes);
}

TimedPtyReader::TimedPtyReader(int masterFd) : FMaster(masterFd) {
    FClock.start();
    FThread = std::thread([this] {
        char buffer[4096];
        while (!FStop.load()) {
            pollfd p{FMaster, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(FMaster, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const std::lock_guard<std::mutex> hold(FLock);
            FPieces.append(Piece{FClock.elapsed(), QByteArray(buffer, qsizetype(n))});
        }
    });
}

TimedPtyReader::~TimedPtyReader() {
    FStop = true;
    FThread.join();
}

QList<TimedPtyReader::Piece> TimedPtyReader::Bursts(int quietMs) const {
    const std::lock_guard<std::mutex> hold(FLock);
    QList<Piece> bursts;
    qint64 lastAt = 0;
    for (const Piece& piece : FPieces) {
        if (bursts.isEmpty() || piece.AtMs - lastAt >= quietMs)
            bursts.append(Piece{piece.AtMs, QByteArray()});
        bursts.last().Bytes += piece.Bytes;
        lastAt = piece.AtMs;
    }
    return bursts;
}

QByteArray TimedPtyReader::All() const {
    QByteArray all;
    for (const Piece& burst : Bursts())
        all += burst.Bytes;
    return all;
}

// Each fixture is a program start: the first showing loads the settings.
AppWindowFixture::AppWindowFixture(const QString& parent) : Dir(parent) {
    Dir.MapDevice(1, Pty.SlavePath());
    SettingsPending = true;
}

AppWindowFixture::~AppWindowFixture() {
    Window.reset();
    DestroySerialPort();
}

bool AppWindowFixture::Show() {
    Window = std::make_unique<RecordingWindow>();
    Window->show();
    Window->activateWindow();
    if (!QTest::qWaitForWindowExposed(Window.get()))
        return false;
    // The first showing has run once the status bar is written.
    if (!QTest::qWaitFor([this] { return !Window->StatusText(1).isEmpty(); }))
        return false;
    Window->Console()->setFocus();
    return QTest::qWaitFor([this] { return Window->Console()->hasFocus(); });
}

void AppWindowFixture::WriteSetting(const QByteArray& section, const QByteArray& key,
                                    const QByteArray& value) const {
    QVERIFY(TProfileFile(Dir.SettingsFile()).WriteString(section, key, value));
}

QList<QByteArray> AppWindowFixture::ScreenLines() const {
    QList<QByteArray> lines;
    for (const QByteArray& line : Window->Console()->Lines()) {
        QByteArray text = line;
        while (text.endsWith(' '))
            text.chop(1);
        lines << text;
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void InitAppResources() {
    Q_INIT_RESOURCE(icons);
}
