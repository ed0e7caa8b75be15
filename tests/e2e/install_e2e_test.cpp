// The real installer, end to end: orvan-setup.exe under Wine on the session's display, its script
// run by the PowerShell engine at the prefix's system path against nginx on the port built into
// the installer, a package from orvan-publish. The window's state is read from the screen; the
// outcome from what the installation leaves behind: files, a real shortcut, the records of the
// test launcher and uninstaller.
#include "e2e_support.h"
#include "https_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <thread>

using namespace e2e;

namespace {

constexpr int kToReady = 15000;      // from the window being shown to its first full picture
constexpr int kToInstalling = 5000;  // from the click
constexpr int kToOutcome = 60000;    // the engine's start and the whole installation
constexpr int kToExit = 10000;

struct Installation : ::testing::Test {
    fs::path work;
    fs::path payload;
    HttpsServer server;
    InstallerRun run;
    Shot shot;

    void SetUp() override
    {
        std::string missing = missingPieces();
        ASSERT_TRUE(missing.empty()) << missing;
        char pattern[] = "/tmp/orvan-e2e.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        work = pattern;
        payload = work / "nutzlast";
        ASSERT_FALSE(acceptsConnections(serverPort()))
            << "port " << serverPort() << " is taken; the installer under test can use no other";
    }

    void TearDown() override
    {
        endRun(run);
        stopHttpsServer(server);
        std::error_code ec;
        if (!HasFailure())
            fs::remove_all(work, ec);
    }

    fs::path serverDir() const { return work / "server"; }
    fs::path tree() const { return serverDir() / "www"; }
    fs::path installFolder() const { return run.home / "ORVAN Launcher"; }
    fs::path shortcut() const { return run.home / "Desktop" / "ORVAN Launcher.lnk"; }

    // The package published and served; `extraConfig` goes into nginx's server block.
    void publishAndServe(const std::string& version, const std::string& partSize, std::uint64_t fillBytes = 0,
                         const std::string& extraConfig = {})
    {
        makePayload(payload, installerPayload(fillBytes));
        fs::create_directories(tree());
        ASSERT_NO_FATAL_FAILURE(buildTree(payload, tree(), version, partSize));
        ASSERT_TRUE(startHttpsServer(server, serverDir(), serverPort(), extraConfig)) << server.error;
    }

    // plantPowerShell: a powershell.exe beside the installer, which is also its working folder,
    // as one dropped into Downloads. It is the test launcher, so a start of it leaves a record.
    void startAtReady(const std::string& name, bool plantPowerShell = false)
    {
        std::string why;
        ASSERT_TRUE(prepareRun(run, name, why)) << why;
        if (plantPowerShell)
            fs::copy_file(wine::windowsTools() / "ORVAN Launcher.exe", run.runFolder / "powershell.exe");
        ASSERT_TRUE(startInstaller(run, why)) << why;
        ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Ready, kToReady));
    }

    void expectScreen(Screen wanted, int timeoutMs)
    {
        fs::path picture = work / (run.name + "-timeout-" + screenName(wanted) + ".png");
        ASSERT_TRUE(waitForScreen(wanted, timeoutMs, shot, picture))
            << "waited " << timeoutMs << " ms for " << screenName(wanted) << ", the screen shows "
            << screenName(classify(shot)) << " (" << picture << ")";
    }

    // The uninstaller's arguments, one bracketed list per call.
    std::string uninstallerCalls() const { return wine::recordedArguments(run.uninstallerRecord); }
};

