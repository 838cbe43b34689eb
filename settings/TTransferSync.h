#pragma once

#include <QByteArray>

#include <cstdint>

// How a download keeps pace with the target, handed around as a whole copy.
struct TTransferSync {
    static constexpr int MaxSequenceLength = 10;

    // 0: no synchronisation; 1: a pause of 50 ms after each line; 2: a wait
    // for Sequence after each line.
    std::uint8_t Mode = 2;
    // The handshake sequence in macro text form, at most MaxSequenceLength
    // bytes.
    QByteArray Sequence = "#42";
    // A control of the Download page changed since the settings dialog was
    // created.
    bool Changed = false;
};
