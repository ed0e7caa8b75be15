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
#include <fstream>
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
        makePayload(payload, fillBytes);
        fs::create_directories(tree());
        std::string why;
        ASSERT_TRUE(publishTree(payload, version, tree(), partSize, why)) << why;
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
}
