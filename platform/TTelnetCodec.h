#pragma once

#include "platform/LineTermios.h"

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

// The Telnet side of a network serial port: separates the data bytes from
// Telnet commands in what the server sends, answers its option negotiation,
// escapes the byte 0xFF (IAC) of outgoing data, and speaks the COM port
// option (line settings out; modem-line and line-state notices in).
//
// Options agreed: binary transmission and suppress-go-ahead both ways, the
// server's echo, and the COM port option on our side; every other option is
// refused. Each option of each side goes through the states no, yes, want
// no and want yes: an answer to our own request is not answered again, a
// request for the state an option is in is not answered, and a refusal is
// sent once for each change of the server's request, so a server that asks
// again after every refusal gets no further answer until it changes its
// mind. Two sides never loop.
//
// Input may be cut anywhere (an IAC IAC pair or a subnegotiation split
// across reads): the decoder keeps its state between calls. Not thread-safe:
// one thread decodes, and the caller guards the rest.
class TTelnetCodec {
public:
    static constexpr std::uint8_t Iac = 255;
    static constexpr std::uint8_t Dont = 254;
    static constexpr std::uint8_t Do = 253;
    static constexpr std::uint8_t Wont = 252;
    static constexpr std::uint8_t Will = 251;
    static constexpr std::uint8_t Sb = 250;
    static constexpr std::uint8_t Se = 240;
    static constexpr std::uint8_t OptBinary = 0;
    static constexpr std::uint8_t OptEcho = 1;
    static constexpr std::uint8_t OptSuppressGoAhead = 3;
    static constexpr std::uint8_t OptComPort = 44;

    // Whether the server took the COM port option.
    enum class TComPortState { Asked, Agreed, Refused };

    // What a client sends first: offers the COM port option and binary mode.
    QByteArray Start();
    // Decodes Size bytes of In into Out (room for Size bytes; Out may be In):
    // the data bytes, without Telnet commands. Answers to the server are
    // appended to Replies(). Returns the number of data bytes.
    std::size_t Decode(const char* in, std::size_t size, char* out);
    // Answers owed to the server; the caller sends and clears them.
    QByteArray& Replies() { return FReplies; }

    TComPortState ComPortState() const { return FComPortState; }
    // The COM port commands that set Settings, no flow control, DTR and RTS
    // on, and ask for notices of CTS, DSR and line errors.
    static QByteArray LineSettingsCommands(const TLineSettings& settings);
    // Data with every 0xFF doubled.
    static QByteArray Escape(const char* data, std::size_t size);

    // The modem lines as the server last reported them (0x10 CTS, 0x20 DSR),
    // and what changed since the last call (EV_CTS, EV_DSR, EV_ERR bits).
    std::uint8_t ModemState() const { return FModemState; }
    std::uint32_t TakeLineEvents();
    // Line errors reported since the last call (CE_ bits).
    std::uint32_t TakeErrors();

private:
    enum class TState { Data, Iac, Will, Wont, Do, Dont, Sb, SbIac };
    // One side's state of one option. We ask only to enable, and never while
    // a request is open, so no request waits behind another.
    enum class TOptionState : std::uint8_t { No, Yes, WantNo, WantYes };
    struct TOption {
        TOptionState State = TOptionState::No;
        // The server's request to enable was refused and it has not
        // withdrawn it since: the same request again gets no answer.
        bool Refused = false;
    };

    void Command(std::uint8_t verb, std::uint8_t option);
    void Send(std::uint8_t verb, std::uint8_t option);
    // The server enables or disables Option on its side (WILL, WONT: Remote,
    // answered with DO, DONT) or asks us to (DO, DONT: Local, answered with
    // WILL, WONT); Accept tells whether we agree to enable it. The new
    // state of the option.
    TOptionState Negotiate(TOption& option, bool enable, bool accept, std::uint8_t yes,
                           std::uint8_t no, std::uint8_t code);
    void Subnegotiation();

    TState FState = TState::Data;
    QByteArray FSb;
    QByteArray FReplies;
    // Ours (WILL/WONT) and the server's (DO/DONT as we asked).
    std::array<TOption, 256> FLocal{};
    std::array<TOption, 256> FRemote{};
    TComPortState FComPortState = TComPortState::Asked;
    std::uint8_t FModemState = 0;
    std::uint32_t FLineEvents = 0;
    std::uint32_t FErrors = 0;
};