bool waitForFile(const fs::path& file, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (fs::exists(file) && fs::file_size(file) > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string windowsLower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

TEST_F(Installation, InstallsAndTheStartButtonOpensTheInstalledLauncher)
{
    ASSERT_NO_FATAL_FAILURE(publishAndServe("2.4.0", "64K"));
    ASSERT_NO_FATAL_FAILURE(startAtReady("erfolg", true));
    pressButton();
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Installing, kToInstalling));
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Finished, kToOutcome));

    for (const char* file : {"ORVAN Launcher.exe", "ORVAN Deinstallieren.exe", "daten/spiel.cfg"})
        EXPECT_EQ(readFile(installFolder() / file), readFile(payload / file)) << file;
    EXPECT_FALSE(fs::exists(run.home / "Temp" / "orvan-launcher-2.4.0")) << "the download folder is removed";

    ASSERT_TRUE(fs::exists(shortcut()));
    std::string saved = wine::readShortcut(shortcut());
    nlohmann::json link = nlohmann::json::parse(saved, nullptr, false);
    ASSERT_TRUE(link.is_object()) << "not loadable as a shortcut: " << saved;
    std::string launcher = windowsPath(installFolder() / "ORVAN Launcher.exe");
    EXPECT_EQ(link.value("TargetPath", ""), launcher);
    EXPECT_EQ(link.value("WorkingDirectory", ""), windowsPath(installFolder()));
    EXPECT_EQ(link.value("IconLocation", ""), launcher + ",0");

    EXPECT_EQ(uninstallerCalls(), "[/registrieren][/version][2.4.0]\n") << readFile(run.uninstallerRecord);
    // Started in the install folder, not in the installer's, where Windows would look for DLLs.
    EXPECT_NE(windowsLower(readFile(run.uninstallerRecord))
                  .find(windowsLower("program=" + windowsPath(installFolder() / "ORVAN Deinstallieren.exe") +
                                     "\nfolder=" + windowsPath(installFolder()) + "\n")),
              std::string::npos)
        << readFile(run.uninstallerRecord);
    EXPECT_FALSE(fs::exists(run.launcherRecord)) << "nothing is started before the click, the planted powershell.exe neither";

    pressButton();
    ASSERT_TRUE(waitForExit(run, kToExit)) << "the start button closes the installer";
    EXPECT_EQ(run.exitStatus, 0);
    ASSERT_TRUE(waitForFile(run.launcherRecord, kToExit)) << "the installed launcher was not started";
    std::string record = readFile(run.launcherRecord);
    // The launcher runs in its own folder, not in the installer's.
    EXPECT_EQ(windowsLower(record), windowsLower("program=" + windowsPath(installFolder() / "ORVAN Launcher.exe") +
                                                 "\nfolder=" + windowsPath(installFolder()) + "\narguments=\nargv=\n"));
}

TEST_F(Installation, FailsWhileTheServerIsDownAndARetryInstalls)
{
    ASSERT_NO_FATAL_FAILURE(publishAndServe("2.5.0", ""));
    stopHttpsServer(server); // the certificate stays for the second start
    ASSERT_NO_FATAL_FAILURE(startAtReady("nochmal"));
    int readyLabel = labelWidth(shot);

    pressButton();
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Failed, kToOutcome));
    // "NOCHMAL VERSUCHEN" is five characters longer than "INSTALLIEREN".
    EXPECT_GT(labelWidth(shot), readyLabel + 25) << "ready " << readyLabel;
    EXPECT_FALSE(fs::exists(installFolder() / "ORVAN Launcher.exe"));
    EXPECT_FALSE(fs::exists(run.home / "Temp" / "orvan-launcher-2.5.0")) << "the catalog was never read";

    ASSERT_TRUE(startHttpsServer(server, serverDir(), serverPort())) << server.error;
    pressButton();
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Installing, kToInstalling));
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Finished, kToOutcome));
    EXPECT_EQ(readFile(installFolder() / "ORVAN Launcher.exe"), readFile(payload / "ORVAN Launcher.exe"));
    EXPECT_EQ(uninstallerCalls(), "[/registrieren][/version][2.5.0]\n");
}

TEST_F(Installation, WrongPartDigestFailsAndInstallsNothing)
{
    ASSERT_NO_FATAL_FAILURE(publishAndServe("2.6.0", "16K"));
    fs::path manifestFile = tree() / "games" / "launcher" / "update.json";
    nlohmann::ordered_json manifest = nlohmann::ordered_json::parse(readFile(manifestFile));
    ASSERT_GE(manifest["paket"]["teile"].size(), 3u);
    std::string digest = manifest["paket"]["teile"][1]["sha256"];
    digest[10] = digest[10] == '0' ? '1' : '0';
    manifest["paket"]["teile"][1]["sha256"] = digest;
    std::ofstream(manifestFile, std::ios::trunc) << manifest.dump(2);

    ASSERT_NO_FATAL_FAILURE(startAtReady("pruefsumme"));
    pressButton();
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Failed, kToOutcome));
    // The script stopped at part 2: parts 1 and 2 were fetched and stay for the next attempt,
    // part 3 never came.
    fs::path download = run.home / "Temp" / "orvan-launcher-2.6.0";
    for (int k = 0; k < 3; ++k) {
        std::string part = manifest["paket"]["teile"][k]["url"];
        EXPECT_EQ(fs::exists(download / part), k < 2) << part;
    }
    EXPECT_FALSE(fs::exists(installFolder())) << "nothing unpacked";
    EXPECT_FALSE(fs::exists(shortcut()));
    EXPECT_FALSE(fs::exists(run.uninstallerRecord));

    pressButton(); // a retry, not a start: the same wrong part fails again
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Installing, kToInstalling));
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Failed, kToOutcome));
    EXPECT_FALSE(fs::exists(run.launcherRecord)) << "nothing launched";
}

