#include "serial/TDeviceWatch.h"

#include "platform/TNetworkLink.h"

#include <QDir>
#include <QFileInfo>

TDeviceWatch::TDeviceWatch(std::function<void()> onChance, QObject* parent)
    : QObject(parent), FOnChance(std::move(onChance)) {
    FRetry.setInterval(RetryIntervalMs);
    FRetry.callOnTimeout(this, [this] { FOnChance(); });
    connect(&FWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { DirectoryChanged(); });
}

void TDeviceWatch::Watch(const QString& path) {
    FPath = path;
    // A network port has no directory to watch: only the retries tell.
    if (!TNetworkLink::IsNetworkUrl(path))
        WatchNearestDirectory();
    FRetry.start();
}

void TDeviceWatch::Stop() {
    FRetry.stop();
    const QStringList watched = FWatcher.directories();
    if (!watched.isEmpty())
        FWatcher.removePaths(watched);
}

// A /dev/serial/by-id link's directory goes when the last adapter goes:
// then the next directory up tells when it is back.
void TDeviceWatch::WatchNearestDirectory() {
    QString directory = QFileInfo(FPath).absolutePath();
    while (!QFileInfo(directory).isDir() && directory != QDir::rootPath())
        directory = QFileInfo(directory).absolutePath();
    const QStringList watched = FWatcher.directories();
    if (watched == QStringList{directory})
        return;
    if (!watched.isEmpty())
        FWatcher.removePaths(watched);
    FWatcher.addPath(directory);
}

void TDeviceWatch::DirectoryChanged() {
    if (!Watching())
        return;
    WatchNearestDirectory();
    FOnChance();
}
