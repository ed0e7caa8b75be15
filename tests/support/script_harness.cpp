#include "script_harness.h"

#include "engine/text.h"
#include "publish.h"
#include "tools/trace.h"
#include "engine/messages.h"
#include "wine_peer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Served {
    TempDir dir;
    HttpsServer https;
    fs::path script;
    fs::path unreachableScript;
    fs::path signedScript;
    KeyPair releaseKey;
    KeyPair otherKey;
    fs::path cutFile;
    int cutPort = 0;
    pid_t cutServer = -1;
    int httpPort = 0;
};

std::unique_ptr<Served> served;

std::string describe(unsigned message, std::intptr_t wParam, const std::string& utf8)
{
    ScriptMessage m;
    m.message = message;
    m.wParam = wParam;
    m.text = decodeUtf8Portable(utf8.c_str());
    return describeScriptMessage(m);
}

void startCutServer(Served& s)
{
    s.cutFile = s.dir.path / "cut" / "teil.bin";
    writeFile(s.cutFile, std::string(256 * 1024, 'x'));
    fs::path portFile = s.dir.path / "cut" / "port";
    s.cutServer = ::fork();
    if (s.cutServer == 0) {
        ::execlp("python3", "python3", ORVAN_CUT_SERVER_PY, s.cutFile.c_str(), portFile.c_str(), nullptr);
        ::_exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(portFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    s.cutPort = std::atoi(readFile(portFile).c_str());
}

} // namespace

void copyScriptFor(const std::string& url, const fs::path& to)
{
    std::string text = readFile(ORVAN_BUILT_SCRIPT);
    std::string built = ORVAN_BUILT_BASE_URL;
    std::size_t at = text.find(built);
    ASSERT_NE(at, std::string::npos) << "no base URL in " << ORVAN_BUILT_SCRIPT;
    ASSERT_EQ(text.find(built, at + 1), std::string::npos) << "the base URL stands twice in the script";
    text.replace(at, built.size(), url);
    writeFile(to, text);
}

bool underWine()
{
    const char* runner = std::getenv("ORVAN_SCRIPT_RUNNER");
    return runner != nullptr && std::string(runner) == "engine";
}

std::string serverHost()
{
    return underWine() ? "localhost" : "127.0.0.1";
}

std::string scriptPath(const fs::path& path)
{
    return underWine() ? wine::windowsPath(path) : path.string();
}

Machine::Machine(const std::string& profileName)
{
    profile = root.path / profileName;
    desktop = underWine() ? wine::userProfile() / "Desktop" : profile / "Desktop";
    temp = root.path / "temp";
    fs::create_directories(desktop);
    fs::create_directories(temp);
    std::error_code ec;
    fs::remove(shortcut(), ec);
}

std::string Machine::uninstallerCalls() const
{
    return underWine() ? wine::recordedArguments(uninstallerRecord()) : readFile(uninstallerRecord());
}

nlohmann::json savedShortcut(const Machine& machine)
{
    if (!fs::exists(machine.shortcut()))
        return nullptr;
    std::string text = underWine() ? wine::readShortcut(machine.shortcut()) : readFile(machine.shortcut());
    nlohmann::json shortcut = nlohmann::json::parse(text, nullptr, false);
    return shortcut.is_object() ? shortcut : nlohmann::json();
}

std::vector<std::string> Machine::tempEntries() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temp))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Outcome embedScript(const std::string& baseUrl, const fs::path& keyFile, const fs::path& to)
{
    fs::create_directories(to.parent_path());
    return runShell(shellQuote(ORVAN_CMAKE_COMMAND) + " -DSOURCE=" + shellQuote(ORVAN_SCRIPT_DIR "/install.ps1.in") +
                    " -DSCRIPT=" + shellQuote(to.string()) + " -DHEADER=" + shellQuote(to.string() + ".h") +
                    " -DBASE_URL=" + shellQuote(baseUrl) + " -DMANIFEST_KEY_FILE=" + shellQuote(keyFile.string()) +
                    " -DOPENSSL=openssl -P " + shellQuote(ORVAN_SCRIPT_DIR "/embed_script.cmake"));
}

std::string statusLine(const std::string& utf8) { return describe(WM_INSTALL_LINE, 0, utf8); }
std::string connectingLine() { return statusLine("Verbinde mit " + serverHost()); }
std::string logLine(const std::string& utf8) { return describe(WM_INSTALL_LINE, 1, utf8); }
std::string progressLine(int percent) { return "PROGRESS " + std::to_string(percent); }
std::string doneLine(const fs::path& launcher) { return describe(WM_INSTALL_DONE, 0, scriptPath(launcher)); }
std::string errorLine(const std::string& utf8) { return describe(WM_INSTALL_ERROR, 0, utf8); }

int partProgress(int i, int n)
{
    return static_cast<int>(std::nearbyint(6.0 + 64.0 * i / n)); // default rounding: halves to even
}

