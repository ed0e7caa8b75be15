#include "app/state.h"

#include <gtest/gtest.h>

namespace {

TEST(LogLines, KeepsTheNewest200)
{
    InstallerState state;
    for (int i = 0; i < 201; ++i)
        pushLogLine(state, std::to_wstring(i));
    ASSERT_EQ(state.logLines.size(), kMaxLogLines);
    EXPECT_EQ(state.logLines.front(), L"1");
    EXPECT_EQ(state.logLines.back(), L"200");
}

TEST(InstallLine, StatusLineSetsStatusAndLogsLogOnlyLineOnlyLogs)
{
    InstallerState state;
    applyInstallLine(state, 0, L"Lade Teil 1 / 3");
    EXPECT_EQ(state.statusText, L"Lade Teil 1 / 3");
    applyInstallLine(state, 1, L"Warnung");
    EXPECT_EQ(state.statusText, L"Lade Teil 1 / 3");
    ASSERT_EQ(state.logLines.size(), 2u);
    EXPECT_EQ(state.logLines[0], L"Lade Teil 1 / 3");
    EXPECT_EQ(state.logLines[1], L"Warnung");
    applyInstallLine(state, 0, L""); // an empty text is a valid line
    EXPECT_EQ(state.statusText, L"");
    EXPECT_EQ(state.logLines.size(), 3u);
}

TEST(InstallProgress, StoresTheLow32BitsSignedAndUnclamped)
{
    InstallerState state;
    applyInstallProgress(state, 150);
    EXPECT_EQ(state.progress, 150);
    applyInstallProgress(state, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(-10)));
    EXPECT_EQ(state.progress, -10);
    applyInstallProgress(state, (std::uintptr_t{1} << 32) + 7); // upper half of a 64-bit wParam ignored
    EXPECT_EQ(state.progress, 7);
}

TEST(InstallError, ShowsMessageBareAndLogsItWithPrefixKeepingProgress)
{
    InstallerState state;
    state.busy = true;
    applyInstallProgress(state, 49);
    applyInstallError(state, L"Pruefsumme falsch: Teil 2");
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(state.failed);
    EXPECT_FALSE(state.done);
    EXPECT_EQ(state.progress, 49);
    EXPECT_EQ(state.statusText, L"Pruefsumme falsch: Teil 2");
    EXPECT_EQ(state.logLines.back(), L"FEHLER: Pruefsumme falsch: Teil 2");
}

TEST(InstallDone, FinishesWithFullProgressAndLeavesFailedAlone)
{
    InstallerState state;
    state.busy = true;
    state.failed = true; // done does not clear it; only a new attempt does
    applyInstallProgress(state, 70);
    applyInstallDone(state, L"C:\\Users\\J\u00FCrgen\\ORVAN Launcher\\ORVAN Launcher.exe");
    EXPECT_FALSE(state.busy);
    EXPECT_TRUE(state.done);
    EXPECT_TRUE(state.failed);
    EXPECT_EQ(state.progress, 100);
    EXPECT_EQ(state.launcherPath, L"C:\\Users\\J\u00FCrgen\\ORVAN Launcher\\ORVAN Launcher.exe");
    EXPECT_EQ(state.statusText, L"Installation abgeschlossen.");
    EXPECT_EQ(state.logLines.back(), L"FERTIG.");
}

TEST(TimerTick, WrapsAtThe32BitLimit)
{
    InstallerState state;
    applyTimerTick(state);
    EXPECT_EQ(state.animTick, 1);
    state.animTick = INT32_MAX;
    applyTimerTick(state);
    EXPECT_EQ(state.animTick, INT32_MIN);
}

TEST(ButtonClick, StartsFromReadyAndFailedIgnoresWhileBusyLaunchesWhenDone)
{
    InstallerState state;
    setButtonRects(state);
    EXPECT_EQ(state.actionButtonRect.left, 410);
    EXPECT_EQ(state.launchButtonRect.bottom, 434);

    EXPECT_EQ(applyButtonClick(state), ClickAction::StartAttempt);
    EXPECT_TRUE(state.busy);
    EXPECT_EQ(state.statusText, L"Starte ...");
    EXPECT_TRUE(state.logLines.empty()); // "Starte ..." is not logged
    EXPECT_EQ(applyButtonClick(state), ClickAction::None); // the second click of a double click

    applyInstallLine(state, 0, L"Verbinde");
    applyInstallProgress(state, 3);
    applyInstallError(state, L"kaputt");
    EXPECT_EQ(applyButtonClick(state), ClickAction::StartAttempt); // retry
    EXPECT_FALSE(state.failed);
    EXPECT_EQ(state.progress, 0);
    EXPECT_TRUE(state.logLines.empty());

    applyInstallDone(state, L"");
    EXPECT_EQ(&buttonRectInForce(state), &state.launchButtonRect);
    EXPECT_EQ(applyButtonClick(state), ClickAction::OpenLauncherAndQuit);
    EXPECT_EQ(applyButtonClick(state), ClickAction::None) << "a press queued behind it opens no second launcher";
}

} // namespace

namespace {

TEST(Keys, EnterAndSpacePressTheButtonOncePerStroke)
{
    EXPECT_TRUE(keyPressesButton(0x0D, false));
    EXPECT_TRUE(keyPressesButton(0x20, false));
    EXPECT_FALSE(keyPressesButton(0x0D, true)) << "auto-repeat of a held key";
    for (unsigned other : {0x09u, 0x1Bu, 0x41u, 0x25u, 0x70u})
        EXPECT_FALSE(keyPressesButton(other, false)) << other;
}

TEST(Keys, FocusKeysShowTheFocus)
{
    for (unsigned key : {0x09u, 0x0Du, 0x20u, 0x25u, 0x26u, 0x27u, 0x28u})
        EXPECT_TRUE(keyShowsFocus(key)) << key;
    for (unsigned key : {0x1Bu, 0x41u, 0x10u, 0x24u, 0x29u})
        EXPECT_FALSE(keyShowsFocus(key)) << key;
}

TEST(Keys, ThePressActsWhereAClickWould)
{
    InstallerState state;
    EXPECT_TRUE(buttonActs(state));
    state.busy = true;
    EXPECT_FALSE(buttonActs(state));
    state.busy = false;
    state.failed = true;
    EXPECT_TRUE(buttonActs(state));
    state.failed = false;
    state.done = true;
    EXPECT_TRUE(buttonActs(state));
}

} // namespace

namespace {

// An unattended run ends with the code of its outcome, and nobody's press counts in it.
TEST(UnattendedRun, OutcomeSetsTheExitCodeAndTheButtonNeverActs)
{
    InstallerState state;
    state.runMode = RunMode::passive;
    EXPECT_EQ(state.exitCode, kInstallExitOtherFailure) << "a run that ends without an outcome failed";
    EXPECT_FALSE(buttonActs(state));
    ASSERT_EQ(applyButtonClick(state), ClickAction::StartAttempt) << "the run starts its attempt itself";
    applyInstallError(state, L"Keine Verbindung", FailureClass::network);
    EXPECT_EQ(state.exitCode, kInstallExitNoConnection);
    EXPECT_EQ(state.statusText, L"Keine Verbindung");
    EXPECT_FALSE(buttonActs(state));
    applyInstallDone(state, L"C:\\x.exe");
    EXPECT_EQ(state.exitCode, kInstallExitInstalled);
    EXPECT_FALSE(buttonActs(state));
    state.runMode = RunMode::window;
    EXPECT_TRUE(buttonActs(state));
}

} // namespace
