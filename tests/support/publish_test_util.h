// Helpers for the tests of orvan-publish, the script, the installer and the release: throw-away
// folders, running the tool and other programs, the one maker of test payloads and releases, and
// a second zip writer (Python's zipfile) for packages the tool itself would never make.
#pragma once

#include "tests/common/read_file.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// A folder below the system's temporary folder, removed with everything in it on destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    fs::path path;
};

std::string shellQuote(const std::string& text);
// Runs a shell command line; environment assignments may lead it ("A=b cmd").
Outcome runShell(const std::string& command);
// The orvan-publish program under test.
const char* publishProgram();
// Runs orvan-publish with the arguments, each quoted.
Outcome runPublish(const std::vector<std::string>& arguments, const std::string& environment = {});

void writeFile(const fs::path& path, const std::string& bytes);
// Digest by the sha256sum program, not by the code under test.
std::string sha256sum(const fs::path& path);

nlohmann::json readJson(const fs::path& path);
void writeJson(const fs::path& path, const nlohmann::json& document);

// What a test payload holds. As it stands: the small payload of the host tests, with stand-ins
// for the launcher and an executable uninstaller, a UTF-8 name in a subfolder and a file large
// enough to need more than one deflate block.
struct PayloadFiles {
    std::string launcher = "MZ launcher";                                   // ORVAN Launcher.exe
    std::optional<std::string> uninstaller = std::string("#!/bin/sh\nexit 0\n"); // executable; none: no uninstaller
    std::map<std::string, std::string> data = standinData();                // relative path -> bytes
    std::uint64_t randomBytes = 0; // in daten/inhalt.bin, random and so incompressible

    static std::map<std::string, std::string> standinData();
};

void makePayload(const fs::path& folder, const PayloadFiles& files);
void makePayload(const fs::path& folder, bool withUninstaller = true);

// orvan-publish build of payload into tree: partSize empty leaves the tool's own, the manifest is
// signed with signKey when one is given, and `extra` goes last.
Outcome runBuild(const fs::path& payload, const fs::path& tree, const std::string& version,
                 const std::string& partSize, const fs::path& signKey = {}, const std::vector<std::string>& extra = {});
// The same; fails the test when the build fails.
void buildTree(const fs::path& payload, const fs::path& tree, const std::string& version = "1.2.3",
               const std::string& partSize = "8M", const fs::path& signKey = {},
               const std::vector<std::string>& extra = {});
// A release of its own in work/baum-<version>, in 64K parts: its payload (rebuilt in
// work/nutzlast) differs from every other version's, so no two versions share a part.
fs::path buildVersionTree(const fs::path& work, const std::string& version, const std::vector<std::string>& extra = {});

fs::path manifestPath(const fs::path& tree);
fs::path signaturePath(const fs::path& tree);
fs::path catalogPath(const fs::path& tree);
// The part files in manifest order.
std::vector<fs::path> partPaths(const fs::path& tree);
// All parts joined, written to a file.
void joinPartsTo(const fs::path& tree, const fs::path& zip);

struct ZipEntry {
    std::string name;
    std::string data;
    std::string method = "deflate"; // "store", "deflate", "bzip2"
    bool legacyName = false;        // non-ASCII name written in CP437 without the UTF-8 flag
    int mode = 0644;
};

// Writes a zip with Python's zipfile.
void pythonZip(const fs::path& zip, const std::vector<ZipEntry>& entries);

// Replaces the tree's parts by the bytes of zip cut at the given offsets (ascending, inside the
// package), with a manifest that lists them with their digests (by sha256sum).
void cutPackage(const fs::path& tree, const fs::path& zip, const std::vector<std::size_t>& cuts);
// The same, cut into parts of partSize.
void republish(const fs::path& tree, const fs::path& zip, std::size_t partSize = 1 << 20);
// A tree at `tree` of `bytes` of random payload in exactly `parts` parts of equal size, as the
// benchmarks serve it; `work` holds the payload and the package meanwhile.
void buildRandomTreeInEqualParts(const fs::path& work, const fs::path& tree, std::size_t bytes, std::size_t parts);

// What verify said; the test checks exit status and problem lines.
Outcome verify(const fs::path& tree, const std::vector<std::string>& extra = {});
bool saysProblem(const Outcome& run, const std::string& fragment);

struct KeyPair {
    fs::path privateKey; // <name>.pem
    fs::path publicKey;  // <name>.pub.pem
};

// A key pair made by openssl genpkey with these arguments (P-256 unless told otherwise).
KeyPair makeKeyPair(const fs::path& folder, const std::string& name,
                    const std::string& algorithm = "-algorithm EC -pkeyopt ec_paramgen_curve:P-256");
// The signature file text for a file as openssl signs it with a P-256 key: its DER signature
// taken apart into r||s, base64, a line feed. A signer that is not the code under test.
std::string opensslSignature(const fs::path& privateKey, const fs::path& file);

// A UTC moment in the one form a signed manifest's gueltigBis takes, by the C library.
std::string expiryText(std::time_t moment);
// Seconds since 1970 of a date text as the date program reads it.
std::time_t epochOf(const std::string& text);
// Sets the manifest's gueltigBis to this text, or removes it (nullopt), and signs the manifest
// anew with openssl when a key is given; without one the old signature stays.
void setExpiry(const fs::path& tree, const std::optional<std::string>& text, const fs::path& privateKey = {});
