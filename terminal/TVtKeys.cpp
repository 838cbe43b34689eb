#include "terminal/TVtKeys.h"

namespace {

// The xterm modifier parameter: 1 + Shift 1 + Alt 2 + Ctrl 4.
int ModifierParam(Qt::KeyboardModifiers chord) {
    return 1 + ((chord & Qt::ShiftModifier) ? 1 : 0) + ((chord & Qt::AltModifier) ? 2 : 0) +
           ((chord & Qt::ControlModifier) ? 4 : 0);
}

// A key sent as CSI letter or SS3 letter: arrows, Home, End, F1-F4.
QByteArray LetterKey(char letter, bool ss3, Qt::KeyboardModifiers chord) {
    if (chord != Qt::NoModifier)
        return "\x1b[1;" + QByteArray::number(ModifierParam(chord)) + letter;
    return (ss3 ? QByteArray("\x1bO") : QByteArray("\x1b[")) + letter;
}

// A key sent as CSI number ~.
QByteArray TildeKey(int number, Qt::KeyboardModifiers chord) {
    QByteArray bytes = "\x1b[" + QByteArray::number(number);
    if (chord != Qt::NoModifier)
        bytes += ';' + QByteArray::number(ModifierParam(chord));
    return bytes + '~';
}

QByteArray FunctionKey(int index, Qt::KeyboardModifiers chord) {
    static const int tildeNumbers[] = {15, 17, 18, 19, 20, 21, 23, 24};
    if (index < 4)
        return LetterKey(char('P' + index), true, chord);
    return TildeKey(tildeNumbers[index - 4], chord);
}

QByteArray CursorKey(int key, Qt::KeyboardModifiers chord, bool app) {
    switch (key) {
    case Qt::Key_Up:
        return LetterKey('A', app, chord);
    case Qt::Key_Down:
        return LetterKey('B', app, chord);
    case Qt::Key_Right:
        return LetterKey('C', app, chord);
    case Qt::Key_Left:
        return LetterKey('D', app, chord);
    case Qt::Key_Home:
        return LetterKey('H', app, chord);
    case Qt::Key_End:
        return LetterKey('F', app, chord);
    case Qt::Key_Insert:
        return TildeKey(2, chord);
    case Qt::Key_Delete:
        return TildeKey(3, chord);
    case Qt::Key_PageUp:
        return TildeKey(5, chord);
    case Qt::Key_PageDown:
        return TildeKey(6, chord);
    default:
        return QByteArray();
    }
}

// A keypad key in application mode: SS3 and a letter.
QByteArray KeypadKey(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return "\x1bO" + QByteArray(1, char('p' + (key - Qt::Key_0)));
    switch (key) {
    case Qt::Key_Enter:
        return "\x1bOM";
    case Qt::Key_Asterisk:
        return "\x1bOj";
    case Qt::Key_Plus:
        return "\x1bOk";
    case Qt::Key_Comma:
        return "\x1bOl";
    case Qt::Key_Minus:
        return "\x1bOm";
    case Qt::Key_Period:
        return "\x1bOn";
    case Qt::Key_Slash:
        return "\x1bOo";
    default:
        return QByteArray();
    }
}

} // namespace

QByteArray VtKeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                      const TVtKeyModes& modes) {
    const Qt::KeyboardModifiers chord =
        modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool keypad = modifiers & Qt::KeypadModifier;
    const QByteArray prefix = (chord & Qt::AltModifier) ? QByteArray("\x1b") : QByteArray();
    if (key >= Qt::Key_A && key <= Qt::Key_Z && (chord & Qt::ControlModifier)) {
        // Shift+Ctrl+letter belongs to the macros.
        if (chord & Qt::ShiftModifier)
            return QByteArray();
        return prefix + char(key - Qt::Key_A + 1);
    }
    if (key == Qt::Key_Backspace)
        return prefix + (modes.BackspaceSendsBs ? '\b' : '\x7f');
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (!keypad)
            return QByteArray();
        return modes.KeypadApp ? KeypadKey(key) : QByteArray("\r");
    }
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        if (key == Qt::Key_Backtab || (chord & Qt::ShiftModifier))
            return "\x1b[Z";
        return prefix + '\t';
    }
    if (key == Qt::Key_Escape)
        return prefix + '\x1b';
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return FunctionKey(key - Qt::Key_F1, chord);
    if (const QByteArray cursor = CursorKey(key, chord, modes.CursorKeysApp); !cursor.isEmpty())
        return cursor;
    if (keypad && modes.KeypadApp) {
        if (const QByteArray bytes = KeypadKey(key); !bytes.isEmpty())
            return bytes;
    }
    if (text.isEmpty() || text.at(0).isNull())
        return QByteArray();
    if ((chord & Qt::ControlModifier) && text.size() == 1 && text.at(0).unicode() < 0x20)
        return prefix + text.toLatin1(); // Ctrl+[ \ ] ^ _ and Ctrl+Space
    return prefix + text.toUtf8();
}
