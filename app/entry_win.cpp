#include "window_win.h"

// The command line and the requested show state are ignored.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    return runInstaller(instance);
}
