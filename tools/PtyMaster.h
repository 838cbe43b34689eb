#pragma once

#include <string>
#include <sys/types.h>

// The master side of a pseudo-terminal in raw mode, non-blocking. The slave
// side is opened once and closed again at once, so that "no client" always
// shows as a hang-up of the master (a fresh terminal shows none until its
// first open).
class PtyMaster {
public:
    PtyMaster() = default;
    ~PtyMaster();
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    bool Open(std::string& error);
    // Closes the master: a client sees a hang-up. Open() makes a new one.
    void Close();
    int Fd() const { return FMaster; }
    const std::string& SlavePath() const { return FSlavePath; }

    // True while some process holds the slave side open.
    bool ClientPresent() const;
    // Bytes written to the master that the client has not read yet; -1 when
    // that cannot be learnt (the client opened the slave exclusively).
    int UnreadByClient() const;

private:
    int FMaster = -1;
    std::string FSlavePath;
};
