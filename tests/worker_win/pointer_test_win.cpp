// The button on the real window, clicked and hovered with xdotool on the test's X display. The
// PowerShell stand-in, put where Windows keeps PowerShell, starts, records its start and waits to be released,
// so an attempt stays in progress as long as a test needs.
#include "app/state.h"
#include "app/window_win.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Pointer : public ShownWindowTest {
protected:
    Pointer() : ShownWindowTest(L"zeiger") {}

    static std::string screen(int clientX, int clientY, bool isX)
    {
        POINT point = {clientX, clientY};
        ClientToScreen(mainWindow, &point);
        return std::to_string(isX ? point.x : point.y);
    }

    static void moveTo(int x, int y) { runXdotool({"mousemove", screen(x, y, true), screen(x, y, false)}); }

    static void clickAt(int x, int y)
    {
        moveTo(x, y);
        runXdotool({"click", "1"});
    }
};

TEST_F(Pointer, ClicksActOnlyInsideTheButton)
{
    const POINT misses[] = {{610, 416}, {500, 434}, {409, 416}, {500, 397}, {609, 434}};
    for (POINT miss : misses) {
        clickAt(miss.x, miss.y);
        settle();
        EXPECT_FALSE(installerState.busy) << "click at " << miss.x << "," << miss.y;
    }
    clickAt(410, 398);
    ASSERT_TRUE(pumpUntil([] { return installerState.busy; })) << "410,398 is on the button";
    EXPECT_EQ(installerState.statusText, L"Starte ...");
    ASSERT_TRUE(pumpUntil([&] { return countLines(record + L"\\starts.txt") == 1; }));
}

TEST_F(Pointer, HandCursorOnlyWhereAClickWouldAct)
{
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    moveTo(500, 416);
    EXPECT_TRUE(pumpUntil([&] { return GetCursor() == hand; }, 5000)) << "Ready: hand over the button";
    moveTo(300, 300);
    EXPECT_TRUE(pumpUntil([&] { return GetCursor() != hand; }, 5000)) << "arrow beside the button";

    clickAt(609, 433);
    ASSERT_TRUE(pumpUntil([] { return installerState.busy; }));
    moveTo(300, 300);
    settle();
    moveTo(500, 416);
    settle();
    EXPECT_NE(GetCursor(), hand) << "Installing: a click would do nothing, so no hand";
}

TEST_F(Pointer, DoubleClickStartsExactlyOneAttempt)
{
    moveTo(500, 416);
    runXdotool({"click", "--repeat", "2", "--delay", "40", "1"});
    ASSERT_TRUE(pumpUntil([&] { return countLines(record + L"\\starts.txt") >= 1; }));
    settle();
    pumpFor(700);
    EXPECT_EQ(countLines(record + L"\\starts.txt"), 1);
    EXPECT_TRUE(installerState.busy);
}

TEST_F(Pointer, RetryClearsTheLogAndResetsProgress)
{
    applyInstallLine(installerState, 0, L"Lade Teil 1 / 3");
    applyInstallProgress(installerState, 27);
    applyInstallError(installerState, L"Pruefsumme falsch: Teil 1");
    ASSERT_TRUE(installerState.failed);
    clickAt(500, 416);
    ASSERT_TRUE(pumpUntil([] { return installerState.busy; }));
    EXPECT_FALSE(installerState.failed);
    EXPECT_EQ(installerState.progress, 0);
    EXPECT_EQ(installerState.statusText, L"Starte ...");
    EXPECT_TRUE(installerState.logLines.empty());
}

bool fellBack = false;

void CALLBACK giveUp(HWND, UINT, UINT_PTR, DWORD)
{
    fellBack = true;
    PostQuitMessage(0);
}

TEST_F(Pointer, StartClickWithNoLauncherPathStillClosesTheInstaller)
{
    applyInstallDone(installerState, L"");
    SetTimer(nullptr, 0, 20000, giveUp); // so that a broken click cannot hang the test
    POINT point = {500, 416};
    ClientToScreen(mainWindow, &point);
    runXdotool({"mousemove", std::to_string(point.x), std::to_string(point.y), "click", "1"}, false);
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_FALSE(fellBack) << "the click did not end the message loop";
    EXPECT_EQ(countLines(record + L"\\starts.txt"), 0) << "the start button starts no installation";
}

} // namespace
