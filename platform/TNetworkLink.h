#pragma once

#include "platform/LineTermios.h"
#include "platform/TTelnetCodec.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>

// A serial port on another machine, reached over TCP: "tcp://host:port" is
// a raw byte stream, "rfc2217://host:port" speaks Telnet with the COM port
// option, which carries the line settings and the modem lines too (see
// TTelnetCodec). A server that never takes the COM port option is used as a
// raw stream (CarriesLineSettings() false).
//
// Threads: Connect, SetLineSettings, Write and TakeErrors belong to the
// thread that owns the port; ReadInto, HasPending and TakeLineEvents to the
// reader. Sending is locked, so answers to the server never split a write.
class TNetworkLink {
public:
    static constexpr std::chrono::seconds ConnectTimeout{5};
    // How long a Telnet server may take to answer the COM port option.
    static constexpr std::chrono::seconds ComPortAnswerTimeout{2};
    // The most data kept from the wait for that answer, as much as the port's
    // receive queue holds: the socket is not read further until the reader
    // has taken it, and an answer behind it comes through ReadInto later.
    static constexpr qsizetype MaxPendingData = 4 * 1024 * 1024;
    // The most Telnet commands (line settings, answers) kept for a server
    // that does not read them; beyond it the connection counts as failed.
    static constexpr qsizetype MaxOwedCommands = 64 * 1024;

    ~TNetworkLink();

    // Whether Path names a network port rather than a device file.
    static bool IsNetworkUrl(const QString& path);

    // Resolves the host and connects, within ConnectTimeout; on the main
    // thread the window keeps painting meanwhile. False on failure, with the
    // reason (name not found, connection refused, timed out...) in
    // ErrorText().
    bool Connect(const QString& url);
    QString ErrorText() const { return FErrorText; }
    // The connected socket (non-blocking); -1 before Connect.
    int Fd() const { return FFd; }

    bool IsTelnet() const { return FTelnet; }
    bool CarriesLineSettings() const;
    // Sends the line settings over the COM port option (and again whenever
    // the server takes the option later); a raw stream keeps them only.
    // Never waits for room: what the socket does not take now is owed and
    // goes before any later byte (SendOwed). False for bad settings or a
    // failed connection.
    bool SetLineSettings(const TLineSettings& settings);
    // Whether Telnet commands wait for room in the socket, and sends what of
    // them it takes now (the reader calls it when the socket is writable).
    bool HasOwed() const { return FHasOwed.load(); }
    void SendOwed();

    // Moves the data bytes the server sent into Out (room for Room bytes),
    // answering Telnet commands on the way. Returns the bytes moved, 0 when
    // nothing waits, -1 when the connection ended or failed.
    int ReadInto(char* out, int room);
    // Data received during the connect (at most MaxPendingData bytes), not
    // yet moved by ReadInto.
    bool HasPending() const { return !FPending.isEmpty(); }
    // Sends Count data bytes (escaped for Telnet) until Deadline (unless
    // HasDeadline is false); the number of data bytes sent, fewer when the
    // connection failed or the time ran out (Gone() tells the former). A
    // doubled 0xFF cut in half by the deadline counts as sent: its second
    // half goes before any later byte, so no byte is ever cut.
    int Write(const char* data, int count, std::chrono::steady_clock::time_point deadline,
              bool hasDeadline);
    bool Gone() const { return FGone.load(); }

    // EV_CTS, EV_DSR, EV_ERR seen in the server's notices since the last call.
    quint32 TakeLineEvents();
    // CE_ line errors the server reported since the last call.
    quint32 TakeErrors();

private:
    bool SendAll(const QByteArray& bytes, std::chrono::steady_clock::time_point deadline,
                 bool hasDeadline);
    qsizetype SendLocked(const QByteArray& bytes, qsizetype from,
                         std::chrono::steady_clock::time_point deadline, bool hasDeadline);
    bool SendReplies();
    bool SendCommands(const QByteArray& commands);
    bool SendOwedLocked(std::chrono::steady_clock::time_point deadline, bool hasDeadline);
    bool AwaitComPortAnswer(std::chrono::steady_clock::time_point deadline);

    int FFd = -1;
    QString FErrorText;
    bool FTelnet = false;
    TTelnetCodec FCodec;
    QByteArray FPending;
    std::mutex FSendLock;
    TLineSettings FSettings;
    bool FHaveSettings = false;
    bool FSettingsSent = false;
    // Bytes owed to the wire before any other (FSendLock): the second half of
    // a doubled 0xFF cut by a deadline, commands the socket had no room for.
    QByteArray FOwed;
    std::atomic<bool> FHasOwed{false};
    std::atomic<bool> FAgreed{false};
    std::atomic<bool> FGone{false};
    std::atomic<quint32> FLineEvents{0};
    std::atomic<quint32> FErrors{0};
};
