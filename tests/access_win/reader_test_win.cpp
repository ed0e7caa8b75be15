// The window as a screen reader sees it: access-reader.exe, a second process, reaches the window
// of this test through MSAA (AccessibleObjectFromWindow, an out-of-context SetWinEventHook) while
// the test runs the window's messages.
#include "engine/messages.h"
#include "app/state.h"
#include "app/window_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

#include <oleacc.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t'))
        out.push_back(field);
    return out;
}

struct Child {
    long role = 0;
    unsigned long state = 0;
    std::string name, value, action;
    long x = 0, y = 0, w = 0, h = 0;
};

class ScreenReader : public ShownWindowTest {
protected:
    ScreenReader() : ShownWindowTest(L"leser") {}

    void TearDown() override
    {
        ShownWindowTest::TearDown();
        if (IsWindow(mainWindow))
            DestroyWindow(mainWindow);
        settle();
    }

    // Starts the reader with its output in a pipe; the window's messages run while it works.
    static HANDLE startReader(const std::wstring& arguments, HANDLE& output)
    {
        std::wstring commandLine = L"\"" + besideThisProgram(L"access-reader.exe") + L"\" " + arguments;
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE write = nullptr;
        CreatePipe(&output, &write, &inherit, 1 << 16);
        SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
        HANDLE process = startProgram(commandLine, write);
        CloseHandle(write);
        return process;
    }

    static std::vector<std::string> finishReader(HANDLE process, HANDLE output)
    {
        EXPECT_TRUE(pumpUntilSignalled(process, 30000)) << "the reader did not finish";
        DWORD code = 1;
        GetExitCodeProcess(process, &code);
        EXPECT_EQ(code, 0u) << "the reader failed";
        std::string all;
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(output, buffer, sizeof buffer, &got, nullptr) && got > 0)
            all.append(buffer, got);
        CloseHandle(output);
        CloseHandle(process);
        std::vector<std::string> lines;
        std::stringstream in(all);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') // the reader's standard output is in text mode
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    static std::vector<std::string> read(const std::wstring& arguments)
    {
        HANDLE output = nullptr;
        HANDLE process = startReader(arguments, output);
        EXPECT_NE(process, nullptr);
        if (process == nullptr)
            return {};
        return finishReader(process, output);
    }

    // The children by id, 0 the client area, from one dump.
    static std::map<long, Child> dump(long* focus = nullptr)
    {
        std::map<long, Child> children;
        for (const std::string& line : read(L"dump")) {
            std::vector<std::string> f = fields(line);
            if (f.size() == 2 && f[0] == "focus" && focus != nullptr)
                *focus = std::stol(f[1]);
            if (f.size() != 10)
                continue;
            Child c;
            c.role = std::stol(f[1]);
            c.state = std::stoul(f[2], nullptr, 16);
            c.name = f[3];
            c.value = f[4];
            c.action = f[5];
            c.x = std::stol(f[6]);
            c.y = std::stol(f[7]);
            c.w = std::stol(f[8]);
            c.h = std::stol(f[9]);
            children[std::stol(f[0])] = c;
        }
        return children;
    }
};

TEST_F(ScreenReader, NamesRolesStatesAndValuesInAllFourStates)
{
    struct Case {
        const char* state;
        const char* heading;
        const char* value;
        const char* status;
        const char* button;
        bool unavailable;
    } cases[] = {
        {"Ready", "BEREIT ZUR INSTALLATION", "0 %", "Bereit.", "INSTALLIEREN", false},
        {"Installing", "INSTALLIERE ...", "42 %", "Lade Teil 2 / 5", "INSTALLIEREN", true},
        {"Failed", "FEHLER", "42 %", "Pr\xC3\xBC" "fsumme von Teil 2 falsch", "NOCHMAL VERSUCHEN", false},
        {"Finished", "INSTALLATION ABGESCHLOSSEN", "100 %", "Installation abgeschlossen.", "ORVAN LAUNCHER STARTEN",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        if (std::string(c.state) == "Installing") {
            applyButtonClick(installerState); // the click's own change; no worker is needed here
            applyInstallLine(installerState, 0, L"Lade Teil 2 / 5");
            applyInstallProgress(installerState, 42);
        } else if (std::string(c.state) == "Failed") {
            applyInstallError(installerState, L"Pr\u00FCfsumme von Teil 2 falsch");
        } else if (std::string(c.state) == "Finished") {
            applyInstallDone(installerState, L"C:\\ORVAN Launcher\\ORVAN Launcher.exe");
        }
        showStateChange(mainWindow);
        long focus = 0;
        std::map<long, Child> children = dump(&focus);
        ASSERT_GE(children.size(), 5u) << "client area and four children at least";

        EXPECT_EQ(children[0].role, ROLE_SYSTEM_CLIENT);
        EXPECT_EQ(children[0].name, "ORVAN Launcher // Installation");
        EXPECT_EQ(children[1].role, ROLE_SYSTEM_STATICTEXT);
        EXPECT_EQ(children[1].name, c.heading);
        EXPECT_EQ(children[2].role, ROLE_SYSTEM_PROGRESSBAR);
        EXPECT_EQ(children[2].value, c.value);
        EXPECT_EQ(children[3].role, ROLE_SYSTEM_STATICTEXT);
        EXPECT_EQ(children[3].name, c.status);

        const Child& button = children[4];
        EXPECT_EQ(button.role, ROLE_SYSTEM_PUSHBUTTON);
        EXPECT_EQ(button.name, c.button);
        EXPECT_EQ((button.state & STATE_SYSTEM_UNAVAILABLE) != 0, c.unavailable);
        EXPECT_NE(button.state & STATE_SYSTEM_FOCUSABLE, 0u);
        EXPECT_NE(button.state & STATE_SYSTEM_FOCUSED, 0u) << "the window is active";
        EXPECT_EQ(button.action, "Dr\xC3\xBC" "cken");
        EXPECT_EQ(focus, 4);
        POINT corner = {410, 398};
        ClientToScreen(mainWindow, &corner);
        EXPECT_EQ(button.x, corner.x);
        EXPECT_EQ(button.y, corner.y);
        EXPECT_EQ(button.w, 200);
        EXPECT_EQ(button.h, 36);

        // The log lines the panel shows, oldest first, after the fixed children.
        std::size_t shown = installerState.logLines.size();
        ASSERT_EQ(children.size(), 5u + shown);
        if (shown > 0) {
            EXPECT_EQ(children[static_cast<long>(4 + shown)].role, ROLE_SYSTEM_STATICTEXT);
        }
    }
    EXPECT_EQ(dump().rbegin()->second.name, "FERTIG.");
}

TEST_F(ScreenReader, DefaultActionOnTheButtonStartsAnInstallation)
{
    std::vector<std::string> out = read(L"press");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "pressed\t0");
    ASSERT_TRUE(pumpUntil([&] { return starts() == 1; })) << "no attempt started";
    EXPECT_TRUE(installerState.busy);

    // While busy the button is unavailable: the press fails and leaves nothing queued that an
    // outcome arriving meanwhile would let act.
    out = read(L"press");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_NE(out[0], "pressed\t0");
    applyInstallError(installerState, L"kaputt");
    pumpFor(500);
    EXPECT_EQ(starts(), 1);
    EXPECT_FALSE(installerState.busy) << "no retry from a press made while installing";
}

