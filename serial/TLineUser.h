#pragma once

// Who sends bytes to the line. Keys: typed keys, paste, macros, the input
// line. Answers: replies of the terminal to the target (device attributes,
// status reports). Download: the line download. Transfer: a file transfer
// protocol. Download and Transfer may own the line (TQxComPort::ClaimLine);
// Keys and Answers never do.
enum class TLineUser { Keys, Answers, Download, Transfer };
