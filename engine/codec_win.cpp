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
    if (length <= 0)
        return std::wstring();
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    int written = MultiByteToWideChar(CP_UTF8, 0, nulTerminated, -1, text.data(), length);
    if (written <= 0)
        return std::wstring();
    // Up to the terminating NUL. Wine lets a sequence cut short by the NUL swallow the NUL too,
    // so the terminator is looked for rather than assumed to be the last unit.
    text.resize(static_cast<std::size_t>(written));
    std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return text;
}
