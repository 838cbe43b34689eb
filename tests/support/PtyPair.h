#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal standing in for a serial line: the program under test
// opens SlavePath(), the test plays the target on the master side. Both
// sides are raw (no echo, no line discipline translations).
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsValid() const { return FMaster >= 0; }
    QString SlavePath() const { return FSlavePath; }
    int MasterFd() const { return FMaster; }

    // Writes all bytes to the master side (the target sends them).
    bool Write(const QByteArray& bytes);
    // Reads what the program sent until Count bytes arrived or TimeoutMs
    // passed without any new byte.
    QByteArray Read(int count, int timeoutMs = 2000);
    // Reads whatever arrives until TimeoutMs pass without a new byte.
    QByteArray ReadAll(int quietMs = 100);
    // Closes the master side: the line hangs up.
    void CloseMaster();
    // Closes the test's own handle on the slave side (kept open so the
    // master does not see a hang-up between two opens by the program).
    void CloseSlaveKeeper();

private:
    int FMaster = -1;
    int FSlaveKeeper = -1;
    QString FSlavePath;
};
