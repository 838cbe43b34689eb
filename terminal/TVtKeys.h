#pragma once

#include <QByteArray>
#include <QString>
#include <Qt>

// The bytes an xterm sends for a key.
struct TVtKeyModes {
    // DECCKM: cursor keys (and Home, End) send SS3 forms.
    bool CursorKeysApp = false;
    // DECKPAM: the keypad sends SS3 forms.
    bool KeypadApp = false;
    // Backspace sends BS (8) instead of DEL (127).
    bool BackspaceSendsBs = false;
};

// Cursor and editing keys, F1-F12, Backspace, Escape, Tab, the keypad,
// Ctrl+letter, Alt+key as ESC and the key, text as UTF-8; empty for a key
// the caller handles itself (Enter, Shift+Ctrl+letter, keys with no text).
QByteArray VtKeyBytes(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                      const TVtKeyModes& modes);