TEST_F(ScreenReader, StatusAndOutcomeAreAnnouncedOnce)
{
    applyButtonClick(installerState);
    showStateChange(mainWindow);
    settle();
    HANDLE hooked = CreateEventW(nullptr, TRUE, FALSE, L"OrvanReaderHooked");
    HANDLE output = nullptr;
    HANDLE reader = startReader(L"listen 3000 OrvanReaderHooked", output);
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(pumpUntilSignalled(hooked, 10000));
    CloseHandle(hooked);

    postToWindow(WM_INSTALL_LINE, 0, L"Lade Teil 1 / 3");
    postToWindow(WM_INSTALL_PROGRESS, 50, nullptr);
    postToWindow(WM_INSTALL_LINE, 1, L"nur im Log");
    postToWindow(WM_INSTALL_DONE, 0, L"C:\\ORVAN Launcher\\ORVAN Launcher.exe");
    pumpFor(800); // a dozen timer ticks after the outcome

    // Activated again after another window had the focus, the window puts the focus on the button.
    HWND other = CreateWindowExW(0, L"STATIC", L"anderes", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(other);
    settle();
    SetForegroundWindow(mainWindow);
    settle();
    DestroyWindow(other);

    std::map<std::pair<unsigned long, long>, int> seen;
    for (const std::string& line : finishReader(reader, output)) {
        std::vector<std::string> f = fields(line);
        if (f.size() == 3 && f[0] == "event")
            ++seen[{std::stoul(f[1], nullptr, 16), std::stol(f[2])}];
    }
    EXPECT_EQ((seen[{EVENT_OBJECT_NAMECHANGE, 3}]), 2) << "Lade Teil 1 / 3, Installation abgeschlossen.";
    EXPECT_EQ((seen[{EVENT_OBJECT_LIVEREGIONCHANGED, 3}]), 2);
    EXPECT_EQ((seen[{EVENT_OBJECT_VALUECHANGE, 2}]), 2) << "50 %, 100 %";
    EXPECT_EQ((seen[{EVENT_OBJECT_NAMECHANGE, 1}]), 1) << "the heading, once";
    EXPECT_EQ((seen[{EVENT_OBJECT_NAMECHANGE, 4}]), 1) << "the button's new label, once";
    EXPECT_EQ((seen[{EVENT_OBJECT_STATECHANGE, 4}]), 1) << "the button available again, once";
    EXPECT_GE((seen[{EVENT_OBJECT_FOCUS, 4}]), 1) << "the button has the focus on activation";
}

TEST_F(ScreenReader, AClientHoldingTheObjectAfterTheWindowIsGoneGetsAnError)
{
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, L"OrvanReaderHeld");
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"OrvanReaderGo");
    HANDLE output = nullptr;
    HANDLE reader = startReader(L"hold OrvanReaderHeld OrvanReaderGo", output);
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(pumpUntilSignalled(held, 15000));
    DestroyWindow(mainWindow);
    SetEvent(go);
    std::vector<std::string> out = finishReader(reader, output);
    CloseHandle(held);
    CloseHandle(go);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], "name\tORVAN Launcher // Installation");
    std::vector<std::string> after = fields(out[1]);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(std::stoul(after[1], nullptr, 16)))) << out[1];
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(std::stoul(after[2], nullptr, 16)))) << out[1];
}

} // namespace
