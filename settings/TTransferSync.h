#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

// How a download keeps pace with the target; the ordinals are the indexes
// of the dialog's choices and of SyncModeNames.
enum TSyncMode : std::uint8_t {
    smNone,         // no synchronisation
    smDelayed,      // a pause of 50 ms after each line
    smAcknowledged, // a wait for the handshake sequence after each line
};

// The stored words of TSyncMode.
inline constexpr std::array<const char*, 3> SyncModeNames = {"NONE", "DELAYED", "ACKNOWLEDGED"};

// How a download keeps pace with the target, handed around as a whole copy.
struct TTransferSync {
    static constexpr int MaxSequenceLength = 10;

    TSyncMode Mode = smAcknowledged;
    // The handshake sequence in macro text form, at most MaxSequenceLength
    // bytes.
    QByteArray Sequence = "#42";
    // A control of the Download page changed since the settings dialog was
    // created.
    bool Changed = false;
};
