#include "help/HintDescs.h"

// The blanks before some line breaks and at the end of the "Download" text
// belong to the texts.
const std::array<THintDesc, HintCount> HintDescs = {{
    {"Serial Interface",
     "Use the \"Settings...\" button to modify the settings of the serial interface. Select one "
     "of the supported COM-Ports and choose the parameters for baudrate, databits, stopbits and "
     "parity.\n\r\rThe interface must be available!"},
    {"Terminal",
     "Use the \"Settings...->Terminal\" dialog to select the terminal emulation and to adjust "
     "the text formatting. \n\r\rASCII-Emulation shows chars and performs <Backspace>, "
     "<FormFeed>, <CR> as well as <NL>.\n\r\rHEX-Emulation shows all chars as hexadecimal "
     "numbers and also as text - if possible."},
    {"Download",
     "Use the \"Settings...->Download\" dialog to modify the parameters regarding the file "
     "download. \n\r\rIn section \"Line Sync\" select one of the following modes None/50ms "
     "Delay/Handshake. If Handshake is selected enter a handshake sequence. This sequence will "
     "be expected after each transmitted line of the file. 50ms Delay performs a pause after "
     "each transmitted line. "},
    {"Clear",
     "Use the \"Clear\" button to clear the terminal display and to set the cursor back to home "
     "position (ASCII emulation only).\n\r\rThis function is also available via the Popup-Menu "
     "(right mouse button)."},
    {"Macro...",
     "Use the \"Macro\" button to send the selected macro via the serial interface. Macros can "
     "be defined inside the \"Settings...->Terminal\" page.\n\r\rMacros can contain none "
     "printable chars. This chars will be entered by #<char code>. # itself must be entered as "
     "#35! The char code can be 1..3 digits long (e.g. #0#13#255)."},
    {"...delay",
     "Macros can also contain delay times. A delay will be defined by #27T<Milliseconds>. #27 "
     "is the control char ESC. The time value can be 1..4 digits long, which results in a range "
     "of 0..9999ms. There can be more than one delay time inside a single macro.\n\r\n\rSample:"
     "\n\rThe macro 012#27T0100345 sends: 012<100ms>345"},
    {"Logfile",
     "To record a terminal session press the \"Logfile...\" button. The following file dialog "
     "allows to enter the name of a new or already existing file. Afterwards all text of the "
     "terminal screen will be copied 1:1 into that file. There is no limitation to the size of "
     "the file. The file must not be used by other applications during that time. To stop "
     "recording press the \"Logfile...\" button again. This function is also available via the "
     "Popup-Menu (right mouse button)."},
    {"Popup-Menu",
     "Press the right mouse button and the Popup-Menu appears. Select \"Logfile...\", \"Clear "
     "Display\" or \"Pause\". \n\r\rPause stops displaying text in the terminal - you can read "
     "fast cyclic text sequences.\n\r\rNote: An activated recording of the session is also "
     "stopped!"},
}};
