// Keeps the Wine session's desktop alive while tests run. Wine starts the desktop process with
// the first window of the session and ends it some 20 s after the last process using it has
// gone; started by a test, it inherits that test's output, which CTest then waits on. Run once
// at the start of a session with its output going nowhere, this program holds the desktop until
// the session's server is stopped.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
