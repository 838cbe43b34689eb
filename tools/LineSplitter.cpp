#include "tools/LineSplitter.h"

bool LineSplitter::Push(char byte) {
    if (FLineComplete) {
        FLine.clear();
        FLineComplete = false;
    }
    const bool lfOfCrLf = byte == '\n' && FAfterCr;
    FAfterCr = byte == '\r';
    if (lfOfCrLf)
        return false;
    if (byte == '\r' || byte == '\n') {
        FLineComplete = true;
        return true;
    }
    if (FLine.size() < MaxLineLength)
        FLine.push_back(byte);
    return false;
}

void LineSplitter::Reset() {
    FLine.clear();
    FLineComplete = false;
    FAfterCr = false;
}
