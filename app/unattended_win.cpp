#include "unattended_win.h"

#include "engine/worker_win.h"
#include "state.h"

namespace {

HANDLE runLog = INVALID_HANDLE_VALUE;

} // namespace

bool openRunLog(const std::wstring& path)
{
    // Others may read it while the installation runs, as a log is watched.
    runLog = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return runLog != INVALID_HANDLE_VALUE;
}

void writeRunLog(std::wstring_view text)
{
    if (runLog == INVALID_HANDLE_VALUE)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring line = runLogLine({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}, text);
    int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), size, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(runLog, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void endUnattendedRun(HWND window, std::wstring_view detail)
{
    writeRunLog(outcomeText(installerState.exitCode, detail));
    if (installerState.runMode == RunMode::passive)
        SetTimer(window, kCloseTimerId, kPassiveCloseDelayMs, nullptr);
    else
        DestroyWindow(window);
}

int unattendedExitCode()
{
    // Closed before its end (the passive window's close box): the installation is not waited for.
    if (installerState.done || installerState.failed)
        waitForInstallWorkers();
    else
        writeRunLog(outcomeText(installerState.exitCode, L"das Fenster wurde geschlossen"));
    if (runLog != INVALID_HANDLE_VALUE)
        CloseHandle(runLog);
    runLog = INVALID_HANDLE_VALUE;
    return installerState.exitCode;
}

int reportBadCall(const InstallerCall& call, const std::wstring& problem)
{
    if (!call.logFile.empty() && openRunLog(call.logFile)) {
        writeRunLog(outcomeText(kInstallExitBadCall, problem));
        CloseHandle(runLog);
        runLog = INVALID_HANDLE_VALUE;
    }
    if (call.mode != RunMode::silent)
        MessageBoxW(nullptr, installerText::badCall(problem).c_str(), std::wstring(installerText::kTitle).c_str(),
                    MB_ICONERROR | MB_SETFOREGROUND);
    return kInstallExitBadCall;
}
