// The real installer window, created in this process with the installer's own start-up code.
#include "engine/messages.h"
#include "app/state.h"
#include "app/window_win.h"
#include "installer_window_win.h"

#include <gtest/gtest.h>

namespace {

class InstallerWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        openInstallerWindow();
        ASSERT_NE(mainWindow, nullptr);
    }

    static void post(UINT message, WPARAM wParam, const wchar_t* text)
    {
        ASSERT_TRUE(postToWindow(message, wParam, text));
    }
};

TEST_F(InstallerWindow, ClassIsRegisteredAsTheInstallerNeedsIt)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"OrvanInstaller", &windowClass));
    EXPECT_EQ(windowClass.style, 0u);
    EXPECT_EQ(windowClass.lpfnWndProc, windowProc);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.hbrBackground, nullptr);
    EXPECT_EQ(windowClass.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.hIcon, LoadIconW(nullptr, IDI_APPLICATION));
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);
}

TEST_F(InstallerWindow, FixedSizeWithTitleCloseAndMinimiseBoxes)
{
    wchar_t title[64] = {};
    GetWindowTextW(mainWindow, title, 64);
    EXPECT_STREQ(title, L"ORVAN Launcher // Installation");

    LONG style = GetWindowLongW(mainWindow, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_EQ(GetParent(mainWindow), nullptr);
    EXPECT_EQ(GetMenu(mainWindow), nullptr);

    RECT client;
    GetClientRect(mainWindow, &client);
    EXPECT_EQ(client.right - client.left, 640);
    EXPECT_EQ(client.bottom - client.top, 460);
}

TEST_F(InstallerWindow, CentredByTheClientSizeOnA1920x1080Screen)
{
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920) << "the test display must be 1920 x 1080";
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
    RECT outer;
    GetWindowRect(mainWindow, &outer);
    EXPECT_EQ(outer.left, 640);
    EXPECT_EQ(outer.top, 310);
    RECT adjusted = {0, 0, 640, 460};
    AdjustWindowRect(&adjusted, kWindowStyle, FALSE);
    EXPECT_EQ(outer.right - outer.left, adjusted.right - adjusted.left);
    EXPECT_EQ(outer.bottom - outer.top, adjusted.bottom - adjusted.top);
}

TEST_F(InstallerWindow, CreationSetsBothButtonRectangles)
{
    for (const ButtonRect* rect : {&installerState.actionButtonRect, &installerState.launchButtonRect}) {
        EXPECT_EQ(rect->left, 410);
        EXPECT_EQ(rect->top, 398);
        EXPECT_EQ(rect->right, 610);
        EXPECT_EQ(rect->bottom, 434);
    }
}

TEST_F(InstallerWindow, TimerAdvancesTheAnimationAbout16TimesASecond)
{
    std::int32_t before = installerState.animTick;
    pumpFor(400);
    std::int32_t ticks = installerState.animTick - before;
    // A 60 ms timer gives about 6 ticks in 400 ms; bounds are wide, only its presence and
    // rough period are asserted.
    EXPECT_GE(ticks, 3);
    EXPECT_LE(ticks, 8);
}

TEST_F(InstallerWindow, InstallMessagesChangeTheStateInQueueOrder)
{
    installerState.busy = true;
    post(WM_INSTALL_PROGRESS, static_cast<WPARAM>(static_cast<INT_PTR>(-10)), nullptr);
    post(WM_INSTALL_LINE, 0, L"Verbinde mit h\u00F6st");
    post(WM_INSTALL_LINE, 1, L"nur im Log");
    post(WM_INSTALL_ERROR, 0, L"Pr\u00FCfsumme falsch");
    pumpFor(100);
    EXPECT_FALSE(installerState.busy);
    EXPECT_TRUE(installerState.failed);
    EXPECT_EQ(installerState.progress, -10);
    EXPECT_EQ(installerState.statusText, L"Pr\u00FCfsumme falsch");
    ASSERT_GE(installerState.logLines.size(), 3u);
    auto newest = installerState.logLines.end();
    EXPECT_EQ(*(newest - 3), L"Verbinde mit h\u00F6st");
    EXPECT_EQ(*(newest - 2), L"nur im Log");
    EXPECT_EQ(*(newest - 1), L"FEHLER: Pr\u00FCfsumme falsch");

    post(WM_INSTALL_DONE, 0, L"C:\\Users\\J\u00FCrgen\\ORVAN Launcher\\ORVAN Launcher.exe");
    pumpFor(100);
    EXPECT_TRUE(installerState.done);
    EXPECT_EQ(installerState.progress, 100);
    EXPECT_EQ(installerState.launcherPath, L"C:\\Users\\J\u00FCrgen\\ORVAN Launcher\\ORVAN Launcher.exe");
    EXPECT_EQ(installerState.logLines.back(), L"FERTIG.");
}

TEST_F(InstallerWindow, ZzClosingEndsTheMessageLoopWithExitCodeZero)
{
    // Runs last: the window is gone afterwards.
    PostMessageW(mainWindow, WM_CLOSE, 0, 0);
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_FALSE(IsWindow(mainWindow));
}

} // namespace
