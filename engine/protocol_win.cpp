#include "protocol_win.h"

#include "codec_win.h"

HWND mainWindow = nullptr;

bool postInstallText(UINT message, WPARAM wParam, std::wstring text)
{
    OwnedText* owned = new OwnedText{std::move(text)};
    if (PostMessageW(mainWindow, message, wParam, reinterpret_cast<LPARAM>(owned)))
        return true;
    delete owned; // nobody else will ever see it
    return false;
}

UINT dispatchScriptLine(std::string_view line)
{
    FailureClass failure = FailureClass::other;
    return dispatchScriptLine(line, failure);
}

UINT dispatchScriptLine(std::string_view line, FailureClass& failure)
{
    ScriptMessage message;
    if (!interpretScriptLine(line, windowsCodec, message, failure))
        return 0;
    bool posted = message.message == WM_INSTALL_PROGRESS
                      ? PostMessageW(mainWindow, message.message, static_cast<WPARAM>(message.wParam), 0) != 0
                      : postInstallText(message.message, static_cast<WPARAM>(message.wParam), std::move(message.text));
    // The worker counts an outcome only when the window got it; otherwise it reports the attempt
    // as ended unexpectedly, so the window never stays installing.
    return posted ? message.message : 0;
}
