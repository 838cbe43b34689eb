#include "platform/TTelnetCodec.h"

#include "platform/TSerialDevice.h"

#include <algorithm>
#include <array>

namespace {

// COM port commands (client to server; the server answers with +100).
constexpr std::uint8_t SetBaudrate = 1;
constexpr std::uint8_t SetDatasize = 2;
constexpr std::uint8_t SetParity = 3;
constexpr std::uint8_t SetStopsize = 4;
constexpr std::uint8_t SetControl = 5;
constexpr std::uint8_t NotifyLinestate = 6;
constexpr std::uint8_t NotifyModemstate = 7;
constexpr std::uint8_t SetLinestateMask = 10;
constexpr std::uint8_t SetModemstateMask = 11;
constexpr std::uint8_t ServerOffset = 100;

constexpr std::uint8_t ControlNoFlow = 1;
constexpr std::uint8_t ControlDtrOn = 8;
constexpr std::uint8_t ControlRtsOn = 11;

// Line state bits.
constexpr std::uint8_t LineOverrun = 0x02;
constexpr std::uint8_t LineParity = 0x04;
constexpr std::uint8_t LineFraming = 0x08;
constexpr std::uint8_t LineBreak = 0x10;
// Modem state bits.
constexpr std::uint8_t ModemDeltaCts = 0x01;
constexpr std::uint8_t ModemDeltaDsr = 0x02;
constexpr std::uint8_t ModemCts = 0x10;
constexpr std::uint8_t ModemDsr = 0x20;

bool WeOffer(std::uint8_t option) {
    return option == TTelnetCodec::OptBinary || option == TTelnetCodec::OptSuppressGoAhead ||
           option == TTelnetCodec::OptComPort;
}

bool WeAccept(std::uint8_t option) {
    return option == TTelnetCodec::OptBinary || option == TTelnetCodec::OptSuppressGoAhead ||
           option == TTelnetCodec::OptEcho;
}

void AppendCommand(QByteArray& out, std::uint8_t command, const QByteArray& value) {
    out.append(char(TTelnetCodec::Iac)).append(char(TTelnetCodec::Sb));
    out.append(char(TTelnetCodec::OptComPort)).append(char(command));
    out.append(TTelnetCodec::Escape(value.constData(), std::size_t(value.size())));
    out.append(char(TTelnetCodec::Iac)).append(char(TTelnetCodec::Se));
}

} // namespace

QByteArray TTelnetCodec::Start() {
    FReplies.clear();
    for (const std::uint8_t option : {OptComPort, OptBinary, OptSuppressGoAhead}) {
        FLocal[option].State = TOptionState::WantYes;
        Send(Will, option);
    }
    for (const std::uint8_t option : {OptBinary, OptSuppressGoAhead}) {
        FRemote[option].State = TOptionState::WantYes;
        Send(Do, option);
    }
    return std::exchange(FReplies, QByteArray());
}

void TTelnetCodec::Send(std::uint8_t verb, std::uint8_t option) {
    FReplies.append(char(Iac)).append(char(verb)).append(char(option));
}

std::size_t TTelnetCodec::Decode(const char* in, std::size_t size, char* out) {
    std::size_t produced = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = std::uint8_t(in[i]);
        switch (FState) {
        case TState::Data:
            if (byte == Iac)
                FState = TState::Iac;
            else
                out[produced++] = char(byte);
            break;
        case TState::Iac:
            FState = TState::Data;
            if (byte == Iac)
                out[produced++] = char(byte);
            else if (byte == Will)
                FState = TState::Will;
            else if (byte == Wont)
                FState = TState::Wont;
            else if (byte == Do)
                FState = TState::Do;
            else if (byte == Dont)
                FState = TState::Dont;
            else if (byte == Sb) {
                FSb.clear();
                FState = TState::Sb;
            }
            // Other commands (NOP, go-ahead, data mark...) carry nothing here.
            break;
        case TState::Will:
        case TState::Wont:
        case TState::Do:
        case TState::Dont:
            Command(FState == TState::Will   ? Will
                    : FState == TState::Wont ? Wont
                    : FState == TState::Do   ? Do
                                             : Dont,
                    byte);
            FState = TState::Data;
            break;
        case TState::Sb:
            if (byte == Iac)
                FState = TState::SbIac;
            else if (FSb.size() < 64)
                FSb.append(char(byte));
            break;
        case TState::SbIac:
            if (byte == Se) {
                Subnegotiation();
                FState = TState::Data;
            } else {
                if (FSb.size() < 64)
                    FSb.append(char(byte)); // IAC IAC inside: one 0xFF
                FState = TState::Sb;
            }
            break;
        }
    }
    return produced;
}

