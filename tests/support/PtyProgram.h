#pragma once

#include <QByteArray>
#include <QStringList>

#include <functional>
#include <sys/types.h>

// A real program on a pseudo-terminal of a given size, as it runs in a
// terminal window: the test types into it and takes what it prints.
class PtyProgram {
public:
    PtyProgram() = default;
    ~PtyProgram();
    PtyProgram(const PtyProgram&) = delete;
    PtyProgram& operator=(const PtyProgram&) = delete;

    // Starts Arguments (the program is looked up in PATH) in Directory with
    // TERM set to Term, a UTF-8 locale and HOME in Directory, plus the
    // extra NAME=value settings in Environment.
    bool Start(const QStringList& arguments, const QString& directory, const QByteArray& term,
               int columns, int rows, const QStringList& environment = {});
    bool Write(const QByteArray& bytes);
    // Hands what the program prints to OnOutput until it is quiet for
    // QuietMs after its first byte (waiting up to FirstByteMs for that), or
    // it ends; false when nothing came at all.
    bool ReadUntilQuiet(int quietMs, int firstByteMs);
    bool Ended() const { return FEnded; }

    std::function<void(const QByteArray&)> OnOutput;

private:
    pid_t FPid = -1;
    int FMaster = -1;
    bool FEnded = false;
};
