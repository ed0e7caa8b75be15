// The list of delivered files that a package carries beside its uninstaller: the uninstaller
// merges it into the record it keeps on the machine and removes exactly these files later, so a
// list that misses a file leaves it behind and one that names a foreign file would delete it.
#include "publish.h"

#include <algorithm>
#include <set>

namespace {

std::string inQuotes(std::string_view text)
{
    return "\"" + std::string(text) + "\"";
}

} // namespace

std::string fileListText(std::vector<std::string> relativePaths)
{
    relativePaths.emplace_back(kFileListName);
    std::sort(relativePaths.begin(), relativePaths.end());
    relativePaths.erase(std::unique(relativePaths.begin(), relativePaths.end()), relativePaths.end());
    return pathListText(relativePaths);
}

std::string fileListReservedProblem(const std::vector<std::string>& relativePaths)
{
    for (const std::string& path : relativePaths)
        if (isReservedPayloadPath(path))
            return "Die Datei " + inQuotes(path) +
                       " im Nutzlastordner: der Name ist dem Deinstallationsprogramm vorbehalten (orvan-publish schreibt die "
                       "Liste der gelieferten Dateien selbst, den Bestand fuehrt das Programm auf dem Rechner)";
    return {};
}

void checkFileList(const std::string* listText, const std::vector<std::string>& payloadPaths, bool hasUninstaller,
                   std::vector<std::string>& problems, std::vector<std::string>& notes)
{
    std::string listLabel = inQuotes(std::string(kPayloadPrefix) + std::string(kFileListName));
    if (!listText) {
        if (hasUninstaller)
            notes.push_back("Das Paket hat keine Liste " + listLabel +
                            "; das Deinstallationsprogramm entfernt dann nur den Launcher und sich selbst");
        return;
    }
    if (!hasUninstaller)
        notes.push_back("Die Liste " + listLabel + " liegt ohne Deinstallationsprogramm im Paket und bleibt ungenutzt");
    std::vector<std::string> lines;
    if (!parsePathList(*listText, lines)) {
        problems.push_back("Die Liste " + listLabel + " ist kein gueltiges UTF-8; das Deinstallationsprogramm verweigert sie");
        return;
    }
    std::set<std::string> listed(lines.begin(), lines.end());
    std::set<std::string> delivered(payloadPaths.begin(), payloadPaths.end());
    for (const std::string& path : delivered)
        if (!listed.count(path))
            problems.push_back("Die Liste " + listLabel + " nennt " + inQuotes(path) +
                               " nicht; die Deinstallation liesse die Datei liegen");
    for (const std::string& path : listed)
        if (!delivered.count(path))
            problems.push_back("Die Liste " + listLabel + " nennt " + inQuotes(path) +
                               ", das nicht im Paket liegt; die Deinstallation loeschte eine fremde Datei dieses Namens");
}
