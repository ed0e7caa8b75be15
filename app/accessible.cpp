#include "accessible.h"

#include "layout.h"

namespace {

AccessibleElement element(AccessibleRole role, std::wstring name, PixelRect location)
{
    AccessibleElement e;
    e.role = role;
    e.name = std::move(name);
    e.location = location;
    return e;
}

const AccessibleElement* child(const std::vector<AccessibleElement>& view, long id)
{
    auto index = static_cast<std::size_t>(id - 1);
    return index < view.size() ? &view[index] : nullptr;
}

bool sameLog(const std::vector<AccessibleElement>& before, const std::vector<AccessibleElement>& after)
{
    if (before.size() != after.size())
        return false;
    for (std::size_t i = kChildFirstLogLine - 1; i < before.size(); ++i)
        if (before[i].name != after[i].name)
            return false;
    return true;
}

} // namespace

std::wstring progressValue(std::int32_t progress)
{
    return std::to_wstring(progress) + L" %";
}

std::vector<AccessibleElement> accessibleElements(const InstallerState& state, std::int32_t width)
{
    // The places of the picture: the heading's line left of the percentage, the bar, the status
    // line, the button in force and one line of the log panel each.
    std::vector<AccessibleElement> view;
    view.push_back(element(AccessibleRole::StaticText, headingText(state), headingRect(width)));

    AccessibleElement progress = element(AccessibleRole::ProgressBar, L"Fortschritt", progressBarRect(width));
    progress.value = progressValue(state.progress);
    view.push_back(std::move(progress));

    view.push_back(element(AccessibleRole::StaticText, state.statusText, statusRect(width)));

    AccessibleElement button = element(AccessibleRole::PushButton, buttonLabel(state), buttonRectInForce(state));
    button.unavailable = !buttonActs(state);
    button.focusable = true;
    view.push_back(std::move(button));

    std::size_t n = state.logLines.size();
    std::size_t first = n > kShownLogLines ? n - kShownLogLines : 0;
    for (std::size_t i = first; i < n; ++i) {
        PixelRect line = logLineRect(width, static_cast<std::int32_t>(i - first));
        view.push_back(element(AccessibleRole::StaticText, state.logLines[i], line));
    }
    return view;
}

std::vector<Announcement> announcements(const std::vector<AccessibleElement>& before,
                                        const std::vector<AccessibleElement>& after)
{
    std::vector<Announcement> events;
    auto changed = [&](long id, auto differs) {
        const AccessibleElement* was = child(before, id);
        const AccessibleElement* is = child(after, id);
        return is != nullptr && (was == nullptr || differs(*was, *is));
    };
    auto name = [](const AccessibleElement& a, const AccessibleElement& b) { return a.name != b.name; };

    if (changed(kChildHeading, name))
        events.push_back({AccessibleEvent::NameChange, kChildHeading});
    if (changed(kChildProgress, [](const auto& a, const auto& b) { return a.value != b.value; }))
        events.push_back({AccessibleEvent::ValueChange, kChildProgress});
    // The status line is a live region: the name change updates what a reader knows of it, the
    // live-region change makes the reader say it without the user going there.
    if (changed(kChildStatus, name)) {
        events.push_back({AccessibleEvent::NameChange, kChildStatus});
        events.push_back({AccessibleEvent::LiveRegionChange, kChildStatus});
    }
    if (changed(kChildButton, name))
        events.push_back({AccessibleEvent::NameChange, kChildButton});
    if (changed(kChildButton, [](const auto& a, const auto& b) { return a.unavailable != b.unavailable; }))
        events.push_back({AccessibleEvent::StateChange, kChildButton});
    if (!sameLog(before, after))
        events.push_back({AccessibleEvent::Reorder, 0});
    return events;
}