TEST_F(Installation, ClosingTheWindowWhileInstallingEndsTheInstallerAtOnce)
{
    // Slow parts keep the installation running for half a minute.
    ASSERT_NO_FATAL_FAILURE(publishAndServe("2.7.0", "1M", 8u << 20, "location /games/launcher/ { limit_rate 256k; }"));
    ASSERT_NO_FATAL_FAILURE(startAtReady("schliessen"));
    pressButton();
    ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Installing, kToInstalling));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    ASSERT_TRUE(captureClient(shot));
    ASSERT_EQ(classify(shot), Screen::Installing) << "the installation must still be running";

    auto closed = std::chrono::steady_clock::now();
    closeWindow();
    ASSERT_TRUE(waitForExit(run, 6000)) << "the installer waits for its installation";
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - closed);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_FALSE(fs::exists(installFolder() / "ORVAN Launcher.exe")) << "the installation had not got that far";
    std::printf("closed while installing: ended after %lld ms\n", static_cast<long long>(took.count()));
    stopHttpsServer(server); // the script, left running, then fails soon
    // Until it has, it counts as an installation that runs, and the next test's would meet it.
    EXPECT_TRUE(waitForScriptRuns(90000)) << "the script left running did not end";
}

// ---- The real uninstaller, installed by the real installer ----

namespace {

constexpr const char* kDialogTitle = "ORVAN Launcher deinstallieren";
constexpr int kToFinish = 15000; // the finishing copy removes the uninstaller after the original ended

struct Uninstallation : Installation {
    // A release whose payload is the test launcher, a file in a subfolder and `extra` (relative
    // path -> bytes), with the uninstaller of this build; it replaces whatever was served.
    void serveRelease(const std::string& version, const std::map<std::string, std::string>& extra = {})
    {
        stopHttpsServer(server);
        std::error_code ec;
        fs::remove_all(tree(), ec);
        payload = work / ("nutzlast-" + version);
        PayloadFiles files = installerPayload();
        for (const auto& [relative, bytes] : extra)
            files.data[relative] = bytes;
        makePayload(payload, files);
        fs::create_directories(tree());
        ASSERT_NO_FATAL_FAILURE(buildTree(payload, tree(), version, "", {}, {"--uninstaller", realUninstaller().string()}));
        ASSERT_TRUE(startHttpsServer(server, serverDir(), serverPort())) << server.error;
    }

    // One installation through the window, which is then closed; the prefix keeps what an
    // earlier one left (files, entry, record) unless `fresh`.
    void install(const std::string& name, bool fresh = true)
    {
        std::string why;
        if (fresh) {
            ASSERT_TRUE(prepareRun(run, name, why)) << why;
            runProgram({wine::loader(), "reg", "delete", kUninstallKey, "/f"});
        } else {
            placeInstaller(run, name);
        }
        ASSERT_TRUE(startInstaller(run, why)) << why;
        ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Ready, kToReady));
        pressButton();
        ASSERT_NO_FATAL_FAILURE(expectScreen(Screen::Finished, kToOutcome));
        closeWindow();
        ASSERT_TRUE(waitForExit(run, kToExit));
    }

    // Every file the package delivered, relative to the install folder.
    std::vector<std::string> packageFiles() const
    {
        std::vector<std::string> files = {"ORVAN Deinstallieren.dateien"};
        for (const auto& entry : fs::recursive_directory_iterator(payload))
            if (entry.is_regular_file())
                files.push_back(entry.path().lexically_relative(payload).generic_string());
        return files;
    }

    fs::path installedUninstaller() const { return installFolder() / "ORVAN Deinstallieren.exe"; }
    fs::path record() const { return installFolder() / "ORVAN Deinstallieren.bestand"; }

    // The registered QuietUninstallString, run as a tool would run it: its exit code.
    int removeSilently()
    {
        std::string quiet = registryValues(kUninstallKey)["QuietUninstallString"].data;
        std::size_t close = quiet.find('"', 1);
        EXPECT_TRUE(quiet.size() > 2 && quiet[0] == '"' && close != std::string::npos) << quiet;
        if (close == std::string::npos)
            return -1;
        std::string program = quiet.substr(1, close - 1);
        EXPECT_EQ(quiet.substr(close + 1), " /still");
        return runProgram({wine::loader(), program, "/still"});
    }

    bool waitUntilGone(const fs::path& file, int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            if (!fs::exists(file))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
};

} // namespace