void TTelnetCodec::Command(std::uint8_t verb, std::uint8_t option) {
    if (verb == Will || verb == Wont) {
        Negotiate(FRemote[option], verb == Will, WeAccept(option), Do, Dont, option);
        return;
    }
    const TOptionState state =
        Negotiate(FLocal[option], verb == Do, WeOffer(option), Will, Wont, option);
    if (option == OptComPort)
        FComPortState = state == TOptionState::Yes ? TComPortState::Agreed : TComPortState::Refused;
}

TTelnetCodec::TOptionState TTelnetCodec::Negotiate(TOption& option, bool enable, bool accept,
                                                   std::uint8_t yes, std::uint8_t no,
                                                   std::uint8_t code) {
    using S = TOptionState;
    if (!enable) {
        // Withdrawing a request the server made is a change of its mind: its
        // next request is answered again.
        option.Refused = false;
        if (option.State == S::Yes)
            Send(no, code);
        option.State = S::No;
        return option.State;
    }
    switch (option.State) {
    case S::No:
        if (accept) {
            option.State = S::Yes;
            Send(yes, code);
        } else if (!std::exchange(option.Refused, true)) {
            Send(no, code);
        }
        break;
    case S::WantYes:
        option.State = S::Yes;
        break;
    case S::WantNo:
        // Our refusal answered with an enable: the server is wrong, the
        // option stays off.
        option.State = S::No;
        break;
    case S::Yes:
        break;
    }
    return option.State;
}

void TTelnetCodec::Subnegotiation() {
    if (FSb.size() < 3 || std::uint8_t(FSb.at(0)) != OptComPort)
        return;
    const auto command = std::uint8_t(FSb.at(1));
    const auto value = std::uint8_t(FSb.at(2));
    if (command == ServerOffset + NotifyModemstate) {
        const std::uint8_t changed = value ^ FModemState;
        if ((changed & ModemCts) || (value & ModemDeltaCts))
            FLineEvents |= EV_CTS;
        if ((changed & ModemDsr) || (value & ModemDeltaDsr))
            FLineEvents |= EV_DSR;
        FModemState = value & (ModemCts | ModemDsr);
    } else if (command == ServerOffset + NotifyLinestate) {
        std::uint32_t errors = 0;
        if (value & LineOverrun)
            errors |= CE_OVERRUN;
        if (value & LineParity)
            errors |= CE_RXPARITY;
        if (value & LineFraming)
            errors |= CE_FRAME;
        if (value & LineBreak)
            errors |= CE_BREAK;
        if (errors != 0) {
            FErrors |= errors;
            FLineEvents |= EV_ERR;
        }
    }
}

std::uint32_t TTelnetCodec::TakeLineEvents() {
    return std::exchange(FLineEvents, 0);
}

std::uint32_t TTelnetCodec::TakeErrors() {
    return std::exchange(FErrors, 0);
}

QByteArray TTelnetCodec::LineSettingsCommands(const TLineSettings& settings) {
    QByteArray out;
    const auto baud = std::uint32_t(settings.Baudrate);
    const std::array<char, 4> baudBytes = {char(baud >> 24), char(baud >> 16), char(baud >> 8),
                                           char(baud)};
    AppendCommand(out, SetBaudrate, QByteArray(baudBytes.data(), 4));
    AppendCommand(out, SetDatasize, QByteArray(1, char(settings.DataBits)));
    // The option's codes: 1 none, 2 odd, 3 even, 4 mark, 5 space.
    AppendCommand(out, SetParity, QByteArray(1, char(settings.Parity + 1)));
    // 1 one, 2 two, 3 one and a half stop bits.
    static constexpr std::array<char, 3> StopCodes = {1, 3, 2};
    AppendCommand(out, SetStopsize, QByteArray(1, StopCodes.at(std::size_t(settings.StopBits))));
    // The option's flow control codes: 1 none, 2 XON/XOFF, 3 hardware.
    static constexpr std::array<char, 3> FlowCodes = {ControlNoFlow, 2, 3};
    AppendCommand(out, SetControl,
                  QByteArray(1, FlowCodes.at(std::size_t(std::clamp(settings.FlowControl, 0, 2)))));
    AppendCommand(out, SetControl, QByteArray(1, char(ControlDtrOn)));
    AppendCommand(out, SetControl, QByteArray(1, char(ControlRtsOn)));
    AppendCommand(out, SetLinestateMask,
                  QByteArray(1, char(LineOverrun | LineParity | LineFraming | LineBreak)));
    AppendCommand(out, SetModemstateMask,
                  QByteArray(1, char(ModemDeltaCts | ModemDeltaDsr | ModemCts | ModemDsr)));
    return out;
}

QByteArray TTelnetCodec::Escape(const char* data, std::size_t size) {
    QByteArray out;
    out.reserve(qsizetype(size + size / 64 + 4));
    for (std::size_t i = 0; i < size; ++i) {
        out.append(data[i]);
        if (std::uint8_t(data[i]) == Iac)
            out.append(data[i]);
    }
    return out;
}
