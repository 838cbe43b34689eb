#pragma once

#include <QString>
#include <QTemporaryDir>

// A small tmpfs mounted on a temporary directory for as long as this object
// lives, to see what the program does when its disk is full. Mounting needs
// root (as in CI); elsewhere Mounted() is false and Why() says so, and the
// test skips with that text: QSKIP_WITHOUT_DISK(disk).
class SmallDisk {
public:
    explicit SmallDisk(int kilobytes = 64);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool Mounted() const { return FMounted; }
    const QString& Why() const { return FWhy; }
    // The mount point, ending in '/'.
    QString Path() const;
    // Takes all the room left with a filler file, so that the next write
    // of a block fails with "No space left on device".
    void Fill() const;
    // Gives the filler's room back.
    void Unfill() const;

private:
    QTemporaryDir FDir;
    bool FMounted = false;
    QString FWhy;
};

#define QSKIP_WITHOUT_DISK(disk)                                                                   \
    do {                                                                                           \
        if (!(disk).Mounted())                                                                     \
            QSKIP(qPrintable((disk).Why()));                                                       \
    } while (false)
