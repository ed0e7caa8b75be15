#include "installer_window_win.h"

#include "engine/messages.h"
#include "app/window_win.h"

#include <cstdio>

void openInstallerWindow()
{
    createFonts();
    registerWindowClass(GetModuleHandleW(nullptr));
    mainWindow = createMainWindow(GetModuleHandleW(nullptr));
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
}

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs)
{
    ULONGLONG until = GetTickCount64() + timeoutMs;
    MSG message;
    for (;;) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            return true;
        if (GetTickCount64() >= until)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void pumpFor(DWORD milliseconds)
{
    pumpUntil([] { return false; }, milliseconds);
}

bool postToWindow(UINT message, WPARAM wParam, const wchar_t* text)
{
    auto* owned = text ? new OwnedText{text} : nullptr;
    return PostMessageW(mainWindow, message, wParam, reinterpret_cast<LPARAM>(owned));
}

Picture::Picture(int width, int height) : width(width), height(height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bitmap);
}

Picture::~Picture()
{
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
}

Color Picture::at(int x, int y) const
{
    return pixelColor(bits[y * width + x]);
}

bool Picture::contains(Color color, int left, int top, int right, int bottom) const
{
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            if (at(x, y) == color)
                return true;
    return false;
}

void copyWindowInto(Picture& picture)
{
    HDC windowDc = GetDC(mainWindow);
    BitBlt(picture.dc, 0, 0, picture.width, picture.height, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    ReleaseDC(mainWindow, windowDc);
}

Color pixelColor(std::uint32_t pixel)
{
    return rgb((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

std::string hex(Color color)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(color));
    return text;
}

std::wstring besideThisProgram(const wchar_t* name)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self, length);
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

HANDLE startProgram(std::wstring commandLine, HANDLE output)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, output != nullptr,
                        output != nullptr ? CREATE_NO_WINDOW : 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int runUnixProgram(std::vector<std::string> argv, bool wait)
{
    using Spawn = LONG(CDECL*)(char* const argv[], int wait);
    static auto spawn = reinterpret_cast<Spawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (spawn == nullptr)
        return -1;
    std::vector<char*> pointers;
    for (std::string& arg : argv)
        pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return spawn(pointers.data(), wait ? 1 : 0);
}
