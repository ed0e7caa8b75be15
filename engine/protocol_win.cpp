#include "protocol_win.h"

#include "../app/window_win.h"
#include "codec_win.h"

void postInstallText(UINT message, WPARAM wParam, std::wstring text)
{
    OwnedText* owned = new OwnedText{std::move(text)};
    if (!PostMessageW(mainWindow, message, wParam, reinterpret_cast<LPARAM>(owned)))
        delete owned; // nobody else will ever see it
}

UINT dispatchScriptLine(std::string_view line)
{
    ScriptMessage message;
    if (!interpretScriptLine(line, windowsCodec, message))
        return 0;
    if (message.message == WM_INSTALL_PROGRESS)
        PostMessageW(mainWindow, message.message, static_cast<WPARAM>(message.wParam), 0);
    else
        postInstallText(message.message, static_cast<WPARAM>(message.wParam), std::move(message.text));
    return message.message;
}
