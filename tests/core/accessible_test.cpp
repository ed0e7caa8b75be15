#include "app/accessible.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

InstallerState readyState()
{
    InstallerState state;
    setButtonRects(state);
    return state;
}

bool has(const std::vector<Announcement>& events, AccessibleEvent event, long child)
{
    return std::any_of(events.begin(), events.end(),
                       [&](const Announcement& a) { return a.event == event && a.child == child; });
}

TEST(Accessible, ElementsInEveryState)
{
    struct Case {
        bool busy, done, failed;
        int progress;
        const wchar_t* heading;
        const wchar_t* value;
        const wchar_t* status;
        const wchar_t* button;
        bool unavailable;
    } cases[] = {
        {false, false, false, 0, L"BEREIT ZUR INSTALLATION", L"0 %", L"Bereit.", L"INSTALLIEREN", false},
        {true, false, false, 42, L"INSTALLIERE ...", L"42 %", L"Lade Teil 2 / 5", L"INSTALLIEREN", true},
        {false, false, true, 42, L"FEHLER", L"42 %", L"Pruefsumme falsch", L"NOCHMAL VERSUCHEN", false},
        {false, true, false, 100, L"INSTALLATION ABGESCHLOSSEN", L"100 %", L"Installation abgeschlossen.",
         L"ORVAN LAUNCHER STARTEN", false},
    };
    for (const Case& c : cases) {
        InstallerState state = readyState();
        state.busy = c.busy;
        state.done = c.done;
        state.failed = c.failed;
        state.progress = c.progress;
        state.statusText = c.status;
        std::vector<AccessibleElement> view = accessibleElements(state, 640);
        ASSERT_EQ(view.size(), 4u) << "no log lines yet";
        EXPECT_EQ(view[kChildHeading - 1].name, c.heading);
        EXPECT_EQ(view[kChildProgress - 1].role, AccessibleRole::ProgressBar);
        EXPECT_EQ(view[kChildProgress - 1].value, c.value);
        EXPECT_EQ(view[kChildStatus - 1].name, c.status);
        const AccessibleElement& button = view[kChildButton - 1];
        EXPECT_EQ(button.role, AccessibleRole::PushButton);
        EXPECT_EQ(button.name, c.button);
        EXPECT_EQ(button.unavailable, c.unavailable);
        EXPECT_TRUE(button.focusable);
        EXPECT_EQ(button.location.left, 410);
        EXPECT_EQ(button.location.bottom, 434);
    }
}

TEST(Accessible, OnlyTheVisibleLogLinesOldestFirst)
{
    InstallerState state = readyState();
    for (int i = 0; i < 9; ++i)
        pushLogLine(state, L"Zeile " + std::to_wstring(i));
    std::vector<AccessibleElement> view = accessibleElements(state, 640);
    ASSERT_EQ(view.size(), 4u + 7u);
    EXPECT_EQ(view[kChildFirstLogLine - 1].name, L"Zeile 2");
    EXPECT_EQ(view.back().name, L"Zeile 8");
    EXPECT_EQ(view[kChildFirstLogLine - 1].location.top, 228);
    EXPECT_EQ(view.back().location.top, 336);
}

TEST(Accessible, ProgressValueIsNotClamped)
{
    EXPECT_EQ(progressValue(-10), L"-10 %");
    EXPECT_EQ(progressValue(150), L"150 %");
}

TEST(Accessible, AnimationAloneAnnouncesNothing)
{
    InstallerState state = readyState();
    state.busy = true;
    std::vector<AccessibleElement> before = accessibleElements(state, 640);
    state.animTick += 1;
    EXPECT_TRUE(announcements(before, accessibleElements(state, 640)).empty());
}

TEST(Accessible, EachChangeHasItsEvents)
{
    InstallerState state = readyState();
    std::vector<AccessibleElement> ready = accessibleElements(state, 640);
    applyButtonClick(state);
    std::vector<AccessibleElement> started = accessibleElements(state, 640);
    std::vector<Announcement> events = announcements(ready, started);
    EXPECT_TRUE(has(events, AccessibleEvent::NameChange, kChildHeading));
    EXPECT_TRUE(has(events, AccessibleEvent::NameChange, kChildStatus)) << "Bereit. -> Starte ...";
    EXPECT_TRUE(has(events, AccessibleEvent::LiveRegionChange, kChildStatus));
    EXPECT_TRUE(has(events, AccessibleEvent::StateChange, kChildButton)) << "unavailable now";
    EXPECT_FALSE(has(events, AccessibleEvent::NameChange, kChildButton)) << "still INSTALLIEREN";
    EXPECT_FALSE(has(events, AccessibleEvent::ValueChange, kChildProgress)) << "0 % before and after";

    applyInstallProgress(state, 42);
    events = announcements(started, accessibleElements(state, 640));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(has(events, AccessibleEvent::ValueChange, kChildProgress));

    std::vector<AccessibleElement> before = accessibleElements(state, 640);
    applyInstallLine(state, 1, L"nur im Log");
    events = announcements(before, accessibleElements(state, 640));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(has(events, AccessibleEvent::Reorder, 0));

    before = accessibleElements(state, 640);
    applyInstallDone(state, L"C:\\ORVAN Launcher.exe");
    std::vector<AccessibleElement> done = accessibleElements(state, 640);
    events = announcements(before, done);
    EXPECT_TRUE(has(events, AccessibleEvent::NameChange, kChildStatus));
    EXPECT_TRUE(has(events, AccessibleEvent::LiveRegionChange, kChildStatus));
    EXPECT_TRUE(has(events, AccessibleEvent::NameChange, kChildButton));
    EXPECT_TRUE(has(events, AccessibleEvent::StateChange, kChildButton));
    EXPECT_TRUE(has(events, AccessibleEvent::ValueChange, kChildProgress));
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const Announcement& a) { return a.event == AccessibleEvent::LiveRegionChange; }),
              1);
    EXPECT_TRUE(announcements(done, accessibleElements(state, 640)).empty()) << "the outcome is told once";
}

TEST(Accessible, TheSameStatusAgainIsNotRetold)
{
    InstallerState state = readyState();
    state.busy = true;
    applyInstallLine(state, 0, L"Lade Teil 1 / 3");
    std::vector<AccessibleElement> before = accessibleElements(state, 640);
    state.statusText = L"Lade Teil 1 / 3";
    EXPECT_TRUE(announcements(before, accessibleElements(state, 640)).empty());
}

} // namespace
