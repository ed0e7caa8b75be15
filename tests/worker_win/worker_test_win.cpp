// The real installation worker against the PowerShell stand-in, put where Windows keeps
// PowerShell. Copies of it beside this program and in the current folder must never run.
#include "engine/messages.h"
#include "app/window_win.h"
#include "engine/protocol_win.h"
#include "engine/worker_win.h"
#include "install_script.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace {

class Worker : public ::testing::Test {
protected:
    void SetUp() override
    {
        static bool windowReady = false;
        if (!windowReady) {
            useRecordingWindow();
            windowReady = true;
        }
        installStandinAsSystemPowerShell();
        postedMessages().clear();
        temp = freshFolder(L"tmp mit Leerzeichen");
        useTempFolder(temp);
        record = freshFolder(L"record");
        record.pop_back(); // the stand-in appends "\name"
        for (const wchar_t* name : {L"ORVAN_STANDIN", L"ORVAN_STANDIN_STREAM", L"ORVAN_STANDIN_CHUNK",
                                    L"ORVAN_STANDIN_PAUSE", L"ORVAN_STANDIN_RELEASE"})
            setStandin(name, L"");
        setStandin(L"ORVAN_STANDIN_RECORD", record);
        release = CreateEventW(nullptr, TRUE, FALSE, L"OrvanStandinRelease");
    }

    void TearDown() override
    {
        SetEvent(release); // no stand-in may be left waiting
        CloseHandle(release);
    }

    void replay(const std::string& stream, int chunk = 0, int pauseMs = 0, bool waitForRelease = false)
    {
        writeWholeFile(temp + L"stream.bin", stream);
        setStandin(L"ORVAN_STANDIN", L"replay");
        setStandin(L"ORVAN_STANDIN_STREAM", temp + L"stream.bin");
        setStandin(L"ORVAN_STANDIN_CHUNK", chunk ? std::to_wstring(chunk) : L"");
        setStandin(L"ORVAN_STANDIN_PAUSE", pauseMs ? std::to_wstring(pauseMs) : L"");
        setStandin(L"ORVAN_STANDIN_RELEASE", waitForRelease ? L"OrvanStandinRelease" : L"");
    }

    // Runs one attempt to its end and returns what it posted.
    std::vector<Posted> runAttempt()
    {
        HANDLE worker = startWorkerThread();
        EXPECT_TRUE(pumpUntilSignalled(worker)) << "the worker did not finish";
        CloseHandle(worker);
        return postedMessages();
    }

    std::wstring temp;
    std::wstring record;
    HANDLE release = nullptr;
};

const std::vector<char> embeddedScript(reinterpret_cast<const char*>(kInstallScript),
                                       reinterpret_cast<const char*>(kInstallScript) + kInstallScriptSize);

void expectPosted(const std::vector<Posted>& got, const std::vector<Posted>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].message, want[i].message) << "message " << i;
        EXPECT_EQ(got[i].wParam, want[i].wParam) << "message " << i;
        EXPECT_EQ(got[i].text, want[i].text) << "message " << i;
    }
}

TEST_F(Worker, WritesTheEmbeddedScriptRunsPowerShellOnItAndDeletesIt)
{
    // The build puts the stand-in beside this program too; one more goes into the current folder.
    std::wstring beside = besideThisProgram(L"powershell.exe");
    ASSERT_TRUE(fileExists(beside));
    std::wstring current = freshFolder(L"aktueller ordner");
    ASSERT_TRUE(CopyFileW(beside.c_str(), (current + L"powershell.exe").c_str(), FALSE));
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(current.c_str());

    setStandin(L"ORVAN_STANDIN", L"record");
    std::vector<Posted> posted = runAttempt();
    SetCurrentDirectoryW(previous);

    std::vector<char> starts = readWholeFile(record + L"\\starts.txt");
    EXPECT_EQ(std::string(starts.begin(), starts.end()), "start " + utf8(systemPowerShell()) + "\n")
        << "only the system's PowerShell may run, never one planted beside the installer or in the current folder";

    std::wstring scriptPath = scriptPathIn(temp);
    ASSERT_NE(scriptPath.find(L' '), std::wstring::npos);
    std::vector<char> command = readWholeFile(record + L"\\command.txt");
    std::wstring commandLine(reinterpret_cast<const wchar_t*>(command.data()), command.size() / sizeof(wchar_t));
    EXPECT_EQ(commandLine, L"powershell -NoProfile -ExecutionPolicy Bypass -File \"" + scriptPath + L"\"");

    std::vector<char> script = readWholeFile(record + L"\\script.bin");
    EXPECT_EQ(script, embeddedScript) << "the script file must hold exactly the embedded bytes";
    ASSERT_GE(script.size(), 3u);
    EXPECT_FALSE(script[0] == '\xEF' && script[1] == '\xBB' && script[2] == '\xBF') << "no byte-order mark";
    EXPECT_EQ(std::count(script.begin(), script.end(), '\0'), 0);

    std::vector<char> guard = readWholeFile(record + L"\\guard.txt");
    EXPECT_EQ(std::string(guard.begin(), guard.end()), "write=0 rename=0 delete=0")
        << "while PowerShell runs nobody may change, replace or delete the script file";
    std::vector<char> folder = readWholeFile(record + L"\\folder.txt");
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(folder.data()), folder.size() / sizeof(wchar_t)) + L"\\",
              temp)
        << "PowerShell runs in the temporary folder, not in the installer's";

    EXPECT_FALSE(fileExists(scriptPath)) << "the script file is deleted after the child exits";
    expectPosted(posted, {{WM_INSTALL_DONE, 0, L"C:\\aufgezeichnet\\ORVAN Launcher.exe"}});
}

