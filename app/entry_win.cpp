#include "window_win.h"

// The command line and the requested show state are ignored.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // An installer runs from Downloads, where anyone may have dropped a DLL named like one that a
    // system library loads on demand; from here on such loads look in the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    return runInstaller(instance);
}
