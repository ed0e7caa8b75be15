// resign: a new expiry and signature for the manifest of a signed tree, so that a release stays
// installable by signed builds without being built again. Only what the key signed before is
// signed again: the catalog and the parts stay as they are, and so does every other member.
#include "publish.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#ifndef ORVAN_PUBLISH_BASE_URL
#define ORVAN_PUBLISH_BASE_URL "https://download.nordalis.example/games/"
#endif

namespace fs = std::filesystem;

namespace {

std::string inQuotes(const std::string& text)
{
    return "\"" + text + "\"";
}

// Beside the file under a name of its own, so that the file is replaced whole or not at all.
bool writeBeside(const fs::path& path, const std::string& text, fs::path& written, std::string& error)
{
    written = path.string() + ".neu";
    std::FILE* file = std::fopen(written.c_str(), "wb");
    bool ok = file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = file && std::fclose(file) == 0 && ok;
    if (!ok) {
        error = "Kann " + inQuotes(written.string()) + " nicht schreiben: " + std::strerror(errno);
        std::error_code ec;
        fs::remove(written, ec);
    }
    return ok;
}

} // namespace

bool resignTree(const ResignOptions& options, std::string& expiry, std::string& error)
{
    fs::path manifestFile = fs::path(options.tree) / "games" / std::string(kManifestReference);
    fs::path signatureFile = manifestFile.string() + std::string(kSignatureSuffix);
    std::string manifestText;
    std::string why;
    if (!readLocalFile(manifestFile.string(), manifestText, why)) {
        error = "Das Manifest " + inQuotes(manifestFile.string()) + " ist nicht lesbar: " + why;
        return false;
    }
    nlohmann::ordered_json manifest = nlohmann::ordered_json::parse(manifestText, nullptr, false);
    if (!manifest.is_object()) {
        error = "Das Manifest " + inQuotes(manifestFile.string()) + " ist kein JSON-Objekt";
        return false;
    }
    std::unique_ptr<ManifestKey, void (*)(ManifestKey*)> key(loadManifestKey(options.signKeyFile, true, error),
                                                               freeManifestKey);
    if (!key)
        return false;

    // The key must be the one the tree was signed with: a release moves to another key only
    // through a new build, which every installer of the old key then refuses, not by accident.
    std::string fingerprint = manifestKeyFingerprint(key.get());
    auto named = manifest.find(std::string(kKeyMember));
    if (named == manifest.end() || !named->is_string()) {
        error = "Das Manifest nennt keinen Schluessel (" + std::string(kKeyMember) +
                "): der Baum ist nicht signiert; einen signierten Baum schreibt build --sign-key";
        return false;
    }
    if (named->get<std::string>() != fingerprint) {
        error = "Der Schluessel passt nicht zum Baum (falscher Schluessel): das Manifest nennt " +
                named->get<std::string>() + ", --sign-key ist " + fingerprint;
        return false;
    }
    // Whatever changed the manifest since it was signed would otherwise get a fresh signature.
    std::string signature;
    if (!readLocalFile(signatureFile.string(), signature, why)) {
        error = "Die Signatur " + inQuotes(signatureFile.string()) + " ist nicht lesbar: " + why;
        return false;
    }
    if (checkManifestSignature(key.get(), manifestText, signature) != SignatureCheck::valid) {
        error = "Die Signatur passt nicht zum Manifest: es wurde nach dem Signieren geaendert, oder die Signatur gehoert "
                "zu einem anderen Manifest; resign signiert nur neu, was der Schluessel schon signiert hat";
        return false;
    }
    // A tree of the manifest and its signature alone, fetched from the server for the weekly
    // renewal, has no parts to check; the signature that just checked out vouches for the part
    // digests, which is all the renewal signs again.
    bool anyPart = false;
    if (manifest.contains("paket") && manifest["paket"].is_object() && manifest["paket"].contains("teile") &&
        manifest["paket"]["teile"].is_array())
        for (const auto& part : manifest["paket"]["teile"])
            if (part.is_object() && part.contains("url") && part["url"].is_string()) {
                std::error_code ec;
                anyPart = anyPart || fs::exists(manifestFile.parent_path() / std::string(partFileName(part["url"].get<std::string>())), ec);
            }
    VerifyOptions check;
    check.target = options.tree;
    check.baseUrl = ORVAN_PUBLISH_BASE_URL;
    VerifyReport report;
    if (anyPart)
        verifyTree(check, report);
    if (!report.problems.empty()) {
        error = "Der Baum passt nicht zu seinem Manifest; nichts neu signiert:";
        for (const std::string& problem : report.problems)
            error += "\n" + problem;
        return false;
    }

    expiry = formatExpiry(std::time(nullptr) + options.validDays * 86400LL);
    manifest[std::string(kExpiryMember)] = expiry;
    std::string renewed = manifest.dump(2, ' ', true) + "\n";
    std::string renewedSignature;
    if (!signManifest(key.get(), renewed, renewedSignature, error))
        return false;
    fs::path newManifest;
    fs::path newSignature;
    if (!writeBeside(manifestFile, renewed, newManifest, error))
        return false;
    if (!writeBeside(signatureFile, renewedSignature, newSignature, error)) {
        std::error_code ec;
        fs::remove(newManifest, ec);
        return false;
    }
    // The manifest first, its signature right after: the order a server gets them in.
    std::error_code ec;
    fs::rename(newManifest, manifestFile, ec);
    if (!ec)
        fs::rename(newSignature, signatureFile, ec);
    if (ec) {
        error = "Kann Manifest und Signatur nicht ersetzen: " + ec.message();
        fs::remove(newManifest, ec);
        fs::remove(newSignature, ec);
        return false;
    }
    return true;
}
