// Successful installations: the lines the installer sees, what lands on disk, the shortcut and
// the registration call.
#include "script_harness.h"

#include <algorithm>
#include <regex>

class SuccessfulRun : public ScriptTest {};

TEST_F(SuccessfulRun, OnePartInstallsPayloadShortcutAndRegistersWithTheVersionAsOneArgument)
{
    publishDefault("2.0 beta");
    // Members the installer does not read change nothing.
    setCatalogText(R"({"name": "Nordalis", "spiele": [1, 2], "launcher": {"update": "launcher/update.json", "kanal": "stabil"}})");
    nlohmann::json document = manifest();
    document["hinweis"] = "egal";
    document["paket"]["groesse"] = 12;
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("2.0 beta", 1, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
    nlohmann::json shortcut = savedShortcut(machine);
    ASSERT_TRUE(shortcut.is_object()) << readFile(machine.shortcut());
    EXPECT_EQ(shortcut["TargetPath"], scriptPath(machine.launcher()));
    EXPECT_EQ(shortcut["WorkingDirectory"], scriptPath(machine.installDir()));
    EXPECT_EQ(shortcut["IconLocation"], scriptPath(machine.launcher()) + ",0");
    EXPECT_EQ(machine.uninstallerCalls(), "[/registrieren][/version][2.0 beta]\n");
    EXPECT_TRUE(machine.tempEntries().empty()) << joined(machine.tempEntries());

    // The two documents carry the timestamp query, the part is asked for as written.
    std::string log = accessLog();
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(GET /games/katalog\.json\?t=[0-9]{10,} )"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(GET /games/launcher/update\.json\?t=[0-9]{10,} )"))) << log;
    EXPECT_TRUE(std::regex_search(log, std::regex(R"(GET /games/launcher/[^ ?]+\.bin )"))) << log;
}

TEST_F(SuccessfulRun, ThreePartsGiveProgress27_49_70)
{
    publishInParts(3);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 3, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(partProgress(1, 3), 27);
    EXPECT_EQ(partProgress(2, 3), 49);
    EXPECT_EQ(partProgress(3, 3), 70);
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}

TEST_F(SuccessfulRun, TenPartsGiveOneStepEach)
{
    publishInParts(10);
    Machine machine;

    ScriptRun result = run(machine);

    std::vector<int> progress;
    for (const std::string& line : result.lines)
        if (line.rfind("PROGRESS ", 0) == 0)
            progress.push_back(std::stoi(line.substr(9)));
    EXPECT_EQ(progress, (std::vector<int>{3, 6, 12, 19, 25, 32, 38, 44, 51, 57, 64, 70, 74, 80, 94, 100})) << result.raw;
    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 10, true, machine.launcher())));
}

TEST_F(SuccessfulRun, HundredTwentyEightPartsRoundHalvesToEven)
{
    publishInParts(128);
    ASSERT_EQ(manifest()["paket"]["teile"].size(), 128u);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 128, true, machine.launcher()))) << result.raw;
    // 6.5, 7.5 and 8.5 for parts 1, 3 and 5.
    ASSERT_GE(result.lines.size(), 14u);
    EXPECT_EQ(result.lines[5], progressLine(6));
    EXPECT_EQ(result.lines[9], progressLine(8));
    EXPECT_EQ(result.lines[13], progressLine(8));
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}

TEST_F(SuccessfulRun, OverAnExistingInstallationOverwritesKeepsOtherFilesAndSavesTheShortcutAgain)
{
    publishDefault("1.2.3", false);
    Machine machine;
    writeFile(machine.launcher(), "alter Launcher");
    writeFile(machine.installDir() / "daten" / "tief" / "gross.dat", "alt");
    writeFile(machine.installDir() / "spielstand.dat", "bleibt");
    writeFile(machine.shortcut(), "alte Verknuepfung");

    ScriptRun result = run(machine);

    // Without an uninstaller in the package there is no registration step.
    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, false, machine.launcher()))) << result.raw;
    std::map<std::string, std::string> expected = filesBelow(payload());
    expected["spielstand.dat"] = "bleibt";
    EXPECT_EQ(filesBelow(machine.installDir()), expected);
    nlohmann::json shortcut = savedShortcut(machine);
    ASSERT_TRUE(shortcut.is_object()) << readFile(machine.shortcut());
    EXPECT_EQ(shortcut["TargetPath"], scriptPath(machine.launcher()));
    EXPECT_EQ(machine.uninstallerCalls(), "");
    EXPECT_FALSE(fs::exists(machine.installDir() / "ORVAN Deinstallieren.exe"));
}

// The uninstaller's exit code: the installation finishes either way, and a failed registration
// is named in the log with its code, right after the registration status.
class RegistrationExitCode : public ScriptTest, public ::testing::WithParamInterface<int> {};

TEST_P(RegistrationExitCode, FinishesAndLogsAFailedEntry)
{
    publishDefault();
    Machine machine;

    ScriptRun result = run(machine, {}, "$env:ORVAN_UNINSTALLER_EXIT = '" + std::to_string(GetParam()) + "'");

    std::vector<std::string> expected = successLines("1.2.3", 1, true, machine.launcher());
    if (GetParam() != 0) {
        auto registering = std::find(expected.begin(), expected.end(),
                                     statusLine("Trage den Launcher in Windows ein (Einstellungen - Apps)"));
        ASSERT_NE(registering, expected.end());
        expected.insert(registering + 1, logLine("Hinweis: Der Eintrag in Einstellungen - Apps konnte nicht angelegt werden (Fehlercode " +
                                                 std::to_string(GetParam()) + ")."));
    }
    EXPECT_EQ(joined(result.lines), joined(expected)) << result.raw;
    EXPECT_EQ(machine.uninstallerCalls(), "[/registrieren][/version][1.2.3]\n");
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}

INSTANTIATE_TEST_SUITE_P(Codes, RegistrationExitCode, ::testing::Values(0, 1, 5, 112));
