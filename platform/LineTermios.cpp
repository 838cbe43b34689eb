#include "platform/LineTermios.h"

#include <array>
#include <cstring>
#include <utility>

#include <sys/ioctl.h>

// The name the kernel's ioctl numbers are spelled with (TCGETS2 takes the
// size of struct termios2).
struct termios2 : TKernelTermios {};

namespace {

// The speed field of c_cflag holds BOTHER when the rate is in c_ospeed;
// the input speed field above IBSHIFT is 0 for "same as output".
constexpr tcflag_t BOTHER = 0010000;
constexpr int IBSHIFT = 16;

using TSpeedTable = std::array<std::pair<int, speed_t>, 29>;
constexpr TSpeedTable Speeds = {
    {{50, B50},           {75, B75},           {110, B110},         {134, B134},
     {150, B150},         {200, B200},         {300, B300},         {600, B600},
     {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
     {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
     {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1500000, B1500000},
     {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
     {4000000, B4000000}}};

int BaudrateOfSpeed(speed_t speed) {
    for (const auto& [rate, constant] : Speeds) {
        if (constant == speed)
            return rate;
    }
    return 0;
}

} // namespace

speed_t SpeedOfBaudrate(int baudrate) {
    for (const auto& [rate, speed] : Speeds) {
        if (rate == baudrate)
            return speed;
    }
    return 0;
}

bool ApplyLineTermios(int fd, const termios& line, int baudrate) {
    if (SpeedOfBaudrate(baudrate) != 0)
        return ::tcsetattr(fd, TCSANOW, &line) == 0;
    TKernelTermios kernel{};
    if (::ioctl(fd, TCGETS2, &kernel) != 0)
        return false;
    kernel.c_iflag = line.c_iflag;
    kernel.c_oflag = line.c_oflag;
    kernel.c_lflag = line.c_lflag;
    kernel.c_line = line.c_line;
    std::memcpy(kernel.c_cc, line.c_cc, sizeof kernel.c_cc);
    kernel.c_cflag = (line.c_cflag & ~(CBAUD | (CBAUD << IBSHIFT))) | BOTHER;
    kernel.c_ispeed = speed_t(baudrate);
    kernel.c_ospeed = speed_t(baudrate);
    return ::ioctl(fd, TCSETS2, &kernel) == 0;
}

bool SaveLineState(int fd, TKernelTermios& state) {
    return ::ioctl(fd, TCGETS2, &state) == 0;
}

bool RestoreLineState(int fd, const TKernelTermios& state) {
    TKernelTermios now{};
    if (::ioctl(fd, TCGETS2, &now) != 0)
        return false;
    TKernelTermios given = state;
    given.c_cflag = (given.c_cflag & ~tcflag_t(HUPCL)) | (now.c_cflag & HUPCL);
    return ::ioctl(fd, TCSETS2, &given) == 0;
}

int ReadLineSpeed(int fd) {
    TKernelTermios kernel{};
    if (::ioctl(fd, TCGETS2, &kernel) == 0 && kernel.c_ospeed != 0)
        return int(kernel.c_ospeed);
    termios line{};
    if (::tcgetattr(fd, &line) != 0)
        return 0;
    return BaudrateOfSpeed(cfgetospeed(&line));
}

namespace {

bool CharacterSize(int dataBits, tcflag_t& size) {
    static constexpr std::array<tcflag_t, 4> sizes = {CS5, CS6, CS7, CS8};
    if (dataBits < 5 || dataBits > 8)
        return false;
    size = sizes[dataBits - 5];
    return true;
}

bool ParityFlags(int parity, tcflag_t& flags) {
    static constexpr std::array<tcflag_t, 5> table = {0, PARENB | PARODD, PARENB,
                                                      PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
    if (parity < 0 || parity >= int(table.size()))
        return false;
    flags = table[parity];
    return true;
}

} // namespace

bool BuildLineTermios(termios& termios, const TLineSettings& settings) {
    const speed_t speed = SpeedOfBaudrate(settings.Baudrate);
    tcflag_t size = 0;
    tcflag_t parity = 0;
    if (settings.Baudrate <= 0 || !CharacterSize(settings.DataBits, size) ||
        !ParityFlags(settings.Parity, parity) || settings.StopBits < 0 || settings.StopBits > 2 ||
        settings.FlowControl < 0 || settings.FlowControl > 2)
        return false;

    cfmakeraw(&termios);
    termios.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP | IGNBRK | BRKINT);
    termios.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    termios.c_cflag |= CLOCAL | CREAD | size | parity;
    if (settings.FlowControl == 1)
        termios.c_cflag |= CRTSCTS;
    else if (settings.FlowControl == 2)
        termios.c_iflag |= IXON | IXOFF;
    if (!settings.DTR || !settings.RTS)
        termios.c_cflag &= ~HUPCL;
    // Linux sends 1.5 stop bits for CSTOPB with 5 data bits, 2 otherwise.
    if (settings.StopBits != 0)
        termios.c_cflag |= CSTOPB;
    termios.c_cc[VMIN] = 1;
    termios.c_cc[VTIME] = 0;
    if (speed != 0) {
        cfsetispeed(&termios, speed);
        cfsetospeed(&termios, speed);
    }
    return true;
}
