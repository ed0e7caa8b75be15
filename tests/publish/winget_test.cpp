// orvan-publish winget: the three manifests a studio submits for its installer, read back as YAML
// and checked against the rules of winget's manifest schemas 1.10.0 (check_winget.py), and what
// they say about the installer: its digest, switches, exit codes and the entry it registers.
#include "publish_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>

namespace {

struct WingetRun {
    Outcome outcome;
    nlohmann::json manifests; // file name -> document, as check_winget.py read them
    Outcome check;
};

WingetRun writeManifests(const fs::path& folder, const std::vector<std::string>& arguments)
{
    WingetRun run;
    std::vector<std::string> command = {"winget"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    run.outcome = runPublish(command);
    std::string files;
    if (fs::exists(folder))
        for (const auto& entry : fs::directory_iterator(folder))
            files += " " + shellQuote(entry.path().string());
    if (!files.empty()) {
        run.check = runShell("python3 " + shellQuote(ORVAN_CHECK_WINGET_PY) + files);
        run.manifests = nlohmann::json::parse(run.check.out, nullptr, false);
    }
    return run;
}

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

} // namespace

TEST(Winget, ManifestsFollowTheSchemaAndDescribeTheUnattendedInstaller)
{
    TempDir dir;
    fs::path installer = dir.path / "ORVAN Launcher Setup.exe";
    writeFile(installer, "MZ ein Installer, so wie er ausgeliefert wird");
    fs::path out = dir.path / "manifeste";
    WingetRun run = writeManifests(out, {installer.string(), "--url", "https://download.example.com/ORVAN%20Setup.exe",
                                         "--id", "Nordalis.OrvanLauncher", "--version", "3.1.0", "--publisher",
                                         "Nordalis Studio", "--out", out.string()});
    ASSERT_EQ(run.outcome.status, 0) << run.outcome.err;
    ASSERT_EQ(run.check.status, 0) << run.check.err;
    ASSERT_TRUE(run.manifests.is_object()) << run.check.out;
    ASSERT_EQ(run.manifests.size(), 3u) << run.manifests.dump(1);

    const nlohmann::json& version = run.manifests["Nordalis.OrvanLauncher.yaml"];
    EXPECT_EQ(version["ManifestType"], "version");
    EXPECT_EQ(version["PackageVersion"], "3.1.0");
    EXPECT_EQ(version["DefaultLocale"], "de-DE");
    EXPECT_EQ(version["ManifestVersion"], "1.10.0");

    const nlohmann::json& locale = run.manifests["Nordalis.OrvanLauncher.locale.de-DE.yaml"];
    EXPECT_EQ(locale["ManifestType"], "defaultLocale");
    EXPECT_EQ(locale["Publisher"], "Nordalis Studio");
    EXPECT_EQ(locale["PackageName"], "ORVAN Launcher");

    const nlohmann::json& manifest = run.manifests["Nordalis.OrvanLauncher.installer.yaml"];
    EXPECT_EQ(manifest["PackageIdentifier"], "Nordalis.OrvanLauncher");
    EXPECT_EQ(manifest["InstallerType"], "exe");
    EXPECT_EQ(manifest["Scope"], "user");
    EXPECT_EQ(manifest["UpgradeBehavior"], "install");
    EXPECT_EQ(manifest["InstallModes"], nlohmann::json({"interactive", "silent", "silentWithProgress"}));
    EXPECT_EQ(manifest["InstallerSwitches"],
              nlohmann::json({{"Silent", "/still"}, {"SilentWithProgress", "/passiv"}, {"Log", "/protokoll \"<LOGPATH>\""}}));
    // The installer's exit codes, as its README documents them; 1 (any other failure) is winget's
    // plain failure.
    std::map<int, std::string> responses;
    for (const nlohmann::json& code : manifest["ExpectedReturnCodes"])
        responses[code["InstallerReturnCode"].get<int>()] = code["ReturnResponse"];
    EXPECT_EQ(responses, (std::map<int, std::string>{{2, "invalidParameter"}, {3, "noNetwork"}, {4, "fileInUse"},
                                                      {5, "diskFull"}, {6, "contactSupport"}, {7, "installInProgress"}}));
    ASSERT_EQ(manifest["Installers"].size(), 1u);
    const nlohmann::json& entry = manifest["Installers"][0];
    EXPECT_EQ(entry["Architecture"], "x64");
    EXPECT_EQ(entry["InstallerUrl"], "https://download.example.com/ORVAN%20Setup.exe");
    EXPECT_EQ(entry["InstallerSha256"], upper(sha256sum(installer)));
    // The uninstaller's key below ...\CurrentVersion\Uninstall, by which winget finds the installation.
    EXPECT_EQ(entry["AppsAndFeaturesEntries"],
              nlohmann::json::parse(R"([{"DisplayName": "ORVAN Launcher", "ProductCode": "ORVAN Launcher"}])"));
}

TEST(Winget, ValuesTheSchemaRefusesAreABadCallAndWriteNothing)
{
    TempDir dir;
    fs::path installer = dir.path / "setup.exe";
    writeFile(installer, "MZ");
    fs::path out = dir.path / "manifeste";
    const std::vector<std::string> good = {installer.string(), "--url", "https://example.com/setup.exe", "--id",
                                           "Studio.Launcher", "--version", "1.0", "--publisher", "Studio", "--out",
                                           out.string()};
    struct Case {
        const char* option; // replaced in the good call; "-" drops the option and its value
        std::string value;
        const char* says;
    };
    const Case cases[] = {
        {"--id", "Launcher", "Paketkennung"},
        {"--id", "Studio.Mein Launcher", "Paketkennung"},
        {"--id", "Studio." + std::string(33, 'x'), "Paketkennung"},
        {"--id", "a.b.c.d.e.f.g.h.i", "Paketkennung"},
        {"--version", "1/2", "Version"},
        {"--url", "http://example.com/setup.exe", "https"},
        {"--url", "https://", "https"},
        {"--publisher", "S", "--publisher"},
        {"--locale", "deutsch-sprache", "--locale"},
        {"--out", "-", "--out fehlt"},
        {"--frei", "x", "unbekannte Option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.value);
        std::vector<std::string> arguments;
        bool replaced = false;
        for (std::size_t i = 0; i < good.size(); ++i) {
            if (good[i] == c.option) {
                replaced = true;
                if (c.value != "-")
                    arguments.insert(arguments.end(), {good[i], c.value});
                ++i;
            } else {
                arguments.push_back(good[i]);
            }
        }
        if (!replaced)
            arguments.insert(arguments.end(), {c.option, c.value});
        WingetRun run = writeManifests(out, arguments);
        EXPECT_EQ(run.outcome.status, 2) << run.outcome.out;
        EXPECT_NE(run.outcome.err.find(c.says), std::string::npos) << run.outcome.err;
        EXPECT_FALSE(fs::exists(out));
    }
    fs::remove(installer);
    WingetRun missing = writeManifests(out, good);
    EXPECT_EQ(missing.outcome.status, 2);
    EXPECT_FALSE(fs::exists(out));
}