TEST_F(Uninstallation, RegistersEveryValueAndWinesUninstallerRemovesWhatThePackageBrought)
{
    ASSERT_NO_FATAL_FAILURE(serveRelease("3.1.0", {{"daten/grafik/karte.png", std::string(3000, 'k')}}));
    ASSERT_NO_FATAL_FAILURE(install("entfernen"));

    std::string folder = windowsPath(installFolder());
    std::string program = windowsPath(installedUninstaller());
    std::map<std::string, RegistryValue> values = registryValues(kUninstallKey);
    std::uintmax_t bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(installFolder()))
        if (entry.is_regular_file())
            bytes += entry.file_size();
    char size[32];
    std::snprintf(size, sizeof size, "0x%jx", (bytes + 1023) / 1024);
    std::time_t now = std::time(nullptr);
    char today[16];
    std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
    const std::map<std::string, std::pair<std::string, std::string>> expected = {
        {"DisplayName", {"REG_SZ", "ORVAN Launcher"}},
        {"DisplayVersion", {"REG_SZ", "3.1.0"}},
        {"Publisher", {"REG_SZ", "NORDALIS"}},
        {"InstallLocation", {"REG_SZ", folder}},
        {"DisplayIcon", {"REG_SZ", folder + "\\ORVAN Launcher.exe,0"}},
        {"UninstallString", {"REG_SZ", "\"" + program + "\""}},
        {"QuietUninstallString", {"REG_SZ", "\"" + program + "\" /still"}},
        {"EstimatedSize", {"REG_DWORD", size}},
        {"InstallDate", {"REG_SZ", today}},
        {"NoModify", {"REG_DWORD", "0x1"}},
        {"NoRepair", {"REG_DWORD", "0x1"}},
    };
    ASSERT_EQ(values.size(), expected.size());
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(values[name].type, value.first) << name;
        EXPECT_EQ(windowsLower(values[name].data), windowsLower(value.second)) << name;
    }
    EXPECT_NE(installedApps().find("ORVAN Launcher|||ORVAN Launcher"), std::string::npos) << installedApps();

    // What the user and the launcher made in the folder is theirs.
    fs::create_directories(installFolder() / "spielstaende");
    std::ofstream(installFolder() / "spielstaende" / "slot1.sav") << "level 7";
    std::ofstream(installFolder() / "einstellungen.ini") << "vollbild=1";

    // As Settings - Apps does it: the UninstallString, with its two dialogs.
    std::thread remover([] { runProgram({wine::loader(), "uninstaller", "--remove", "ORVAN Launcher"}); });
    bool confirmed = answerDialog(kDialogTitle, 20000);
    bool closed = confirmed && answerDialog(kDialogTitle, 20000);
    remover.join();
    ASSERT_TRUE(confirmed) << "no confirmation";
    EXPECT_TRUE(closed) << "no closing message";
    EXPECT_TRUE(waitUntilGone(installedUninstaller(), kToFinish));
    EXPECT_TRUE(waitUntilGone(record(), kToFinish)) << "the finishing copy removes the record after the program";

    for (const std::string& file : packageFiles())
        EXPECT_FALSE(fs::exists(installFolder() / file)) << file;
    EXPECT_FALSE(fs::exists(record()));
    EXPECT_FALSE(fs::exists(installFolder() / "daten")) << "folders emptied by the removal go";
    EXPECT_FALSE(fs::exists(shortcut()));
    EXPECT_TRUE(registryValues(kUninstallKey).empty());
    EXPECT_EQ(installedApps().find("ORVAN Launcher"), std::string::npos) << installedApps();
    EXPECT_EQ(readFile(installFolder() / "spielstaende" / "slot1.sav"), "level 7");
    EXPECT_EQ(readFile(installFolder() / "einstellungen.ini"), "vollbild=1");
}

TEST_F(Uninstallation, AfterAnUpdateTheFilesOfBothVersionsGoAndTheEmptyFolderToo)
{
    ASSERT_NO_FATAL_FAILURE(serveRelease("1.0", {{"alt/nur-eins.dat", "eins"}, {"gemeinsam/x.dat", "1"}}));
    ASSERT_NO_FATAL_FAILURE(install("update-1"));
    ASSERT_NO_FATAL_FAILURE(serveRelease("2.0", {{"neu/nur-zwei.dat", "zwei"}, {"gemeinsam/x.dat", "2"}}));
    ASSERT_NO_FATAL_FAILURE(install("update-2", false));
    EXPECT_EQ(registryValues(kUninstallKey)["DisplayVersion"].data, "2.0");
    ASSERT_TRUE(fs::exists(installFolder() / "alt" / "nur-eins.dat")) << "an update leaves the old version's files";
    std::string kept = readFile(record());
    for (const char* line : {"alt\\nur-eins.dat\n", "neu\\nur-zwei.dat\n", "gemeinsam\\x.dat\n"})
        EXPECT_NE(kept.find(line), std::string::npos) << line << " in\n" << kept;

    EXPECT_EQ(removeSilently(), 0);
    EXPECT_TRUE(waitUntilGone(installFolder(), kToFinish)) << "nothing of anyone's is left, so the folder goes";
    EXPECT_FALSE(fs::exists(shortcut()));
    EXPECT_TRUE(registryValues(kUninstallKey).empty());
}

