#include "package/paths.h"

#include "package/case.h"
#include "package/names.h"

#include <cstring>

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string_view withoutTrailingBlanks(std::string_view text)
{
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

// Windows drops trailing blanks and reads a run of dots as "..".
bool climbsOut(std::string_view segment)
{
    std::string_view trimmed = withoutTrailingBlanks(segment);
    return trimmed.size() >= 2 && trimmed.find_first_not_of('.') == std::string_view::npos;
}

// Calls visit with each "/"-separated segment until it returns true; true when one did.
template <typename Visit> bool anySegment(std::string_view path, Visit visit)
{
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (visit(path.substr(start, end - start)))
            return true;
        start = end + 1;
    }
    return false;
}

// The UTF-16 units a UTF-8 text takes on Windows; an invalid text counts one per byte.
std::size_t utf16Length(std::string_view utf8)
{
    std::size_t units = 0;
    for (char c : utf8) {
        auto u = static_cast<unsigned char>(c);
        if ((u & 0xC0) != 0x80)
            units += u >= 0xF0 ? 2 : 1;
    }
    return units;
}

NameCheck nameFault(NameFault fault)
{
    NameCheck check;
    check.fault = fault;
    return check;
}

PathCheck pathFault(PathFault fault)
{
    PathCheck check;
    check.fault = fault;
    return check;
}

} // namespace

std::size_t forbiddenCharacterAt(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i)
        if (static_cast<unsigned char>(text[i]) < 0x20 || std::strchr("<>:\"/\\|?*", text[i]) != nullptr)
            return i;
    return std::string_view::npos;
}

bool isDeviceName(std::string_view name)
{
    std::string_view stem = withoutTrailingBlanks(name.substr(0, name.find('.')));
    for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalsIgnoringAsciiCase(stem, device))
            return true;
    std::string_view port = stem.substr(0, 3);
    if (stem.size() < 4 || !(equalsIgnoringAsciiCase(port, "COM") || equalsIgnoringAsciiCase(port, "LPT")))
        return false;
    std::string_view digit = stem.substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
           digit == "\xC2\xB3";
}

NameCheck checkWindowsName(std::string_view name)
{
    if (name.empty())
        return nameFault(NameFault::empty);
    if (name == "." || name == "..")
        return nameFault(NameFault::dots);
    std::size_t bad = forbiddenCharacterAt(name);
    if (bad != std::string_view::npos) {
        NameCheck check = nameFault(NameFault::character);
        check.character = name[bad];
        return check;
    }
    if (name.back() == '.' || name.back() == ' ')
        return nameFault(NameFault::trailingDotOrBlank);
    if (isDeviceName(name))
        return nameFault(NameFault::device);
    return {};
}

PathCheck checkPayloadPath(std::string_view relative)
{
    if (relative.empty())
        return pathFault(PathFault::empty);
    if (relative.find('\\') != std::string_view::npos)
        return pathFault(PathFault::backslash);
    if (relative.front() == '/')
        return pathFault(PathFault::absolute);
    if (relative.size() >= 2 && relative[1] == ':' && isAsciiLetter(relative[0]))
        return pathFault(PathFault::drive);
    if (anySegment(relative, [](std::string_view segment) { return climbsOut(segment); }))
        return pathFault(PathFault::climbsOut);
    PathCheck check;
    anySegment(relative, [&](std::string_view segment) {
        check.name = checkWindowsName(segment);
        if (check.name.fault == NameFault::none)
            return false;
        check.fault = PathFault::segment;
        check.segment = segment;
        return true;
    });
    return check;
}

PathLengths payloadPathLengths(std::string_view relative)
{
    std::size_t installFolder = kAssumedProfileLength + 1 + kInstallFolderName.size();
    std::size_t slash = relative.rfind('/');
    PathLengths lengths;
    lengths.file = installFolder + 1 + utf16Length(relative);
    lengths.folder = slash == std::string_view::npos ? installFolder : installFolder + 1 + utf16Length(relative.substr(0, slash));
    return lengths;
}

bool fitsWithoutLongPaths(const PathLengths& lengths)
{
    return lengths.file <= kMaxWindowsPath && lengths.folder <= kMaxWindowsFolderPath;
}

bool isReservedPayloadPath(std::string_view relative)
{
    // Also as a folder: a folder of either name in the install folder would take the place the
    // uninstaller writes its record to or reads the list from, and fail every registration.
    const std::string list = windowsFoldedName(kFileListName);
    const std::string record = windowsFoldedName(kRecordName);
    return anySegment(relative, [&](std::string_view segment) {
        std::string folded = windowsFoldedName(segment);
        return folded == list || folded == record;
    });
}
