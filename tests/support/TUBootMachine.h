#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <optional>

// A real boot loader on the other end of the line: U-Boot from Debian's
// u-boot-qemu on QEMU's arm virt machine, its UART on a pseudo-terminal.
// The program under test opens PtyPath() like any serial device; this object
// keeps a handle of its own on it (so that QEMU stays connected between two
// opens by the program) and talks to the prompt while the program does not.
//
// Use: Start() (empty, or why the machine cannot run here: the text for
// QSKIP), Run() commands, hand the line to the program (after Send() of a
// load command), Run() again once it is done. Stopped when destroyed.
class TUBootMachine {
public:
    // RAM of the virt machine starts at 0x40000000; U-Boot relocates itself
    // to its top, so the lower megabytes take images.
    static constexpr quint32 LoadAddress = 0x40200000;
    static constexpr int BootTimeoutMs = 60000;

    TUBootMachine();
    ~TUBootMachine();
    TUBootMachine(const TUBootMachine&) = delete;
    TUBootMachine& operator=(const TUBootMachine&) = delete;

    static QString ImagePath();
    // Empty when QEMU and the image are installed, or what is missing.
    static QString Missing();

    // Starts QEMU and stops autoboot at U-Boot's prompt; empty, or why not.
    QString Start();
    void Stop();
    QString PtyPath() const { return FPtyPath; }
    // The handle on the UART, for a transfer run from the test itself.
    int Fd() const { return FFd; }

    // Types Command and returns what U-Boot printed for it up to its next
    // prompt; nothing when no prompt came within TimeoutMs.
    std::optional<QByteArray> Run(const QByteArray& command, int timeoutMs = 10000);
    // Types Command and waits until U-Boot printed Pattern after it (a load
    // command that now waits for its data); false after TimeoutMs.
    bool Send(const QByteArray& command, const QByteArray& pattern, int timeoutMs = 10000);
    // What U-Boot prints up to its next prompt (the end of a load);
    // nothing when no prompt came within TimeoutMs.
    std::optional<QByteArray> Answer(int timeoutMs = 10000);
    // The checksum U-Boot's crc32 computes over Size bytes at Address.
    std::optional<quint32> Crc32(quint32 address, qsizetype size, int timeoutMs = 60000);

private:
    bool Write(const QByteArray& bytes);
    // Reads into FSeen until it holds Pattern after From; its position.
    qsizetype ReadUntil(const QByteArray& pattern, qsizetype from, int timeoutMs);
    void Discard();

    QProcess FQemu;
    QString FPtyPath;
    int FFd = -1;
    QByteArray FSeen;
};
