#include "uninstall/core.h"

#include "package/case.h"
#include "package/path_list.h"
#include "package/paths.h"
#include "package/utf8.h"

#include <algorithm>
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

// The reason, in the words of the closing message, why a recorded path is not touched.
std::wstring pathProblemText(const PathCheck& check)
{
    switch (check.fault) {
    case PathFault::none:
        return {};
    case PathFault::empty:
        return L"ist leer";
    case PathFault::climbsOut:
        return L"f\u00fchrt aus dem Installationsordner hinaus";
    case PathFault::segment:
        break;
    default:
        return L"ist kein Pfad im Installationsordner";
    }
    switch (check.name.fault) {
    case NameFault::character:
        return L"enth\u00e4lt ein Zeichen, das Windows in Dateinamen nicht zul\u00e4sst";
    case NameFault::trailingDotOrBlank:
        return L"endet auf einen Punkt oder ein Leerzeichen";
    case NameFault::device:
        return L"ist ein Ger\u00e4tename";
    default:
        return L"ist kein gew\u00f6hnlicher Pfad";
    }
}

// A path of the record, "/"-separated as the rules take it.
std::string listPath(std::wstring_view path)
{
    std::string out = encodeUtf8(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
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
            bool report = args.size() == 4 && isSwitch(args[3], L"/melden");
            if ((args.size() != 3 && !report) || args[1].empty() || args[2].empty() ||
                args[1].find_first_not_of(L"0123456789") != std::wstring::npos || args[1].size() > 19) {
                problem = L"\"/abschluss\" braucht die Kennung des Prozesses und den Installationsordner.";
                return false;
            }
            call.mode = Mode::finish;
            call.silent = true;
            call.waitHandle = std::stoull(args[1]);
            call.installFolder = args[2];
            call.report = report;
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

std::wstring finishArguments(std::uint64_t waitHandle, std::wstring_view installFolder, bool report)
{
    // A folder path never holds a quotation mark; one ending in a backslash would escape the
    // closing quote for the C runtime's rules, so it never ends in one here.
    std::wstring folder(installFolder);
    while (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    return L"/abschluss " + std::to_wstring(waitHandle) + L" \"" + folder + L"\"" + (report ? L" /melden" : L"");
}

std::wstring wideName(std::string_view name)
{
    return std::wstring(name.begin(), name.end());
}

std::wstring foldCase(std::wstring_view text)
{
    std::wstring out(text);
    for (wchar_t& c : out)
        c = static_cast<wchar_t>(windowsUpperCase(static_cast<char32_t>(c)));
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
    if (!sameName(name, wideName(kInstallFolderName)))
        return text::wrongFolder(folder);
    return {};
}

std::wstring recordedPathProblem(std::wstring_view relative)
{
    return pathProblemText(checkPayloadPath(listPath(relative)));
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
    std::vector<std::string> lines;
    if (!parsePathList(bytes, lines))
        return false;
    for (const std::string& line : lines) {
        RecordEntry entry;
        decodeUtf8(line, entry.path);
        entry.path = normalizedSeparators(entry.path);
        entry.problem = pathProblemText(checkPayloadPath(line));
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
    add(wideName(kLauncherName));
    add(wideName(kUninstallerName));
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
    std::vector<std::string> lines;
    for (const std::wstring& path : paths)
        lines.push_back(encodeUtf8(path));
    return pathListText(lines);
}

RemovalPlan planRemoval(const std::vector<RecordEntry>& record)
{
    RemovalPlan plan;
    std::set<std::wstring> knownFiles, knownFolders;
    // A record cut short or emptied still stands for an installation: its launcher is checked
    // for use and removed like any recorded file.
    std::vector<RecordEntry> entries = {{wideName(kLauncherName), {}}};
    entries.insert(entries.end(), record.begin(), record.end());
    plan.finishing = {wideName(kUninstallerName), wideName(kRecordName)};
    for (const RecordEntry& entry : entries) {
        if (!entry.problem.empty()) {
            plan.refused.push_back(withReason(entry.path, entry.problem));
            continue;
        }
        if (sameName(entry.path, wideName(kUninstallerName)) || sameName(entry.path, wideName(kRecordName)))
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

bool LinkGuard::folderReachable(const std::wstring& folder)
{
    auto [at, inserted] = folderSafe.emplace(foldCase(folder), true);
    if (inserted)
        at->second = (folder.empty() || folderReachable(parentFolder(folder))) && !(isLink && isLink(folder));
    return at->second;
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
    return L"Soll der ORVAN Launcher deinstalliert werden?\n\nEntfernt werden die Dateien, die mit ihm in \"" +
           std::wstring(installFolder) +
           L"\" installiert wurden, die Verkn\u00fcpfung auf dem Desktop und sein Eintrag in den Windows-Einstellungen "
           L"unter \"Apps\". Was erst danach im Ordner entstanden ist (Spielst\u00e4nde, Downloads, die Einstellungen "
           L"des Launchers), bleibt erhalten.";
}

std::wstring inUse(std::wstring_view fileName)
{
    return L"Die Datei \"" + std::wstring(fileName) +
           L"\" im Installationsordner ist in Gebrauch. Bitte den ORVAN Launcher schlie\u00dfen und es erneut "
           L"versuchen.\n\nEs wurde nichts entfernt.";
}

std::wstring noAccess(std::wstring_view fileName)
{
    return L"Die Datei \"" + std::wstring(fileName) +
           L"\" im Installationsordner darf mit Ihrem Benutzerkonto nicht ge\u00e4ndert werden. Ohne dieses Recht "
           L"l\u00e4sst sich der ORVAN Launcher nicht deinstallieren.\n\nEs wurde nichts entfernt.";
}

std::wstring folderIsLink(std::wstring_view installFolder, std::wstring_view target)
{
    std::wstring out = L"Der Installationsordner \"" + std::wstring(installFolder) +
                       L"\" ist eine symbolische Verkn\u00fcpfung oder Verzeichnisverbindung";
    out += target.empty() ? std::wstring(L" auf einen anderen Ordner.")
                          : L" und verweist auf \"" + std::wstring(target) + L"\".";
    return out + L" Damit dort keine fremden Dateien gel\u00f6scht werden, wurde nichts entfernt: Die Dateien bleiben, "
                 L"ebenso der Eintrag in den Windows-Einstellungen unter \"Apps\".";
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

namespace {

void appendList(std::wstring& out, std::wstring_view heading, const std::vector<std::wstring>& lines)
{
    if (lines.empty())
        return;
    out += L"\n\n" + std::wstring(heading);
    std::size_t shown = std::min<std::size_t>(lines.size(), 10);
    for (std::size_t i = 0; i < shown; ++i)
        out += L"\n" + lines[i];
    if (lines.size() > shown)
        out += L"\nund " + std::to_wstring(lines.size() - shown) + L" weitere";
}

} // namespace

std::wstring done(std::wstring_view installFolder, bool folderKept, const std::vector<std::wstring>& refused,
                  const std::vector<std::wstring>& failed)
{
    std::wstring out = failed.empty() ? L"Der ORVAN Launcher wurde entfernt."
                                      : L"Der ORVAN Launcher wurde nicht vollst\u00e4ndig entfernt.";
    // Only when nothing the record names stayed are the files left in the folder all foreign.
    if (folderKept)
        out += L"\n\nDer Ordner \"" + std::wstring(installFolder) + L"\" bleibt bestehen, weil noch Dateien darin liegen" +
               (failed.empty() && refused.empty() ? L": solche, die nicht mit dem Launcher installiert wurden." : L".");
    appendList(out, L"Nicht angefasst (ung\u00fcltige Eintr\u00e4ge in der Liste der installierten Dateien):", refused);
    appendList(out, L"Nicht entfernt:", failed);
    return out;
}

std::wstring behindLink(std::wstring_view relative)
{
    return withReason(relative, L"(liegt hinter einer symbolischen Verkn\u00fcpfung oder Verzeichnisverbindung)");
}

std::wstring notDeleted(std::wstring_view relative)
{
    return L"\"" + std::wstring(relative) + L"\"";
}

std::wstring notReadable(std::wstring_view relative)
{
    return withReason(relative, L"(kein Zugriff)");
}

std::wstring shortcutKept(std::wstring_view path)
{
    return L"die Verkn\u00fcpfung \"" + std::wstring(path) + L"\"";
}

std::wstring entryKept()
{
    return L"der Eintrag in den Windows-Einstellungen unter \"Apps\"";
}

std::wstring entryOfOtherFolder(std::wstring_view location)
{
    return entryKept() + L" (er geh\u00f6rt zur Installation in \"" + std::wstring(location) + L"\")";
}

std::wstring finishKept(std::wstring_view installFolder, const std::vector<std::wstring>& failed)
{
    std::wstring out = L"Der ORVAN Launcher wurde nicht vollst\u00e4ndig entfernt: Im Ordner \"" +
                       std::wstring(installFolder) + L"\" ist noch etwas geblieben.";
    appendList(out, L"Nicht entfernt:", failed);
    return out;
}

} // namespace text
