#include "state.h"
#include "unattended_win.h"
#include "window_win.h"

#include <shellapi.h>

// The requested show state is ignored. Without arguments the window waits for the user's click;
// the switches of command_line.h install unattended.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // An installer runs from Downloads, where anyone may have dropped a DLL named like one that a
    // system library loads on demand; from here on such loads look in the system folder only.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args;
    for (int i = 1; argv != nullptr && i < count; ++i)
        args.emplace_back(argv[i]);
    LocalFree(argv);

    InstallerCall call;
    std::wstring problem;
    if (!parseInstallerArguments(args, call, problem))
        return reportBadCall(call, problem);
    if (!call.logFile.empty() && !openRunLog(call.logFile))
        return reportBadCall(call, L"Die Protokolldatei \"" + call.logFile + L"\" kann nicht geschrieben werden.");
    installerState.runMode = call.mode;
    return runInstaller(instance);
}