TEST_F(Uninstallation, ARunningLauncherStopsTheRemovalBeforeAnythingIsDeleted)
{
    ASSERT_NO_FATAL_FAILURE(serveRelease("4.0"));
    ASSERT_NO_FATAL_FAILURE(install("laeuft"));
    // The installed launcher, held open as a user would keep it running.
    fs::path launcherRecord = run.root / "gestartet.txt";
    std::thread launcher([&] {
        runProgram({wine::loader(), (installFolder() / "ORVAN Launcher.exe").string()}, {},
                   {"ORVAN_LAUNCHER_RECORD=" + windowsPath(launcherRecord), "ORVAN_LAUNCHER_HOLD_MS=20000"});
    });
    bool running = waitForFile(launcherRecord, 15000);
    int status = running ? removeSilently() : -1;
    launcher.join();
    ASSERT_TRUE(running) << "the launcher did not start";
    EXPECT_EQ(status, 4) << "files in use";
    for (const std::string& file : packageFiles())
        EXPECT_TRUE(fs::exists(installFolder() / file)) << file << " must stay while the launcher runs";
    EXPECT_TRUE(fs::exists(record()));
    EXPECT_TRUE(fs::exists(shortcut()));
    EXPECT_FALSE(registryValues(kUninstallKey).empty());

    // Closed, the launcher no longer holds anything.
    EXPECT_EQ(removeSilently(), 0);
    EXPECT_TRUE(waitUntilGone(installFolder(), kToFinish));
}

TEST_F(Uninstallation, ARecordedPathThatClimbsOutIsRefusedAndReported)
{
    ASSERT_NO_FATAL_FAILURE(serveRelease("5.0"));
    ASSERT_NO_FATAL_FAILURE(install("hinaus"));
    std::ofstream(run.home / "fremd.txt") << "nicht vom Launcher";
    std::ofstream(record(), std::ios::app) << "..\\fremd.txt\nC:\\windows\\win.ini\n";

    EXPECT_EQ(removeSilently(), 5) << "done, with refused entries";
    EXPECT_TRUE(waitUntilGone(installFolder(), kToFinish));
    EXPECT_EQ(readFile(run.home / "fremd.txt"), "nicht vom Launcher");
    EXPECT_TRUE(fs::exists(wine::prefix() / "drive_c" / "windows" / "win.ini"));
    fs::remove(run.home / "fremd.txt");
}

TEST_F(Uninstallation, BadCallsAndAnUnreadableRecordChangeNothing)
{
    ASSERT_NO_FATAL_FAILURE(serveRelease("6.0"));
    ASSERT_NO_FATAL_FAILURE(install("falsch"));
    std::string program = windowsPath(installedUninstaller());
    auto everythingStays = [&](const std::string& call) {
        for (const std::string& file : packageFiles())
            EXPECT_TRUE(fs::exists(installFolder() / file)) << file << " after " << call;
        EXPECT_TRUE(fs::exists(shortcut())) << call;
        EXPECT_EQ(registryValues(kUninstallKey)["DisplayVersion"].data, "6.0") << call;
    };

    // Without the silent switch a bad call says so in a dialog.
    int status = -1;
    std::thread shown([&] { status = runProgram({wine::loader(), program, "/entfernen"}); });
    bool answered = answerDialog(kDialogTitle, 20000);
    shown.join();
    EXPECT_TRUE(answered) << "no message for a bad call";
    EXPECT_EQ(status, 2);
    everythingStays("/entfernen");

    for (const std::vector<std::string>& call : std::vector<std::vector<std::string>>{
             {"/still", "/entfernen"}, {"/registrieren", "/version"}, {"/registrieren"}, {"/still", "/still"}}) {
        std::vector<std::string> command = {wine::loader(), program};
        command.insert(command.end(), call.begin(), call.end());
        EXPECT_EQ(runProgram(command), 2) << call.back();
        everythingStays(call.back());
    }

    std::string kept = readFile(record());
    std::ofstream(record(), std::ios::binary | std::ios::app) << "daten/\xFF\xFE.txt\n";
    EXPECT_EQ(removeSilently(), 3) << "a record that is no UTF-8";
    everythingStays("an unreadable record");
    EXPECT_EQ(runProgram({wine::loader(), program, "/registrieren", "/version", "6.1"}), 3);
    everythingStays("registration over an unreadable record");

    std::ofstream(record(), std::ios::binary | std::ios::trunc) << kept;
    EXPECT_EQ(removeSilently(), 0);
    EXPECT_TRUE(waitUntilGone(installFolder(), kToFinish));
}

// ---- The real uninstaller on an installation laid out as the script leaves it ----

