#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::wstring>;

TEST(InstallerCommandLine, ModesLogFileAndBadCalls)
{
    struct Case {
        Args args;
        bool good;
        RunMode mode;
        std::wstring logFile;
        std::wstring problem; // the start of the reason
    };
    const Case cases[] = {
        {{}, true, RunMode::window, L"", L""},
        {{L"/still"}, true, RunMode::silent, L"", L""},
        {{L"-STILL"}, true, RunMode::silent, L"", L""},
        {{L"/Passiv"}, true, RunMode::passive, L"", L""},
        {{L"/protokoll", L"C:\\a b\\log.txt", L"/still"}, true, RunMode::silent, L"C:\\a b\\log.txt", L""},
        {{L"-passiv", L"-Protokoll", L"x.log"}, true, RunMode::passive, L"x.log", L""},
        {{L"/unbekannt"}, false, RunMode::window, L"", L"Unbekannte Angabe \"/unbekannt\"."},
        {{L"still"}, false, RunMode::window, L"", L"Unbekannte Angabe \"still\"."},
        {{L"/"}, false, RunMode::window, L"", L"Unbekannte Angabe \"/\"."},
        // A fault before the silent switch still leaves the call silent, with its log.
        {{L"/x", L"/still", L"/protokoll", L"l.txt"}, false, RunMode::silent, L"l.txt", L"Unbekannte Angabe \"/x\"."},
        {{L"/still", L"/protokoll"}, false, RunMode::silent, L"", L"Nach \"/protokoll\" fehlt"},
        {{L"/still", L"/protokoll", L""}, false, RunMode::silent, L"", L"Nach \"/protokoll\" fehlt"},
        {{L"/protokoll", L"/still"}, false, RunMode::silent, L"", L"Nach \"/protokoll\" fehlt"},
        {{L"/still", L"/STILL"}, false, RunMode::silent, L"", L"\"/STILL\" ist doppelt angegeben."},
        {{L"/still", L"/passiv"}, false, RunMode::silent, L"", L"\"/still\" und \"/passiv\""},
        {{L"/protokoll", L"l.txt"}, false, RunMode::window, L"l.txt", L"\"/protokoll\" gilt nur zusammen"},
    };
    for (const Case& c : cases) {
        InstallerCall call;
        std::wstring problem;
        std::wstring shown;
        for (const std::wstring& arg : c.args)
            shown += arg + L" ";
        SCOPED_TRACE(std::string(shown.begin(), shown.end()));
        EXPECT_EQ(parseInstallerArguments(c.args, call, problem), c.good);
        EXPECT_EQ(call.mode, c.mode);
        EXPECT_EQ(call.logFile, c.logFile);
        EXPECT_EQ(problem.substr(0, c.problem.size()), c.problem);
        EXPECT_EQ(problem.empty(), c.good);
    }
}

TEST(InstallerCommandLine, EveryFailureClassHasItsOwnExitCode)
{
    const std::pair<FailureClass, int> expected[] = {
        {FailureClass::other, 1},   {FailureClass::network, 3}, {FailureClass::inUse, 4},
        {FailureClass::diskFull, 5}, {FailureClass::check, 6},  {FailureClass::running, 7},
    };
    for (const auto& [failure, code] : expected)
        EXPECT_EQ(exitCodeFor(failure), code) << static_cast<int>(failure);
    EXPECT_EQ(kInstallExitBadCall, 2);
    EXPECT_EQ(kInstallExitInstalled, 0);
}

TEST(InstallerCommandLine, RunLogLinesAndTheOutcome)
{
    EXPECT_EQ(runLogLine({2026, 12, 9, 8, 5, 1}, L"Lade Teil 1 / 3"), L"2026-12-09 08:05:01 Lade Teil 1 / 3\r\n");
    EXPECT_EQ(outcomeText(0, L"C:\\x\\ORVAN Launcher.exe"), L"ERGEBNIS 0: installiert - C:\\x\\ORVAN Launcher.exe");
    EXPECT_EQ(outcomeText(3, L"Keine Verbindung"), L"ERGEBNIS 3: keine Verbindung zum Server - Keine Verbindung");
    EXPECT_EQ(outcomeText(1, L""), L"ERGEBNIS 1: Fehler");
    for (const wchar_t* name : {L"\"/still\"", L"\"/passiv\"", L"\"/protokoll DATEI\""})
        EXPECT_NE(installerText::badCall(L"x").find(name), std::wstring::npos) << name;
}

} // namespace
