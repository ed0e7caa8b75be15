#pragma once
// What a screen reader finds in the window: the elements of the picture as MSAA children, each
// with its role, name, value and states, derived from the installer state alone; and which
// changes between two such views are worth announcing. The COM object that hands them out is
// accessible_win.cpp.

#include "frame.h"
#include "state.h"

#include <cstdint>
#include <string>
#include <vector>

enum class AccessibleRole { StaticText, ProgressBar, PushButton };

struct AccessibleElement {
    AccessibleRole role = AccessibleRole::StaticText;
    std::wstring name;
    std::wstring value; // the progress bar's percentage; empty for the others
    bool unavailable = false;
    bool focusable = false;
    PixelRect location = {}; // client area, 96-DPI units
};

// Child ids, 1-based as MSAA counts them. The heading, the progress bar, the status line and the
// button keep theirs whatever the log holds, so that a reader's focus on the button stays on it;
// the visible log lines follow, oldest first.
constexpr long kChildHeading = 1;
constexpr long kChildProgress = 2;
constexpr long kChildStatus = 3;
constexpr long kChildButton = 4;
constexpr long kChildFirstLogLine = 5;

// Index i of the result is child id i + 1. width is the client width in 96-DPI units.
std::vector<AccessibleElement> accessibleElements(const InstallerState& state, std::int32_t width);

// The progress bar's value: "42 %".
std::wstring progressValue(std::int32_t progress);

enum class AccessibleEvent { NameChange, ValueChange, StateChange, LiveRegionChange, Reorder };

struct Announcement {
    AccessibleEvent event;
    long child; // 0: the client area itself
};

// The events that tell a reader what changed from one view to the next: nothing when only the
// animation moved, so an outcome is announced once, not with every timer tick.
std::vector<Announcement> announcements(const std::vector<AccessibleElement>& before,
                                        const std::vector<AccessibleElement>& after);
