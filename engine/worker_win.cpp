#include "worker_win.h"

#include "protocol_win.h"

DWORD WINAPI installWorker(LPVOID)
{
    postInstallText(WM_INSTALL_ERROR, 0, L"PowerShell konnte nicht gestartet werden.");
    return 0;
}

void startInstallWorker()
{
    HANDLE thread = CreateThread(nullptr, 0, installWorker, nullptr, 0, nullptr);
    if (thread != nullptr)
        CloseHandle(thread);
}
