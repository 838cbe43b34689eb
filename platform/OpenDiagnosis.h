#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Why a serial device cannot be opened, in words a user can act on.
//
// Principles of operation: nothing here opens the device. Holders are found
// through /proc/<pid>/fd (a descriptor on the same device node) and through
// UUCP lock files ("LCK..ttyUSB0" in /var/lock and /run/lock) whose process
// is alive; a lock file whose process is gone is stale and ignored. Present
// devices are read from /dev and /sys/class/tty. Every look-up that cannot
// read what it needs (no permission, no such directory) finds nothing
// rather than failing.

// A process that holds a device: its id and its name (from /proc/<pid>/comm).
struct TDeviceHolder {
    qint64 Pid = 0;
    QString Name;
    // The lock file that names the process; empty when found through /proc.
    QString LockFile;
};

// 0 when Path may be opened as a serial device; otherwise the errno to fail
// with: ENOTTY when Path exists but is no character device (a regular file,
// a directory, a block device...), EBUSY when a live lock file of another
// process names the device. A path that cannot be looked at gives 0, so
// that the open itself reports the system's reason.
int RefuseBeforeOpen(const QString& path);

// The detail of a failed open of Path with Error (an errno value): the
// path, the system's text for Error, and what to do about it.
QString DescribeOpenFailure(const QString& path, int error);

// A serial device that is present: its node (/dev/ttyUSB0) and the
// /dev/serial/by-id link that points to it, if any.
struct TPresentDevice {
    QString Node;
    QString ById;
    // The name to store for it: the by-id link where there is one (it stays
    // the same whatever node the adapter gets), otherwise the node.
    QString StablePath() const { return ById.isEmpty() ? Node : ById; }
    // "/dev/serial/by-id/usb-FTDI... (ttyUSB0)", or the node alone.
    QString DisplayName() const;
};

// The serial devices present: ttyUSB*, ttyACM*, the ttyS* that have a UART
// behind them, and the node of any other /dev/serial/by-id link, in name
// order. DevDir and SysTtyDir stand in for /dev and /sys/class/tty.
QList<TPresentDevice> PresentSerialDevices();
QList<TPresentDevice> PresentSerialDevices(const QString& devDir, const QString& sysTtyDir);

// Other processes with Path's device node open, in pid order.
QList<TDeviceHolder> ProcessesHolding(const QString& path);
// The live process named by a lock file of Path's device, if any.
QList<TDeviceHolder> LockFileHolders(const QString& path);

// Announces this program's open of Path's device to programs that go by
// UUCP lock files: writes "LCK..<device>" with this process's pid into the
// first lock directory that takes it, replacing a stale one. The file
// written, or empty when no directory took it, which is no error (a lock
// directory is often not writable). RemoveLockFile removes it again if it
// still names this process.
QString CreateLockFile(const QString& path);
void RemoveLockFile(const QString& lockFile);

// Where PresentSerialDevices() looks: /dev and /sys/class/tty unless a test
// gives stand-ins; empty names restore the default.
void SetDeviceDirectories(const QString& devDir, const QString& sysTtyDir);

// Where lock files are looked for; the default is /var/lock and /run/lock.
// An empty list restores the default.
void SetLockDirectories(const QStringList& directories);
