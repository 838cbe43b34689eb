#pragma once

#include <QByteArray>

// Repairs a stream of received UTF-8 that arrives in blocks split anywhere:
// well-formed sequences pass unchanged, each maximal invalid part (a byte
// that cannot start or continue a sequence, an overlong form, a surrogate,
// a code point above U+10FFFF, a sequence cut short by another byte) becomes
// one U+FFFD, and the byte that cut a sequence short is kept. The few
// combining marks that are also wide are replaced (see AppendComplete). A sequence
// still open at the end of a block waits for the next block.
class TUtf8Repair {
public:
    // The repaired bytes of Block, appended to Out. With BareLfReturns every
    // LF goes out as CR LF.
    void Repair(const QByteArray& block, QByteArray& out);
    // True when Block passes unchanged (plain ASCII outside a sequence and
    // no LF to widen), so that it need not be copied.
    bool PassesUnchanged(const QByteArray& block) const;
    // Drops a sequence still open (on a reset of the screen).
    void Reset();

    bool BareLfReturns = false;

private:
    void Lead(uchar byte, QByteArray& out);
    void Continue(uchar byte, QByteArray& out);
    void AppendComplete(QByteArray& out) const;

    // The bytes of the open sequence, how many it needs in all, and the
    // range its next byte must fall in.
    char FPending[4] = {};
    int FHave = 0;
    int FNeed = 0;
    uchar FLower = 0x80;
    uchar FUpper = 0xBF;
};