namespace {

// No installer, engine or server: a Wine session, its display and the windows-e2e programs.
struct PlacedInstallation : Uninstallation {
    fs::path folder() const { return wine::userProfile() / "ORVAN Launcher"; }
    fs::path games() const { return work / "Spiele"; }
    void SetUp() override
    {
        ASSERT_TRUE(!wine::prefix().empty() && fs::exists(realUninstaller())) << "needs a Wine session and windows-e2e";
        char pattern[] = "/tmp/orvan-e2e.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        work = pattern;
    }
    void TearDown() override { clear(), Uninstallation::TearDown(); }
    void clear()
    {
        std::error_code ec;
        fs::remove(folder(), ec); // a link
        fs::remove_all(folder(), ec);
        fs::remove_all(games(), ec);
        runProgram({wine::loader(), "reg", "delete", kUninstallKey, "/f"});
    }
    // The recording test launcher, this build's uninstaller, `files` and the list of them all, registered.
    void place(const std::string& version, const std::vector<std::string>& files = {"daten/spiel.cfg"})
    {
        clear();
        fs::create_directories(folder() / "daten");
        fs::copy_file(wine::windowsTools() / "ORVAN Launcher.exe", folder() / "ORVAN Launcher.exe");
        fs::copy_file(realUninstaller(), folder() / "ORVAN Deinstallieren.exe");
        std::string list = "ORVAN Deinstallieren.dateien\nORVAN Deinstallieren.exe\nORVAN Launcher.exe\n";
        for (const std::string& file : files)
            writeFile(folder() / file, "vom Paket"), list += file + "\n";
        writeFile(folder() / "ORVAN Deinstallieren.dateien", list);
        ASSERT_EQ(register_(version), 0);
    }
    int register_(const std::string& version)
    {
        return runProgram({wine::loader(), windowsPath(folder() / "ORVAN Deinstallieren.exe"), "/registrieren", "/version", version});
    }
};

} // namespace

// Moved elsewhere with a link (as Wine shows a Unix link: a folder that is a reparse point): every
// recorded name would reach a file of that name there, another game's included.
TEST_F(PlacedInstallation, AnInstallFolderThatIsALinkKeepsEverythingBehindItAndTheEntry)
{
    ASSERT_NO_FATAL_FAILURE(place("7.0", {"UnityPlayer.dll", "daten/spiel.cfg"}));
    fs::rename(folder(), games());
    fs::create_directory_symlink(games(), folder());
    EXPECT_EQ(removeSilently(), 7);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // what a finishing copy would take
    for (const char* file : {"UnityPlayer.dll", "daten/spiel.cfg", "ORVAN Launcher.exe", "ORVAN Deinstallieren.exe",
                             "ORVAN Deinstallieren.bestand"})
        EXPECT_TRUE(fs::exists(games() / file)) << file;
    EXPECT_EQ(registryValues(kUninstallKey)["DisplayVersion"].data, "7.0") << "the entry stays for a second try";
}

// A record that names nothing usable is still an installation's: its launcher is checked for use
// and removed, with the uninstaller and the record.
TEST_F(PlacedInstallation, ARecordThatNamesNothingStillWaitsForTheLauncherAndRemovesIt)
{
    for (const auto& [bytes, finalStatus] : {std::pair<std::string, int>{"", 0}, {"..\\fremd.txt\n", 5}}) {
        ASSERT_NO_FATAL_FAILURE(place("8.0"));
        writeFile(folder() / "ORVAN Deinstallieren.bestand", bytes);
        fs::path started = work / ("gestartet" + std::to_string(finalStatus));
        std::thread launcher([&] {
            runProgram({wine::loader(), windowsPath(folder() / "ORVAN Launcher.exe")}, {},
                       {"ORVAN_LAUNCHER_RECORD=" + windowsPath(started), "ORVAN_LAUNCHER_HOLD_MS=8000"});
        });
        int status = waitForFile(started, 15000) ? removeSilently() : -1;
        launcher.join();
        EXPECT_EQ(status, 4) << "the launcher is in use; record [" << bytes << "]";
        EXPECT_TRUE(fs::exists(folder() / "ORVAN Launcher.exe") && !registryValues(kUninstallKey).empty());
        EXPECT_EQ(removeSilently(), finalStatus);
        EXPECT_TRUE(waitUntilGone(folder() / "ORVAN Deinstallieren.bestand", kToFinish));
        EXPECT_FALSE(fs::exists(folder() / "ORVAN Launcher.exe") || fs::exists(folder() / "ORVAN Deinstallieren.exe"));
        EXPECT_TRUE(fs::exists(folder() / "daten" / "spiel.cfg")) << "not named by the record";
    }
}

// An entry that names another folder belongs to another installation: it stays, and the exit code says so.
TEST_F(PlacedInstallation, AnEntryOfAnotherFolderStaysAndTheRemovalSaysSo)
{
    for (bool other : {true, false}) {
        ASSERT_NO_FATAL_FAILURE(place("9.0"));
        std::string location = other ? "D:\\Anderswo\\ORVAN Launcher" : windowsLower(windowsPath(folder()));
        runProgram({wine::loader(), "reg", "add", kUninstallKey, "/v", "InstallLocation", "/d", location, "/f"});
        EXPECT_EQ(removeSilently(), other ? 5 : 0);
        EXPECT_TRUE(waitUntilGone(folder(), kToFinish));
        EXPECT_EQ(registryValues(kUninstallKey)["InstallLocation"].data, other ? location : "");
    }
}

