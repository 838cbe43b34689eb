#include "platform/LineTermios.h"

#include <array>
#include <utility>

speed_t SpeedOfBaudrate(int baudrate) {
    static constexpr std::array<std::pair<int, speed_t>, 10> speeds = {{{300, B300},
                                                                        {600, B600},
                                                                        {1200, B1200},
                                                                        {2400, B2400},
                                                                        {4800, B4800},
                                                                        {9600, B9600},
                                                                        {19200, B19200},
                                                                        {38400, B38400},
                                                                        {57600, B57600},
                                                                        {115200, B115200}}};
    for (const auto& [rate, speed] : speeds) {
        if (rate == baudrate)
            return speed;
    }
    return 0;
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
    if (speed == 0 || !CharacterSize(settings.DataBits, size) ||
        !ParityFlags(settings.Parity, parity) || settings.StopBits < 0 || settings.StopBits > 2)
        return false;

    cfmakeraw(&termios);
    termios.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP | IGNBRK | BRKINT);
    termios.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    termios.c_cflag |= CLOCAL | CREAD | size | parity;
    // Linux sends 1.5 stop bits for CSTOPB with 5 data bits, 2 otherwise.
    if (settings.StopBits != 0)
        termios.c_cflag |= CSTOPB;
    termios.c_cc[VMIN] = 1;
    termios.c_cc[VTIME] = 0;
    cfsetispeed(&termios, speed);
    cfsetospeed(&termios, speed);
    return true;
}
