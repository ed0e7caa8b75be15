// The button from the keyboard on the real window: keys typed with xdotool on the test's X
// display. The PowerShell stand-in at the system's PowerShell path records each start and waits
// to be released, so an attempt stays in progress as long as a test needs.
#include "app/frame.h"
#include "app/state.h"
#include "app/window_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Keyboard : public ShownWindowTest {
protected:
    Keyboard() : ShownWindowTest(L"tasten") {}

    static void type(const char* key)
    {
        runXdotool({"key", key});
        settle();
    }

    // The ring two pixels outside the button, as the window shows it.
    static bool focusFrameShown()
    {
        HDC dc = GetDC(mainWindow);
        COLORREF left = GetPixel(dc, 407, 416);
        COLORREF top = GetPixel(dc, 500, 395);
        ReleaseDC(mainWindow, dc);
        return left == kColorFocusFrame && top == kColorFocusFrame;
    }
};

TEST_F(Keyboard, EnterAndSpaceActOnlyWhereAClickWould)
{
    ASSERT_EQ(GetActiveWindow(), mainWindow);
    EXPECT_FALSE(installerState.focusFrame) << "no keyboard used yet: the picture is the mouse user's";
    EXPECT_FALSE(focusFrameShown());

    type("space"); // Ready
    ASSERT_TRUE(pumpUntil([&] { return starts() == 1; })) << "Space in Ready starts an attempt";
    EXPECT_TRUE(installerState.busy);
    EXPECT_EQ(installerState.statusText, L"Starte ...");
    EXPECT_TRUE(installerState.focusFrame) << "after a key the button shows where the focus is";
    EXPECT_TRUE(focusFrameShown());

    type("Return"); // Installing
    type("space");
    pumpFor(700);
    EXPECT_EQ(starts(), 1) << "keys while installing do nothing";
    EXPECT_TRUE(installerState.busy);

    SetEvent(release); // the stand-in ends without an outcome: Failed
    ASSERT_TRUE(pumpUntil([] { return installerState.failed; }));
    ResetEvent(release);
    type("Return");
    ASSERT_TRUE(pumpUntil([&] { return starts() == 2; })) << "Enter in Failed retries";
    EXPECT_TRUE(installerState.busy);
}

TEST_F(Keyboard, OtherKeysPressNothing)
{
    type("a");
    type("Escape");
    type("Tab");
    pumpFor(500);
    EXPECT_EQ(starts(), 0);
    EXPECT_FALSE(installerState.busy);
    EXPECT_TRUE(installerState.focusFrame) << "Tab moves the focus, so it shows";
}

bool fellBack = false;

void CALLBACK giveUp(HWND, UINT, UINT_PTR, DWORD)
{
    fellBack = true;
    PostQuitMessage(0);
}

TEST_F(Keyboard, EnterInFinishedStartsTheLauncherAndCloses)
{
    // The launcher is a copy of the stand-in, which records where it was started from.
    std::wstring launcher = record + L"\\ORVAN Launcher.exe";
    ASSERT_TRUE(CopyFileW(systemPowerShell().c_str(), launcher.c_str(), FALSE));
    applyInstallDone(installerState, launcher);
    showStateChange(mainWindow);
    settle();
    SetTimer(nullptr, 0, 20000, giveUp); // so that a broken key cannot hang the test
    runXdotool({"key", "Return"}, false);
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_FALSE(fellBack) << "Enter did not end the message loop";
    ASSERT_TRUE(pumpUntil([&] { return starts() == 1; }, 10000)) << "the launcher did not start";
    std::vector<char> bytes = readWholeFile(record + L"\\starts.txt");
    std::string line(bytes.begin(), bytes.end());
    EXPECT_NE(line.find("ORVAN Launcher.exe"), std::string::npos) << line;
}

} // namespace