std::vector<std::string> successLines(const std::string& version, int parts, bool registration, const fs::path& launcher)
{
    std::vector<std::string> lines = {connectingLine(), progressLine(3),
                                      statusLine("ORVAN Launcher " + version + " wird geladen"), progressLine(6)};
    for (int i = 1; i <= parts; ++i) {
        lines.push_back(statusLine("Lade Teil " + std::to_string(i) + " / " + std::to_string(parts)));
        lines.push_back(progressLine(partProgress(i, parts)));
    }
    for (const std::string& line : {statusLine("Pruefe Paket"), progressLine(74), statusLine("Entpacke Dateien"),
                                    progressLine(80), progressLine(94), statusLine("Erstelle Desktop-Verknuepfung")})
        lines.push_back(line);
    if (registration)
        lines.push_back(statusLine("Trage den Launcher in Windows ein (Einstellungen - Apps)"));
    lines.push_back(progressLine(100));
    lines.push_back(statusLine("Fertig"));
    lines.push_back(doneLine(launcher));
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += line + "\n";
    return out;
}

void makeInstallPayload(const fs::path& folder, bool withUninstaller)
{
    PayloadFiles files;
    if (!withUninstaller)
        files.uninstaller.reset();
    else if (underWine())
        files.uninstaller = readFile(wine::windowsTools() / "ORVAN Deinstallieren.exe");
    else // each call appends one line: every argument in brackets; ORVAN_UNINSTALLER_EXIT is its exit code
        files.uninstaller = "#!/bin/sh\nprintf '[%s]' \"$@\" >>\"$HOME/uninstaller-calls.txt\"\n"
                            "echo >>\"$HOME/uninstaller-calls.txt\"\nexit \"${ORVAN_UNINSTALLER_EXIT:-0}\"\n";
    makePayload(folder, files);
}

std::map<std::string, std::string> filesBelow(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    if (!fs::exists(folder))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = readFile(entry.path());
    // orvan-publish packs its list of delivered files beside the uninstaller; the list is the
    // publisher's addition, not the payload's (tests/publish reads it back), so a comparison of
    // installed files with the payload leaves it out.
    files.erase(std::string(kFileListName));
    return files;
}

void ScriptTest::SetUpTestSuite()
{
    if (served)
        return;
    served = std::make_unique<Served>();
    startCutServer(*served);
    ASSERT_GT(served->cutPort, 0) << "cut server did not start";
    served->httpPort = freeLoopbackPort();
    // Requests below /games/ and /teile/ are logged so tests see what was asked for; /anderswo/
    // answers only under the host name localhost, so a fetch there proves the host was used.
    std::string log = (served->dir.path / "access.log").string();
    std::string extra =
        "    location /games/ { access_log " + log + "; }\n"
        "    location /teile/ { access_log " + log + "; }\n"
        "    location /anderswo/ { access_log " + log + "; if ($host != \"localhost\") { return 404; } }\n"
        "    location /zeichensatz/ { access_log " + log + "; types { } default_type \"application/json; charset=iso-8859-1\"; }\n"
        "    location /abbruch/ { proxy_pass http://127.0.0.1:" + std::to_string(served->cutPort) + "/; }\n"
        // The same server also answers plain http on a second port; /nach-http/ sends every
        // request there and /umleitung/ to the same path over https.
        "    listen 127.0.0.1:" + std::to_string(served->httpPort) + ";\n"
        "    location ~ ^/nach-http(/.*)$ { return 302 http://127.0.0.1:" + std::to_string(served->httpPort) + "$1$is_args$args; }\n"
        "    location ~ ^/umleitung(/.*)$ { return 302 https://$host:$server_port$1$is_args$args; }\n";
    ASSERT_TRUE(startHttpsServer(served->https, served->dir.path / "nginx", 0, extra)) << served->https.error;
    served->script = served->dir.path / "install.ps1";
    copyScriptFor(baseUrl(), served->script);
    served->unreachableScript = served->dir.path / "unreachable" / "install.ps1";
    copyScriptFor("https://" + serverHost() + ":" + std::to_string(freeLoopbackPort()) + "/games/",
                  served->unreachableScript);
    served->releaseKey = makeKeyPair(served->dir.path, "release");
    served->otherKey = makeKeyPair(served->dir.path, "fremd");
    served->signedScript = served->dir.path / "signed" / "install.ps1";
    Outcome embedded = embedScript(baseUrl(), served->releaseKey.publicKey, served->signedScript);
    ASSERT_EQ(embedded.status, 0) << embedded.out << embedded.err;
}

void ScriptTest::TearDownTestSuite()
{
    if (!served)
        return;
    stopHttpsServer(served->https);
    if (served->cutServer > 0) {
        ::kill(served->cutServer, SIGTERM);
        ::waitpid(served->cutServer, nullptr, 0);
    }
    served.reset();
}

void ScriptTest::SetUp()
{
    ASSERT_TRUE(served && served->https.pid > 0) << "no server";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(www()))
        fs::remove_all(entry.path(), ec);
    clearAccessLog();
    setCutAnswers("");
    std::ofstream(served->cutFile.string() + ".log", std::ios::trunc);
}

