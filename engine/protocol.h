#pragma once
// The script's output protocol: a byte stream cut into lines at line feeds, each line trimmed,
// decoded from UTF-8 and turned into at most one installer message. Platform-free: decoding and
// the number conversion come in through LineCodec, posting is the caller's.

#include "messages.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct LineCodec {
    // UTF-8 to UTF-16 code units; the input is NUL-terminated and decoding stops at the NUL.
    std::wstring (*decode)(const char* nulTerminated);
    // Leading white space, optional sign, decimal digits, as the C runtime's _wtoi.
    int (*toInt)(const wchar_t* text);
};

// The codec of the host build; the Windows build uses the platform's own functions.
extern const LineCodec portableCodec;

struct ScriptMessage {
    unsigned message = 0;     // one of WM_INSTALL_*
    std::intptr_t wParam = 0; // percent for progress, 0 status / 1 log-only for lines
    std::wstring text;        // payload or whole line; empty for progress
};

// Removes trailing blanks and carriage returns; nothing else.
std::string_view trimScriptLine(std::string_view line);

// Interprets one line (without its line feed). Returns false for a line that posts nothing.
// A line "@KLASSE <name>" posts nothing: it names the class of the failure that the next "@ERR"
// line reports, kept in `failure` until then; "@ERR" carries it as its wParam. An unknown name
// is `other`.
bool interpretScriptLine(std::string_view line, const LineCodec& codec, ScriptMessage& out, FailureClass& failure);
// The same for a reader that keeps no class from line to line ("@ERR" then carries `other`).
bool interpretScriptLine(std::string_view line, const LineCodec& codec, ScriptMessage& out);

// The class a "@KLASSE" line names: netz, belegt, speicher, pruefung, laeuft; anything else is `other`.
FailureClass failureClassNamed(std::string_view name);

// Holds what arrived after the last line feed until the rest of its line comes.
struct LineFramer {
    std::string carry;
};

// Hands every complete line in `bytes` (joined with the carry) to onLine(std::string_view) in
// stream order. Each byte is scanned once and copied at most once, however long a line grows.
template <typename OnLine>
void feedScriptBytes(LineFramer& framer, const char* bytes, std::size_t count, OnLine&& onLine)
{
    std::string_view chunk(bytes, count);
    for (;;) {
        std::size_t feed = chunk.find('\n');
        if (feed == std::string_view::npos)
            break;
        if (framer.carry.empty()) {
            onLine(chunk.substr(0, feed));
        } else {
            framer.carry.append(chunk.data(), feed);
            onLine(std::string_view(framer.carry));
            framer.carry.clear();
        }
        chunk.remove_prefix(feed + 1);
    }
    framer.carry.append(chunk.data(), chunk.size());
}

// At the end of the stream an unterminated last line is dropped, never dispatched.
inline void discardCarry(LineFramer& framer)
{
    framer.carry.clear();
    framer.carry.shrink_to_fit();
}
