// The record of published versions beside the manifest (freigaben.json), and how a new build
// carries it on from the tree of the release it replaces.
#include "publish.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

bool stringList(const Json& value, std::vector<std::string>& out)
{
    if (!value.is_array())
        return false;
    for (const Json& item : value) {
        if (!item.is_string())
            return false;
        out.push_back(item.get<std::string>());
    }
    return true;
}

} // namespace

bool parseReleaseRecord(const std::string& text, ReleaseRecord& record, std::string& error)
{
    Json document = Json::parse(text, nullptr, false);
    const char* shape = "ist kein Verzeichnis der Versionen, wie build es schreibt";
    if (!document.is_object() || !document.contains("versionen") || !document["versionen"].is_array()) {
        error = shape;
        return false;
    }
    for (const Json& item : document["versionen"]) {
        ReleaseEntry entry;
        std::time_t moment = 0;
        if (!item.is_object() || !item.contains("version") || !item["version"].is_string() || !item.contains("teile") ||
            !stringList(item["teile"], entry.parts)) {
            error = shape;
            return false;
        }
        entry.version = item["version"].get<std::string>();
        if (item.contains("abgeloest")) {
            if (!item["abgeloest"].is_string() || !parseExpiry(item["abgeloest"].get<std::string>(), moment)) {
                error = "nennt bei Version " + inQuotes(entry.version) + " keinen Zeitpunkt der Form 2030-01-31T12:00:00Z";
                return false;
            }
            entry.superseded = item["abgeloest"].get<std::string>();
        }
        record.versions.push_back(std::move(entry));
    }
    if (document.contains("entfernt") && !stringList(document["entfernt"], record.dropped)) {
        error = shape;
        return false;
    }
    return true;
}

std::string releaseRecordText(const ReleaseRecord& record)
{
    Json document;
    document["versionen"] = Json::array();
    for (const ReleaseEntry& entry : record.versions) {
        Json item;
        item["version"] = entry.version;
        if (!entry.superseded.empty())
            item["abgeloest"] = entry.superseded;
        item["teile"] = entry.parts;
        document["versionen"].push_back(item);
    }
    document["entfernt"] = record.dropped;
    return document.dump(2, ' ', true) + "\n";
}

bool parseGraceDays(std::string_view text, int& days)
{
    return parseDayCount(text, 0, kMaxGraceDays, days);
}

bool planReleaseRecord(const std::string& previousTree, const std::string& version,
                       const std::vector<std::string>& parts, int graceDays, std::time_t now,
                       ReleaseRecord& record, std::string& error)
{
    record = {};
    record.versions.push_back({version, parts, {}});
    if (previousTree.empty())
        return true;

    fs::path games = fs::path(previousTree) / "games";
    std::string manifestFile = (games / std::string(kManifestReference)).string();
    std::string text;
    std::string why;
    if (!readLocalFile(manifestFile, text, why)) {
        error = "Im vorigen Baum fehlt das Manifest " + inQuotes(manifestFile) + ": " + why +
                " (--previous nennt den Baum der Version, die jetzt ausgeliefert wird)";
        return false;
    }
    Json manifest = Json::parse(text, nullptr, false);
    ReleaseEntry replaced;
    bool readable = manifest.is_object() && manifest.contains("version") && manifest["version"].is_string() &&
                    manifest.contains("paket") && manifest["paket"].is_object() &&
                    manifest["paket"].contains("teile") && manifest["paket"]["teile"].is_array();
    if (readable) {
        replaced.version = manifest["version"].get<std::string>();
        for (const Json& part : manifest["paket"]["teile"]) {
            if (!part.is_object() || !part.contains("url") || !part["url"].is_string()) {
                readable = false;
                break;
            }
            replaced.parts.push_back(std::string(partFileName(part["url"].get<std::string>())));
        }
    }
    if (!readable) {
        error = "Das Manifest des vorigen Baums " + inQuotes(manifestFile) + " nennt keine Version und Teile";
        return false;
    }
    replaced.superseded = formatExpiry(now);

    ReleaseRecord previous;
    std::string recordFile = (games / std::string(kReleasesReference)).string();
    if (fs::exists(recordFile)) {
        text.clear();
        if (!readLocalFile(recordFile, text, why) || !parseReleaseRecord(text, previous, why)) {
            error = "Das Verzeichnis der Versionen " + inQuotes(recordFile) + " " + why;
            return false;
        }
    }

    // The manifest is what installers read; the record's entry without a moment is the same
    // version and gives way to it.
    std::vector<ReleaseEntry> older;
    for (ReleaseEntry& entry : previous.versions)
        if (!entry.superseded.empty())
            older.push_back(std::move(entry));
    record.versions.push_back(replaced);
    std::vector<std::string> candidates;
    for (ReleaseEntry& entry : older) {
        std::time_t superseded = 0;
        parseExpiry(entry.superseded, superseded);
        if (superseded + graceDays * 86400LL > now)
            record.versions.push_back(std::move(entry));
        else
            candidates.insert(candidates.end(), entry.parts.begin(), entry.parts.end());
    }
    std::set<std::string> needed;
    for (const ReleaseEntry& entry : record.versions)
        needed.insert(entry.parts.begin(), entry.parts.end());
    std::set<std::string> seen;
    for (const std::string& part : candidates)
        if (!needed.count(part) && seen.insert(part).second)
            record.dropped.push_back(part);
    return true;
}
