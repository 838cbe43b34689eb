#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// Waits for a device path to come back after its device went away: calls
// OnChance when the directory that holds the path (or, while that is gone,
// the nearest directory above it that exists) changes, and every
// RetryInterval as a backstop (a node can appear before its permissions are
// set). Nothing runs while not watching. Main thread only.
class TDeviceWatch : public QObject {
public:
    static constexpr int RetryIntervalMs = 500;

    explicit TDeviceWatch(std::function<void()> onChance, QObject* parent = nullptr);

    void Watch(const QString& path);
    void Stop();
    bool Watching() const { return FRetry.isActive(); }

private:
    void WatchNearestDirectory();
    void DirectoryChanged();

    std::function<void()> FOnChance;
    QString FPath;
    QFileSystemWatcher FWatcher;
    QTimer FRetry;
};
