#include "codec_win.h"

#include <windows.h>

#include <cstdlib>

namespace {

int wtoi(const wchar_t* text)
{
    return _wtoi(text);
}

} // namespace

const LineCodec windowsCodec = {decodeUtf8Win, wtoi};

std::wstring decodeUtf8Win(const char* nulTerminated)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, nulTerminated, -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    int written = MultiByteToWideChar(CP_UTF8, 0, nulTerminated, -1, text.data(), length);
    if (written <= 0)
        return std::wstring();
    text.resize(static_cast<std::size_t>(written - 1)); // without the terminating NUL
    return text;
}