// The record's new text goes under a new name beside it: what lay under that name is deleted as
// that name, never written through; what cannot be deleted leaves record and entry as they were.
// (A link to a file is left out: Wine deletes its target where Windows deletes the link.)
TEST_F(PlacedInstallation, TheRecordsNewTextNeverReachesWhatLayUnderItsName)
{
    for (const auto& [what, status] : {std::pair<std::string, int>{"stale file", 0}, {"hard link", 0},
                                       {"link to a folder", 3}, {"folder", 3}}) {
        ASSERT_NO_FATAL_FAILURE(place("10.0"));
        fs::path outside = work / "aussen.txt", pending = folder() / "ORVAN Deinstallieren.bestand.neu";
        fs::create_directories(games());
        writeFile(outside, "unberuehrt");
        writeFile(games() / "spiel.dat", "unberuehrt");
        if (what == "stale file")
            writeFile(pending, "abgebrochen");
        else if (what == "hard link")
            fs::create_hard_link(outside, pending);
        else if (what == "link to a folder")
            fs::create_directory_symlink(games(), pending);
        else
            fs::create_directory(pending);
        std::string kept = readFile(folder() / "ORVAN Deinstallieren.bestand");
        std::ofstream(folder() / "ORVAN Deinstallieren.dateien", std::ios::app) << "neu/datei.dat\n";

        EXPECT_EQ(register_("10.1"), status) << what;
        EXPECT_EQ(readFile(outside) + readFile(games() / "spiel.dat"), "unberuehrtunberuehrt") << what;
        std::string record = readFile(folder() / "ORVAN Deinstallieren.bestand");
        EXPECT_EQ(record.find("neu\\datei.dat\n") != std::string::npos, status == 0) << what << ": " << record;
        EXPECT_EQ(record == kept, status != 0) << what;
        EXPECT_EQ(registryValues(kUninstallKey)["DisplayVersion"].data, status == 0 ? "10.1" : "10.0") << what;
    }
}

// ---- Unattended: the switches, their exit codes and the run log ----

namespace {

constexpr const char* kInstallerWindow = "^ORVAN Launcher // Installation$";
constexpr const char* kBadCallTitle = "ORVAN Launcher installieren";

// One unattended installer run, watched until it ends: what showed on the screen meanwhile.
struct UnattendedRun {
    InstallerRun run;
    fs::path log;             // the run log, when the arguments name it
    bool windowShown = false; // the installer window was mapped
    bool anyWindow = false;   // an X window of the installer existed at all, shown or not
    bool dialogAnswered = false;
};

struct Unattended : Uninstallation {
    // "LOG" in the arguments stands for the run's log file, C:\e2e\<name>\protokoll.txt.
    void launch(UnattendedRun& u, const std::string& name, std::vector<std::string> arguments)
    {
        placeInstaller(u.run, name);
        u.log = u.run.root / "protokoll.txt";
        fs::remove(u.log);
        for (std::string& arg : arguments)
            if (arg == "LOG")
                arg = windowsPath(u.log);
        launchInstaller(u.run, arguments);
    }

    // Until every run has ended, bounded; the dialog of a bad call, once it shows, is answered.
    bool watch(const std::vector<UnattendedRun*>& runs, int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 150) {
            bool going = false;
            for (UnattendedRun* u : runs) {
                if (waitForExit(u->run, 0))
                    continue;
                going = true;
                u->windowShown = u->windowShown || windowExists(kInstallerWindow, true);
                u->anyWindow = u->anyWindow || windowExists("ORVAN", false);
                if (!u->dialogAnswered && windowExists(std::string("^") + kBadCallTitle + "$", true))
                    u->dialogAnswered = answerDialog(kBadCallTitle, 1000);
            }
            if (!going)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        return false;
    }
};

enum class Before { nothing, serverDown, serverUp, launcherRunning };
enum class Shows { nothing, window, dialog };

struct UnattendedCase {
    const char* name;
    Before before;
    std::vector<std::string> arguments;
    int exitCode;
    Shows shows;
    std::vector<std::string> logHas; // in this order; empty: no log to look at
    bool installs;                   // the launcher is in place afterwards
};

} // namespace

