// Runs the built installation script against nginx on loopback, in a throw-away user profile,
// and reads its output the way the installer does (through orvan-trace). Two runners:
//  - Linux pwsh (the default) with the WScript.Shell stand-in of tests/support/run-script.ps1,
//    its shortcut a JSON record;
//  - with ORVAN_SCRIPT_RUNNER=engine, the PowerShell engine for Windows at the system path of the
//    Wine session's prefix (scripts/lib/wine-engine.sh), started by start-hidden.exe as the
//    installer starts it: Windows paths, the real WScript.Shell, a console code page, a Windows
//    uninstaller. Its server is localhost (Wine takes an IP address in a URL for a name mismatch).
#pragma once

#include "https_server.h"
#include "publish_test_util.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

bool underWine(); // the runner is the engine under Wine

// A user's machine for one run: USERPROFILE and TEMP below a folder of their own. The desktop is
// the profile's "Desktop" (pwsh: HOME is the profile); under Wine it is the prefix's desktop,
// which Windows takes from the registry, not from USERPROFILE: the shortcut is removed from it
// for each machine.
struct Machine {
    explicit Machine(const std::string& profileName = "nutzer");
    TempDir root;
    fs::path profile;
    fs::path desktop;
    fs::path temp;

    fs::path installDir() const { return profile / "ORVAN Launcher"; }
    fs::path launcher() const { return installDir() / "ORVAN Launcher.exe"; }
    fs::path shortcut() const { return desktop / "ORVAN Launcher.lnk"; }
    // The recording uninstaller's calls, one line per call, every argument in brackets; empty
    // when it never ran.
    std::string uninstallerCalls() const;
    fs::path uninstallerRecord() const { return profile / "uninstaller-calls.txt"; }
    // Names of the folders and files directly in TEMP.
    std::vector<std::string> tempEntries() const;
};

// A path as the script sees it: the Windows form under Wine (Z:\tmp\...).
std::string scriptPath(const fs::path& path);
// The saved shortcut's TargetPath, WorkingDirectory and IconLocation; null when there is none
// or it cannot be read. Under Wine the real .lnk, loaded through the shell's ShellLink object.
nlohmann::json savedShortcut(const Machine& machine);
// The host name of the test server in the script's base URL.
std::string serverHost();

struct ScriptRun {
    std::vector<std::string> lines; // orvan-trace's lines: PROGRESS 3, STATUS "...", ...
    std::string raw;                // the script's bytes as the installer's pipe would carry them
    int status = -1;
};

// The lines orvan-trace prints for the message a line of the script would post.
std::string statusLine(const std::string& utf8);
std::string connectingLine(); // "Verbinde mit" and the server's host
std::string logLine(const std::string& utf8);
std::string progressLine(int percent);
std::string doneLine(const fs::path& launcher);
std::string errorLine(const std::string& utf8);
// The whole trace of a successful run over `parts` parts.
std::vector<std::string> successLines(const std::string& version, int parts, bool registration,
                                      const fs::path& launcher);
// Progress of part i of n: 6 + 64 i / n, to the nearest integer, halves to the even one.
int partProgress(int i, int n);
std::string joined(const std::vector<std::string>& lines);

// The built script with its base URL exchanged: the one text the build put in.
void copyScriptFor(const std::string& url, const fs::path& to);

// The build's embed step run on the script source for this base URL and manifest key (a public
// key PEM file; none when empty), as a build with -DORVAN_MANIFEST_KEY makes the script.
Outcome embedScript(const std::string& baseUrl, const fs::path& keyFile, const fs::path& to);

// A payload as the packager gets it: the launcher, subfolders, a UTF-8 name, and optionally the
// recording uninstaller (a shell script that appends its arguments to uninstaller-calls.txt in
// the profile; under Wine the test uninstaller of tests/e2e_win). Either ends with the exit code
// in the variable ORVAN_UNINSTALLER_EXIT, 0 when it is unset.
void makeInstallPayload(const fs::path& folder, bool withUninstaller = true);
// Files below a folder, relative path -> bytes.
std::map<std::string, std::string> filesBelow(const fs::path& folder);

// One nginx and one cut-connection server per test program, started by the first test.
class ScriptTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    // Served folder "/" and the base URL the script copy is built for.
    static fs::path www();
    static std::string origin(const std::string& host = serverHost());
    static std::string baseUrl() { return origin() + "/games/"; }
    static int port();
    // The built script with the test server's base URL in place of the build's one.
    static fs::path script();
    // The same script for a base URL on a port nothing listens on.
    static fs::path unreachableScript();
    // The script for the test server built with releaseKey()'s public key as its manifest key.
    static fs::path signedScript();
    // Key pairs made for the test program: the one signedScript() holds, and another one.
    static const KeyPair& releaseKey();
    static const KeyPair& otherKey();
    // The access log of the server: one line per request below /games/, /teile/ and /zeichensatz/,
    // where every answer claims to be ISO-8859-1 text.
    static std::string accessLog();
    static void clearAccessLog();
    // Where the cut-connection server answers, and the file it serves.
    static std::string cutUrl();
    static fs::path cutFile();
    // The answers the cut-connection server gives to the next requests, words of
    // tests/support/cut_server.py (cut, reset, stall, 503, 404, damaged) one a line; after them
    // it answers in full. Set empty for each test.
    static void setCutAnswers(const std::string& words);
    // The answers it gave since the test began, one word a line (ok: in full).
    static std::string cutAnswersGiven();

    // Replaces whatever is served with a tree built by orvan-publish from payload, its manifest
    // signed with signKey when one is given.
    void publish(const fs::path& payload, const std::string& version = "1.2.3", const std::string& partSize = "8M",
                 const fs::path& signKey = {});
    void publishDefault(const std::string& version = "1.2.3", bool withUninstaller = true);
    // publishDefault with the manifest signed.
    void publishSigned(const fs::path& signKey, const std::string& version = "1.2.3");
    // publishDefault with its package cut anew into `parts` parts of equal size (the last one
    // shorter); the package stays in scratch()/paket.zip.
    void publishInParts(std::size_t parts);
    fs::path tree() const { return www(); }
    nlohmann::json manifest() const { return readJson(manifestPath(tree())); }
    void setManifest(const nlohmann::json& document) { writeJson(manifestPath(tree()), document); }
    void setCatalogText(const std::string& text) { writeFile(catalogPath(tree()), text); }
    fs::path payload() const { return scratch_.path / "payload"; }
    fs::path scratch() const { return scratch_.path; }

    // Runs the script once in the machine; a wrapper is PowerShell code run before the script,
    // in the scope that invokes it.
    ScriptRun run(const Machine& machine, const fs::path& scriptFile = {},
                  const std::string& wrapper = {});

private:
    TempDir scratch_;
};
