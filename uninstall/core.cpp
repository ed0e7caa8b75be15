#include "uninstall/core.h"

#include <algorithm>
#include <cwctype>
#include <set>

namespace {

bool isSwitch(std::wstring_view arg, std::wstring_view name)
{
    return sameName(arg, name);
}

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

std::vector<std::wstring_view> segments(std::wstring_view path)
{
    std::vector<std::wstring_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || isSeparator(path[i])) {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

bool isDeviceName(std::wstring_view segment)
{
    // Windows maps these names to devices in any folder and with any extension.
    std::wstring stem = foldCase(segment.substr(0, segment.find(L'.')));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    static const std::set<std::wstring> devices = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    if (devices.count(stem))
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"com") == 0 || stem.compare(0, 3, L"lpt") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Strict UTF-8 to UTF-16 units (what the Windows side stores in a wchar_t string); false on any
// malformed, overlong or surrogate sequence.
bool decodeUtf8Strict(std::string_view bytes, std::wstring& out)
{
    out.clear();
    for (std::size_t i = 0; i < bytes.size();) {
        auto b = static_cast<unsigned char>(bytes[i]);
        char32_t c = 0;
        std::size_t length = 0;
        if (b < 0x80) {
            c = b;
            length = 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F;
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F;
            length = 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07;
            length = 4;
        } else {
            return false;
        }
        if (i + length > bytes.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            auto t = static_cast<unsigned char>(bytes[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (t & 0x3F);
        }
        if ((length == 3 && c < 0x800) || (length == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
            (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (c >= 0x10000) {
            out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(c);
        }
        i += length;
    }
    return true;
}

std::wstring normalizedSeparators(std::wstring_view path)
{
    std::wstring out(path);
    std::replace(out.begin(), out.end(), L'/', L'\\');
    return out;
}

std::wstring withReason(std::wstring_view path, std::wstring_view reason)
{
    return L"\"" + std::wstring(path) + L"\" " + std::wstring(reason);
}

} // namespace

bool parseCommandLine(const std::vector<std::wstring>& args, Call& call, std::wstring& problem)
{
    call = Call{};
    bool registerSeen = false, versionSeen = false, silentSeen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (i == 0 && isSwitch(arg, L"/abschluss")) {
            // Only the original writes this line, always whole.
            if (args.size() != 3 || args[1].empty() || args[2].empty() ||
                args[1].find_first_not_of(L"0123456789") != std::wstring::npos || args[1].size() > 19) {
                problem = L"\"/abschluss\" braucht die Kennung des Prozesses und den Installationsordner.";
                return false;
            }
            call.mode = Mode::finish;
            call.silent = true;
            call.waitHandle = std::stoull(args[1]);
            call.installFolder = args[2];
            return true;
        }
        bool* seen = nullptr;
        if (isSwitch(arg, L"/registrieren"))
            seen = &registerSeen;
        else if (isSwitch(arg, L"/version"))
            seen = &versionSeen;
        else if (isSwitch(arg, kSilentSwitch))
            seen = &silentSeen;
        if (!seen) {
            problem = L"Unbekannte Angabe \"" + arg + L"\".";
            return false;
        }
        if (*seen) {
            problem = L"\"" + arg + L"\" ist doppelt angegeben.";
            return false;
        }
        *seen = true;
        if (seen == &versionSeen) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                problem = L"Nach \"/version\" fehlt die Versionsnummer.";
                return false;
            }
            call.version = args[++i];
        }
    }
    if (registerSeen != versionSeen) {
        problem = registerSeen ? L"\"/registrieren\" braucht \"/version\" und die Versionsnummer."
                               : L"\"/version\" gilt nur zusammen mit \"/registrieren\".";
        return false;
    }
    call.mode = registerSeen ? Mode::registerApp : Mode::remove;
    // Registration runs inside an installation that nobody watches: it never shows a dialog.
    call.silent = silentSeen || registerSeen;
    return true;
}

std::wstring finishArguments(std::uint64_t waitHandle, std::wstring_view installFolder)
{
    // A folder path never holds a quotation mark; one ending in a backslash would escape the
    // closing quote for the C runtime's rules, so it never ends in one here.
    std::wstring folder(installFolder);
    while (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    return L"/abschluss " + std::to_wstring(waitHandle) + L" \"" + folder + L"\"";
}

std::wstring foldCase(std::wstring_view text)
{
    std::wstring out(text);
    for (wchar_t& c : out) {
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        else if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
            c = static_cast<wchar_t>(c + 0x20);
    }
    return out;
}

bool sameName(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && foldCase(a) == foldCase(b);
}

std::wstring parentFolder(std::wstring_view path)
{
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash));
}

std::wstring joinPath(std::wstring_view folder, std::wstring_view relative)
{
    std::wstring out(folder);
    if (!out.empty() && out.back() != L'\\')
        out += L'\\';
    return out + normalizedSeparators(relative);
}

std::wstring installFolderProblem(std::wstring_view folder)
{
    std::wstring_view name = folder.substr(folder.find_last_of(L"\\/") + 1);
    if (!sameName(name, kInstallFolderName))
        return text::wrongFolder(folder);
    return {};
}

std::wstring recordedPathProblem(std::wstring_view relative)
{
    if (relative.empty())
        return L"ist leer";
    if (isSeparator(relative.front()) || (relative.size() >= 2 && relative[1] == L':'))
        return L"ist kein Pfad im Installationsordner";
    for (std::wstring_view segment : segments(relative)) {
        if (segment == L"..")
            return L"f\u00fchrt aus dem Installationsordner hinaus";
        if (segment.empty() || segment == L".")
            return L"ist kein gew\u00f6hnlicher Pfad";
        for (wchar_t c : segment)
            if (c < 0x20 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos)
                return L"enth\u00e4lt ein Zeichen, das Windows in Dateinamen nicht zul\u00e4sst";
        if (segment.back() == L'.' || segment.back() == L' ')
            return L"endet auf einen Punkt oder ein Leerzeichen";
        if (isDeviceName(segment))
            return L"ist ein Ger\u00e4tename";
    }
    return {};
}

bool isInsideFolder(std::wstring_view path, std::wstring_view folder)
{
    std::wstring base(folder);
    while (!base.empty() && base.back() == L'\\')
        base.pop_back();
    if (base.empty() || path.size() <= base.size() + 1 || path[base.size()] != L'\\')
        return false;
    if (!sameName(path.substr(0, base.size()), base))
        return false;
    for (std::wstring_view segment : segments(path.substr(base.size() + 1)))
        if (segment.empty() || segment == L"." || segment == L"..")
            return false;
    return true;
}

bool parseRecord(std::string_view bytes, std::vector<RecordEntry>& entries)
{
    entries.clear();
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    if (bytes.find('\0') != std::string_view::npos)
        return false;
    std::wstring text;
    if (!decodeUtf8Strict(bytes, text))
        return false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        start = end + 1;
        if (line.empty())
            continue;
        RecordEntry entry;
        entry.path = normalizedSeparators(line);
        entry.problem = recordedPathProblem(line);
        entries.push_back(std::move(entry));
    }
    return true;
}

std::vector<std::wstring> mergeRecords(const std::vector<RecordEntry>& kept, const std::vector<RecordEntry>& delivered,
                                       std::vector<std::wstring>& refused)
{
    std::vector<std::wstring> merged;
    std::set<std::wstring> known;
    auto add = [&](const std::wstring& path) {
        if (known.insert(foldCase(path)).second)
            merged.push_back(path);
    };
    add(std::wstring(kLauncherName));
    add(std::wstring(kUninstallerName));
    for (const auto* list : {&kept, &delivered}) {
        for (const RecordEntry& entry : *list) {
            if (entry.problem.empty())
                add(entry.path);
            else
                refused.push_back(withReason(entry.path, entry.problem));
        }
    }
    return merged;
}

std::string recordText(const std::vector<std::wstring>& paths)
{
    std::string out;
    for (const std::wstring& path : paths) {
        for (std::size_t i = 0; i < path.size(); ++i) {
            char32_t c = static_cast<char32_t>(path[i]) & 0xFFFF;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size()) {
                char32_t low = static_cast<char32_t>(path[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            appendUtf8(out, c);
        }
        out += '\n';
    }
    return out;
}

RemovalPlan planRemoval(const std::vector<RecordEntry>& record)
{
    RemovalPlan plan;
    std::set<std::wstring> knownFiles, knownFolders;
    for (const RecordEntry& entry : record) {
        if (!entry.problem.empty()) {
            plan.refused.push_back(withReason(entry.path, entry.problem));
            continue;
        }
        if (sameName(entry.path, kUninstallerName) || sameName(entry.path, kRecordName))
            continue;
        if (!knownFiles.insert(foldCase(entry.path)).second)
            continue;
        plan.files.push_back(entry.path);
        for (std::wstring folder = parentFolder(entry.path); !folder.empty(); folder = parentFolder(folder))
            if (knownFolders.insert(foldCase(folder)).second)
                plan.folders.push_back(folder);
    }
    // Deepest first, so that a folder is tried after everything below it.
    std::stable_sort(plan.folders.begin(), plan.folders.end(), [](const std::wstring& a, const std::wstring& b) {
        return std::count(a.begin(), a.end(), L'\\') > std::count(b.begin(), b.end(), L'\\');
    });
    return plan;
}

std::wstring installDateText(int year, int month, int day)
{
    wchar_t buffer[16];
    std::swprintf(buffer, 16, L"%04d%02d%02d", year, month, day);
    return buffer;
}

std::uint32_t estimatedSizeKiB(std::uint64_t bytes)
{
    std::uint64_t kib = bytes / 1024 + (bytes % 1024 != 0 ? 1 : 0);
    return kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

std::wstring quotedPath(std::wstring_view path)
{
    return L"\"" + std::wstring(path) + L"\"";
}

namespace text {

std::wstring confirm(std::wstring_view installFolder)
{
    return L"Soll der ORVAN Launcher vollst\u00e4ndig entfernt werden?\n\nEntfernt werden die installierten Dateien in \"" +
           std::wstring(installFolder) +
           L"\", die Desktop-Verkn\u00fcpfung und der Eintrag in Einstellungen - Apps. Eigene Dateien im Ordner "
           L"(Einstellungen, Downloads, Spielst\u00e4nde) bleiben erhalten.";
}

std::wstring inUse(std::wstring_view fileName)
{
    return L"Die Datei \"" + std::wstring(fileName) +
           L"\" im Installationsordner ist in Gebrauch. Bitte den ORVAN Launcher schlie\u00dfen und nochmal "
           L"versuchen.\n\nEs wurde nichts entfernt.";
}

std::wstring badRecord(std::wstring_view recordPath)
{
    return L"Die Liste der installierten Dateien \"" + std::wstring(recordPath) +
           L"\" ist nicht lesbar. Damit keine fremden Dateien gel\u00f6scht werden, wurde nichts entfernt.";
}

std::wstring badCall(std::wstring_view reason)
{
    return std::wstring(reason) +
           L"\n\nAufruf: \"ORVAN Deinstallieren.exe\" ohne Angaben entfernt den ORVAN Launcher, mit \"/still\" ohne "
           L"R\u00fcckfragen; \"/registrieren /version VERSION\" tr\u00e4gt ihn in Windows ein.";
}

std::wstring wrongFolder(std::wstring_view folder)
{
    return L"Das Deinstallationsprogramm liegt nicht im Installationsordner des ORVAN Launchers, sondern in \"" +
           std::wstring(folder) + L"\". Es wurde nichts ge\u00e4ndert.";
}

std::wstring done(std::wstring_view installFolder, bool folderKept, const std::vector<std::wstring>& refused,
                  const std::vector<std::wstring>& failed)
{
    std::wstring out = failed.empty() ? L"Der ORVAN Launcher wurde entfernt."
                                      : L"Der ORVAN Launcher wurde nicht vollst\u00e4ndig entfernt.";
    if (folderKept)
        out += L"\n\nDer Ordner \"" + std::wstring(installFolder) + L"\" bleibt bestehen, weil noch Dateien darin liegen" +
               (failed.empty() ? L": solche, die nicht mit dem Launcher installiert wurden." : L".");
    auto list = [&out](std::wstring_view heading, const std::vector<std::wstring>& lines) {
        if (lines.empty())
            return;
        out += L"\n\n" + std::wstring(heading);
        std::size_t shown = std::min<std::size_t>(lines.size(), 10);
        for (std::size_t i = 0; i < shown; ++i)
            out += L"\n" + lines[i];
        if (lines.size() > shown)
            out += L"\nund " + std::to_wstring(lines.size() - shown) + L" weitere";
    };
    list(L"Nicht angefasst (ung\u00fcltige Eintr\u00e4ge in der Liste der installierten Dateien):", refused);
    list(L"Konnten nicht entfernt werden:", failed);
    return out;
}

} // namespace text