TEST_F(Unattended, SwitchesInstallWithoutClicksAndEndWithTheCodeOfTheOutcome)
{
    ASSERT_NO_FATAL_FAILURE(serveRelease("7.0"));
    std::string why;
    ASSERT_TRUE(prepareRun(run, "still-vorbereitung", why)) << why;
    runProgram({wine::loader(), "reg", "delete", kUninstallKey, "/f"});

    const std::vector<UnattendedCase> cases = {
        {"unknown-switch", Before::nothing, {"/still", "/unbekannt", "/protokoll", "LOG"}, 2, Shows::nothing,
         {"ERGEBNIS 2: falscher Aufruf - Unbekannte Angabe \"/unbekannt\"."}, false},
        {"log-name-missing", Before::nothing, {"-STILL", "/protokoll"}, 2, Shows::nothing, {}, false},
        {"bad-call-shown", Before::nothing, {"/passiv", "/protokoll"}, 2, Shows::dialog, {}, false},
        {"server-down", Before::serverDown, {"/still", "/protokoll", "LOG"}, 3, Shows::nothing,
         {"Verbinde mit localhost", "ERGEBNIS 3: keine Verbindung zum Server - "}, false},
        {"still", Before::serverUp, {"/Still", "-Protokoll", "LOG"}, 0, Shows::nothing,
         {"Starte ...", "Verbinde mit localhost", "ORVAN Launcher 7.0 wird geladen", "Lade Teil 1 / 1", "Pruefe Paket",
          "Entpacke Dateien", "Erstelle Desktop-Verknuepfung", "Trage den Launcher in Windows ein", "Fertig",
          "ERGEBNIS 0: installiert - ", "\\ORVAN Launcher\\ORVAN Launcher.exe"},
         true},
        {"launcher-running", Before::launcherRunning, {"/still", "/protokoll", "LOG"}, 4, Shows::nothing,
         {"ERGEBNIS 4: Datei in Gebrauch - Die Datei \"ORVAN Launcher.exe\""}, true},
        {"passive", Before::nothing, {"/passiv", "/protokoll", "LOG"}, 0, Shows::window, {"Fertig", "ERGEBNIS 0"}, true},
    };
    for (const UnattendedCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::thread launcher;
        fs::path launcherStarted = work / (std::string(c.name) + "-launcher.txt");
        if (c.before == Before::serverDown)
            stopHttpsServer(server);
        if (c.before == Before::serverUp)
            ASSERT_TRUE(startHttpsServer(server, serverDir(), serverPort())) << server.error;
        if (c.before == Before::launcherRunning) {
            launcher = std::thread([&] {
                runProgram({wine::loader(), (installFolder() / "ORVAN Launcher.exe").string()}, {},
                           {"ORVAN_LAUNCHER_RECORD=" + windowsPath(launcherStarted), "ORVAN_LAUNCHER_HOLD_MS=20000"});
            });
            ASSERT_TRUE(waitForFile(launcherStarted, 15000)) << "the launcher did not start";
        }
        UnattendedRun u;
        launch(u, c.name, c.arguments);
        bool ended = watch({&u}, kToOutcome);
        endRun(u.run);
        if (launcher.joinable())
            launcher.join();
        ASSERT_TRUE(ended) << "still running";

        EXPECT_EQ(u.run.exitStatus, c.exitCode);
        EXPECT_EQ(u.windowShown, c.shows == Shows::window);
        EXPECT_EQ(u.dialogAnswered, c.shows == Shows::dialog);
        if (c.shows == Shows::nothing)
            EXPECT_FALSE(u.anyWindow) << "no window, not even a hidden one";
        std::string log = readFile(u.log);
        std::size_t at = 0;
        for (const std::string& part : c.logHas) {
            at = log.find(part, at);
            ASSERT_NE(at, std::string::npos) << part << " in\n" << log;
        }
        if (!c.logHas.empty())
            EXPECT_EQ(log.find('\n', log.find("ERGEBNIS")), log.size() - 1) << "the outcome ends the log:\n" << log;
        EXPECT_EQ(fs::exists(installFolder() / "ORVAN Launcher.exe"), c.installs);
        EXPECT_FALSE(fs::exists(u.run.launcherRecord)) << "an unattended run starts no launcher";
    }
    EXPECT_EQ(registryValues(kUninstallKey)["DisplayVersion"].data, "7.0") << "the package's uninstaller registered it";

    // Two at once: one installs, the other finds it running and starts no script of its own.
    UnattendedRun first, second;
    launch(first, "zugleich-1", {"/still", "/protokoll", "LOG"});
    launch(second, "zugleich-2", {"/still", "/protokoll", "LOG"});
    bool ended = watch({&first, &second}, kToOutcome);
    endRun(first.run);
    endRun(second.run);
    ASSERT_TRUE(ended);
    EXPECT_EQ(std::min(first.run.exitStatus, second.run.exitStatus), 0);
    EXPECT_EQ(std::max(first.run.exitStatus, second.run.exitStatus), 7);
    EXPECT_NE(readFile(first.run.exitStatus == 7 ? first.log : second.log).find("ERGEBNIS 7: "), std::string::npos);

    // The uninstaller's silent switch removes what the silent installer installed.
    EXPECT_EQ(removeSilently(), 0);
    EXPECT_TRUE(waitUntilGone(installFolder(), kToFinish));
    EXPECT_FALSE(fs::exists(shortcut()));
    EXPECT_TRUE(registryValues(kUninstallKey).empty());
}