fs::path ScriptTest::www() { return served->https.root; }
std::string ScriptTest::origin(const std::string& host) { return "https://" + host + ":" + std::to_string(port()); }
int ScriptTest::port() { return served->https.port; }
fs::path ScriptTest::script() { return served->script; }
fs::path ScriptTest::unreachableScript() { return served->unreachableScript; }
fs::path ScriptTest::signedScript() { return served->signedScript; }
const KeyPair& ScriptTest::releaseKey() { return served->releaseKey; }
const KeyPair& ScriptTest::otherKey() { return served->otherKey; }
std::string ScriptTest::accessLog() { return readFile(served->dir.path / "access.log"); }
void ScriptTest::clearAccessLog() { std::ofstream(served->dir.path / "access.log", std::ios::trunc); }
std::string ScriptTest::cutUrl() { return origin() + "/abbruch/teil.bin"; }
fs::path ScriptTest::cutFile() { return served->cutFile; }
void ScriptTest::setCutAnswers(const std::string& words) { writeFile(served->cutFile.string() + ".answers", words); }
std::string ScriptTest::cutAnswersGiven() { return readFile(served->cutFile.string() + ".log"); }

void ScriptTest::publish(const fs::path& payloadDir, const std::string& version, const std::string& partSize,
                         const fs::path& signKey)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(www()))
        fs::remove_all(entry.path(), ec);
    fs::path built = scratch_.path / "tree";
    fs::remove_all(built, ec);
    buildTree(payloadDir, built, version, partSize, signKey);
    fs::copy(built, www(), fs::copy_options::recursive);
}

void ScriptTest::publishDefault(const std::string& version, bool withUninstaller)
{
    fs::remove_all(payload());
    makeInstallPayload(payload(), withUninstaller);
    publish(payload(), version);
}

void ScriptTest::publishSigned(const fs::path& signKey, const std::string& version)
{
    fs::remove_all(payload());
    makeInstallPayload(payload());
    publish(payload(), version, "8M", signKey);
}

void ScriptTest::publishInParts(std::size_t parts)
{
    publishDefault();
    fs::path zip = scratch() / "paket.zip";
    joinPartsTo(tree(), zip);
    republish(tree(), zip, (fs::file_size(zip) + parts - 1) / parts);
}

ScriptRun ScriptTest::run(const Machine& machine, const fs::path& scriptFile, const std::string& wrapper)
{
    fs::path target = scriptFile.empty() ? script() : scriptFile;
    fs::path raw = scratch_.path / "raw.out";
    fs::path traced = scratch_.path / "trace.out";
    ScriptRun result;
    if (underWine()) {
        // As the installer starts it, with the profile's variables set by the Windows parent;
        // the uninstaller's record is passed on through Wine's environment.
        fs::path file = target;
        if (!wrapper.empty()) {
            file = scratch_.path / "wrapper.ps1";
            writeFile(file, wrapper + "\n& '" + scriptPath(target) + "'\n");
        }
        result.status = wine::runEngine({"-NoProfile", "-ExecutionPolicy", "Bypass", "-File", scriptPath(file)}, raw,
                                        {"USERPROFILE=" + scriptPath(machine.profile), "TEMP=" + scriptPath(machine.temp)},
                                        {"ORVAN_UNINSTALLER_RECORD=" + scriptPath(machine.uninstallerRecord())});
        runShell(shellQuote(ORVAN_TRACE_EXE) + " <" + shellQuote(raw.string()) + " >" + shellQuote(traced.string()));
    } else {
        std::string invocation = "-File " + shellQuote(ORVAN_RUN_SCRIPT_PS1) + " -Script " + shellQuote(target.string());
        if (!wrapper.empty()) {
            fs::path wrapperFile = scratch_.path / "wrapper.ps1";
            writeFile(wrapperFile,
                      wrapper + "\n& '" + std::string(ORVAN_RUN_SCRIPT_PS1) + "' -Script '" + target.string() + "'\n");
            invocation = "-File " + shellQuote(wrapperFile.string());
        }
        // A latin-1 locale makes pwsh encode its own output as Windows PowerShell does with a
        // console code page: only what the script writes as UTF-8 bytes arrives intact.
        std::string command =
            "env SSL_CERT_FILE=" + shellQuote(served->https.certificate.string()) +
            " HOME=" + shellQuote(machine.profile.string()) + " USERPROFILE=" + shellQuote(machine.profile.string()) +
            " TEMP=" + shellQuote(machine.temp.string()) +
            " LC_ALL=en_US.ISO-8859-1 POWERSHELL_TELEMETRY_OPTOUT=1 POWERSHELL_UPDATECHECK=Off timeout 120 " + shellQuote(ORVAN_PWSH) + " -NoProfile -NonInteractive " + invocation + " >" +
            shellQuote(raw.string()) + " 2>&1; status=$?; " + shellQuote(ORVAN_TRACE_EXE) + " <" +
            shellQuote(raw.string()) + " >" + shellQuote(traced.string()) + "; exit $status";
        result.status = runShell(command).status;
    }
    result.raw = readFile(raw);
    std::istringstream lines(readFile(traced));
    std::string line;
    while (std::getline(lines, line))
        result.lines.push_back(line);
    return result;
}
