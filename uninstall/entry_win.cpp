#include "uninstall/uninstall_win.h"

#include <shellapi.h>

UninstallRun uninstallRun;

int showMessage(const std::wstring& text, UINT flags)
{
    if (uninstallRun.call.silent)
        return IDOK;
    return MessageBoxW(nullptr, text.c_str(), std::wstring(text::kTitle).c_str(), flags | MB_SETFOREGROUND);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Settings starts this program from the install folder, where anyone with the user's rights
    // may have put a DLL named like one a system library loads on demand.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    // Without the arguments even the installer's silent registration would read as a removal.
    if (argv == nullptr)
        return kExitBadCall;
    std::vector<std::wstring> args;
    for (int i = 1; argv && i < count; ++i)
        args.emplace_back(argv[i]);
    LocalFree(argv);

    wchar_t program[32768];
    DWORD length = GetModuleFileNameW(nullptr, program, 32768);
    uninstallRun.programPath.assign(program, length);
    uninstallRun.installFolder = parentFolder(uninstallRun.programPath);

    std::wstring problem;
    if (!parseCommandLine(args, uninstallRun.call, problem)) {
        // Quiet when the call asked for quiet, even if the rest of it was wrong.
        for (const std::wstring& arg : args)
            if (sameName(arg, kSilentSwitch) || sameName(arg, L"/registrieren"))
                uninstallRun.call.silent = true;
        showMessage(text::badCall(problem), MB_ICONERROR);
        return kExitBadCall;
    }
    switch (uninstallRun.call.mode) {
    case Mode::registerApp:
        return registerApp();
    case Mode::finish:
        uninstallRun.installFolder = uninstallRun.call.installFolder;
        return finishRemoval();
    case Mode::remove:
        break;
    }
    return removeInstallation();
}
