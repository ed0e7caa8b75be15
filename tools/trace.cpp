#include "trace.h"

#include "engine/messages.h"

#include <cinttypes>

std::string describeScriptMessage(const ScriptMessage& message)
{
    const char* name = "LOG";
    switch (message.message) {
    case WM_INSTALL_PROGRESS: {
        char number[32];
        std::snprintf(number, sizeof number, "PROGRESS %" PRIdPTR, message.wParam);
        return number;
    }
    case WM_INSTALL_LINE: name = message.wParam == 0 ? "STATUS" : "LOG"; break;
    case WM_INSTALL_DONE: name = "DONE"; break;
    case WM_INSTALL_ERROR: name = "ERROR"; break;
    }
    std::string out = name;
    out += " \"";
    for (wchar_t unit : message.text) {
        auto code = static_cast<std::uint32_t>(unit);
        if (code == '"' || code == '\\') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code >= 0x20 && code < 0x7F) {
            out += static_cast<char>(code);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(code & 0xFFFF));
            out += escape;
        }
    }
    out += '"';
    return out;
}

long traceScriptOutput(std::FILE* in, std::FILE* out, const LineCodec& codec)
{
    LineFramer framer;
    long messages = 0;
    char buffer[512]; // the installer's read size, so chunking matches its own
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        feedScriptBytes(framer, buffer, got, [&](std::string_view line) {
            ScriptMessage message;
            if (!interpretScriptLine(line, codec, message))
                return;
            std::string text = describeScriptMessage(message);
            std::fprintf(out, "%s\n", text.c_str());
            std::fflush(out); // follow the script as it runs
            ++messages;
        });
    }
    discardCarry(framer);
    return messages;
}