TEST_F(Worker, AScriptFileThatCannotBeReplacedEndsTheAttemptAndIsNeverRun)
{
    // Planted before the attempt, read-only: neither deleted nor overwritten, so never ours.
    std::wstring scriptPath = scriptPathIn(temp);
    writeWholeFile(scriptPath, "Write-Host '@DONE C:\\fremd.exe'\n");
    ASSERT_TRUE(SetFileAttributesW(scriptPath.c_str(), FILE_ATTRIBUTE_READONLY));
    setStandin(L"ORVAN_STANDIN", L"record");

    std::vector<Posted> posted = runAttempt();

    expectPosted(posted, {{WM_INSTALL_ERROR, 0,
                           L"Das Installationsskript konnte nicht in den tempor\u00E4ren Ordner geschrieben werden."}});
    EXPECT_FALSE(fileExists(record + L"\\starts.txt")) << "PowerShell must not run on a file this attempt did not write";
    std::vector<char> planted = readWholeFile(scriptPath);
    EXPECT_EQ(std::string(planted.begin(), planted.end()), "Write-Host '@DONE C:\\fremd.exe'\n");
    SetFileAttributesW(scriptPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(scriptPath.c_str());
}

TEST_F(Worker, PostsEveryLineInStreamOrderAndDropsTheUnterminatedLast)
{
    replay("@P 3\n@S Verbinde mit h\xC3\xB6st\r\nWarnung: x\n\n   \r\n@P 50\n@ERR Abbruch\n@S danach\n@DONE C:\\nie.exe",
           1, 1);
    expectPosted(runAttempt(), {{WM_INSTALL_PROGRESS, 3, L""},
                                {WM_INSTALL_LINE, 0, L"Verbinde mit h\u00F6st"},
                                {WM_INSTALL_LINE, 1, L"Warnung: x"},
                                {WM_INSTALL_PROGRESS, 50, L""},
                                {WM_INSTALL_ERROR, 0, L"Abbruch"},
                                {WM_INSTALL_LINE, 0, L"danach"}});
}

TEST_F(Worker, PostsEachLineAsItArrivesAndDoneBeforeTheChildExits)
{
    replay("@S eins\n@DONE C:\\x.exe\n@S halb", 0, 0, true);
    HANDLE worker = startWorkerThread();
    // The stand-in is still running, waiting to be released.
    ASSERT_TRUE(pumpUntil([] { return postedMessages().size() == 2; }));
    EXPECT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(fileExists(scriptPathIn(temp)));
    SetEvent(release);
    ASSERT_TRUE(pumpUntilSignalled(worker));
    CloseHandle(worker);
    expectPosted(postedMessages(), {{WM_INSTALL_LINE, 0, L"eins"}, {WM_INSTALL_DONE, 0, L"C:\\x.exe"}});
    EXPECT_FALSE(fileExists(scriptPathIn(temp)));
}

TEST_F(Worker, ChildWithoutOutcomeLineEndsTheAttemptWithAnError)
{
    setStandin(L"ORVAN_STANDIN", L"silent");
    expectPosted(runAttempt(), {{WM_INSTALL_LINE, 1, L"nur Text, kein Ergebnis"},
                                {WM_INSTALL_ERROR, 0, L"Die Installation wurde unerwartet beendet."}});
    EXPECT_FALSE(fileExists(scriptPathIn(temp)));
}

TEST_F(Worker, ReadsOnWhileAGrandchildHoldsThePipe)
{
    setStandin(L"ORVAN_STANDIN", L"grandchild");
    setStandin(L"ORVAN_STANDIN_RELEASE", L"OrvanStandinRelease");
    HANDLE worker = startWorkerThread();
    ASSERT_TRUE(pumpUntil([] { return postedMessages().size() == 1; }));
    // The child has exited; its child still holds the write end, so the worker keeps reading.
    pumpFor(500);
    EXPECT_EQ(WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(fileExists(scriptPathIn(temp)));
    SetEvent(release);
    ASSERT_TRUE(pumpUntilSignalled(worker));
    CloseHandle(worker);
    expectPosted(postedMessages(), {{WM_INSTALL_LINE, 0, L"Kind beendet"},
                                    {WM_INSTALL_LINE, 0, L"Enkel beendet"},
                                    {WM_INSTALL_DONE, 0, L"C:\\Enkel\\ORVAN Launcher.exe"}});
    EXPECT_FALSE(fileExists(scriptPathIn(temp)));
}

TEST_F(Worker, ScriptPathThatDoesNotFitIsAnErrorNotACutPath)
{
    std::wstring longTemp = L"C:\\" + std::wstring(240, L'a') + L"\\";
    useTempFolder(longTemp);
    setStandin(L"ORVAN_STANDIN", L"record");
    expectPosted(runAttempt(), {{WM_INSTALL_ERROR, 0, L"Der tempor\u00E4re Ordner ist nicht verf\u00FCgbar."}});
    EXPECT_FALSE(fileExists(record + L"\\starts.txt")) << "no PowerShell may be started on a cut path";
}

// The worker's fallback error depends on this: an outcome line whose post failed (the window is
// gone or its queue is full) must not count as reported.
TEST_F(Worker, DispatchReportsOnlyWhatTheWindowGot)
{
    HWND live = mainWindow;
    HWND gone = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);
    const std::pair<const char*, UINT> lines[] = {
        {"@P 5", WM_INSTALL_PROGRESS}, {"@S s", WM_INSTALL_LINE}, {"x", WM_INSTALL_LINE},
        {"@DONE C:\\x.exe", WM_INSTALL_DONE}, {"@ERR e", WM_INSTALL_ERROR}};
    for (const auto& [line, message] : lines) {
        mainWindow = live;
        EXPECT_EQ(dispatchScriptLine(line), message) << line;
        mainWindow = gone;
        EXPECT_EQ(dispatchScriptLine(line), 0u) << line << " to a window that is gone";
    }
    mainWindow = live;
    pumpFor(50);
    EXPECT_EQ(postedMessages().size(), std::size(lines));
}

TEST_F(Worker, RetryWaitsForThePreviousWorkerToFinishWithTheScriptFile)
{
    replay("@ERR eins\n", 0, 0, true);
    HANDLE first = startWorkerThread();
    ASSERT_TRUE(pumpUntil([] { return postedMessages().size() == 1; }));

    // The window is in Failed now and a retry starts while the first worker waits for its child.
    setStandin(L"ORVAN_STANDIN", L"record");
    HANDLE second = startWorkerThread();
    pumpFor(500);
    EXPECT_EQ(countLines(record + L"\\starts.txt"), 1) << "the retry must not run before the first has cleaned up";
    EXPECT_EQ(readWholeFile(scriptPathIn(temp)), embeddedScript);

    SetEvent(release);
    ASSERT_TRUE(pumpUntilSignalled(first));
    ASSERT_TRUE(pumpUntilSignalled(second));
    CloseHandle(first);
    CloseHandle(second);
    EXPECT_EQ(countLines(record + L"\\starts.txt"), 2);
    EXPECT_EQ(readWholeFile(record + L"\\script.bin"), embeddedScript) << "the retry ran a complete script";
    EXPECT_FALSE(fileExists(scriptPathIn(temp)));
    expectPosted(postedMessages(), {{WM_INSTALL_ERROR, 0, L"eins"},
                                    {WM_INSTALL_DONE, 0, L"C:\\aufgezeichnet\\ORVAN Launcher.exe"}});
}

} // namespace
