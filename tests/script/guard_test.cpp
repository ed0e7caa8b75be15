// What the script refuses or takes care of beyond the plain steps: texts outside ASCII, entries
// leading out of the install folder, unusable versions, a manifest over plain http, a package
// without the launcher, files in use, a download folder that stays, and timestamps past 2038.
#include "script_harness.h"

#include "wine_peer.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

namespace {

bool hasReplacementCharacter(const ScriptRun& result)
{
    return joined(result.lines).find("\\uFFFD") != std::string::npos;
}

std::vector<std::string> failedAfterManifest(const std::string& error)
{
    return {connectingLine(), progressLine(3), errorLine(error)};
}

} // namespace

class NonAsciiText : public ScriptTest {};

TEST_F(NonAsciiText, ProfileAndVersionArriveIntactInStatusDoneAndRegistration)
{
    publishDefault("2.0-\xC3\xA4");
    Machine machine("J\xC3\xBCrgen");

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("2.0-\xC3\xA4", 1, true, machine.launcher()))) << result.raw;
    EXPECT_NE(joined(result.lines).find("J\\u00FCrgen"), std::string::npos);
    EXPECT_NE(joined(result.lines).find("2.0-\\u00E4"), std::string::npos);
    EXPECT_FALSE(hasReplacementCharacter(result));
    EXPECT_EQ(machine.uninstallerCalls(), "[/registrieren][/version][2.0-\xC3\xA4]\n");
}

TEST_F(NonAsciiText, PlatformMessageWithTheProfilePathArrivesIntact)
{
    // A part stored as launcher.zip collides with the open package file; the platform's message
    // names the path below the profile.
    publishDefault("2.0-\xC3\xA4");
    nlohmann::json document = manifest();
    fs::path folder = manifestPath(tree()).parent_path();
    fs::rename(partPaths(tree())[0], folder / "launcher.zip");
    document["paket"]["teile"][0]["url"] = "launcher.zip";
    setManifest(document);
    Machine machine("J\xC3\xBCrgen");
    machine.temp = machine.profile / "Temp";
    fs::create_directories(machine.temp);

    ScriptRun result = run(machine);

    ASSERT_FALSE(result.lines.empty()) << result.raw;
    EXPECT_EQ(result.lines.back().rfind("ERROR \"", 0), 0u) << result.raw;
    EXPECT_NE(result.lines.back().find("J\\u00FCrgen"), std::string::npos) << result.lines.back();
    EXPECT_FALSE(hasReplacementCharacter(result)) << result.raw;
}

// Entries leading out of the install folder, each with the launcher beside it.
class EntryOutsideInstallFolder : public ScriptTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EntryOutsideInstallFolder, RefusedBeforeAnythingIsExtracted)
{
    publishDefault();
    pythonZip(scratch() / "paket.zip", {{"Inhalt/ORVAN Launcher.exe", "MZ"}, {GetParam(), "boese"}, {"Inhalt/z.txt", "z"}});
    republish(tree(), scratch() / "paket.zip");
    Machine machine;
    fs::path sibling = machine.profile / "ORVAN Launcher-x";

    ScriptRun result = run(machine);

    ASSERT_FALSE(result.lines.empty()) << result.raw;
    EXPECT_EQ(result.lines.back(),
              errorLine(std::string("Das Paket enthaelt einen Pfad ausserhalb des Installationsordners: ") + GetParam()))
        << result.raw;
    EXPECT_FALSE(fs::exists(machine.installDir()));
    EXPECT_FALSE(fs::exists(machine.shortcut()));
    // Nothing landed anywhere else in the machine's folder either.
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(machine.root.path))
        files += entry.is_regular_file() && readFile(entry.path()) == "boese";
    EXPECT_EQ(files, 0u);
    EXPECT_FALSE(fs::exists(sibling));
}

INSTANTIATE_TEST_SUITE_P(Names, EntryOutsideInstallFolder,
                         ::testing::Values("Inhalt/../boese.txt", "Inhalt/../ORVAN Launcher-x/boese.txt",
                                           "Inhalt/unter/../../boese.txt", "Inhalt/unter\\..\\..\\boese.txt",
                                           "Inhalt//boese.txt", "Inhalt/C:/boese.txt"));

// Names Windows allows no file to have: the script's own message, before anything is extracted,
// not the one .NET Framework's path functions would give.
class EntryNameWindowsRefuses : public ScriptTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(EntryNameWindowsRefuses, EndsTheRunWithTheNameBeforeAnythingIsExtracted)
{
    publishDefault();
    pythonZip(scratch() / "paket.zip", {{"Inhalt/ORVAN Launcher.exe", "MZ"}, {GetParam(), "x"}});
    republish(tree(), scratch() / "paket.zip");
    Machine machine;

    ScriptRun result = run(machine);

    ASSERT_FALSE(result.lines.empty()) << result.raw;
    EXPECT_EQ(result.lines.back(),
              errorLine(std::string("Das Paket enthaelt einen Dateinamen mit Zeichen, die Windows nicht erlaubt: ") + GetParam()))
        << result.raw;
    EXPECT_FALSE(fs::exists(machine.installDir()));
    EXPECT_FALSE(fs::exists(machine.profile / "ORVAN.neu"));
}

INSTANTIATE_TEST_SUITE_P(Names, EntryNameWindowsRefuses,
                         ::testing::Values("Inhalt/a<b.txt", "Inhalt/a>b.txt", "Inhalt/a|b.txt", "Inhalt/a\"b.txt",
                                           "Inhalt/wer?.txt", "Inhalt/*.txt", "Inhalt/mit\ttab.txt",
                                           "Inhalt/ordner<1>/a.txt"));

class UnusableVersion : public ScriptTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnusableVersion, EndsTheRunBeforeAnyFolderIsMadeOrDeleted)
{
    publishDefault();
    nlohmann::json document = manifest();
    if (std::string(GetParam()) == "<none>")
        document.erase("version");
    else
        document["version"] = GetParam();
    setManifest(document);
    Machine machine;
    // A version leading out of TEMP would have its folder deleted after the extraction.
    writeFile(machine.root.path / "x" / "behalten.txt", "bleibt");

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(failedAfterManifest("Die Version im Update-Manifest taugt nicht als Ordnername.")))
        << result.raw;
    EXPECT_TRUE(machine.tempEntries().empty());
    EXPECT_EQ(readFile(machine.root.path / "x" / "behalten.txt"), "bleibt");
    EXPECT_FALSE(fs::exists(machine.installDir()));
}

INSTANTIATE_TEST_SUITE_P(Versions, UnusableVersion,
                         ::testing::Values("<none>", "", "..", "../../x", "1.0\\..\\..\\x", "1:0", "1.0|x", "1.0*", "2.0\n3",
                                           "1.0.", "1.0[beta]", "2.0]"));

class Guards : public ScriptTest {};

TEST_F(Guards, ManifestOverPlainHttpIsRefused)
{
    publishDefault();
    std::string url = "http://127.0.0.1:" + std::to_string(port()) + "/games/launcher/update.json";
    setCatalogText(R"({"launcher": {"update": ")" + url + R"("}})");
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines),
              joined(failedAfterManifest("Das Update-Manifest muss ueber https geladen werden, nicht von " + url)))
        << result.raw;
    EXPECT_EQ(accessLog().find("update.json"), std::string::npos);
    EXPECT_TRUE(machine.tempEntries().empty());
}

TEST_F(Guards, PackageWithoutLauncherMakesNoShortcutAndNoRegistration)
{
    publishDefault();
    pythonZip(scratch() / "paket.zip",
              {{"Inhalt/ORVAN Deinstallieren.exe", readFile(payload() / "ORVAN Deinstallieren.exe"), "deflate", false, 0755},
               {"Inhalt/daten/a.txt", "a"}});
    republish(tree(), scratch() / "paket.zip");
    Machine machine;

    ScriptRun result = run(machine);

    std::vector<std::string> expected = {connectingLine(), progressLine(3),
                                         statusLine("ORVAN Launcher 1.2.3 wird geladen"), progressLine(6),
                                         statusLine("Lade Teil 1 / 1"), progressLine(70),
                                         statusLine("Pruefe Paket"), progressLine(74),
                                         statusLine("Entpacke Dateien"), progressLine(80),
                                         errorLine("Das Paket enthaelt kein \"ORVAN Launcher.exe\" - bitte spaeter nochmal versuchen.")};
    EXPECT_EQ(joined(result.lines), joined(expected)) << result.raw;
    EXPECT_FALSE(fs::exists(machine.shortcut()));
    EXPECT_EQ(machine.uninstallerCalls(), "");
    // Nothing moved: the installation stays as it was, and no work folder is left.
    EXPECT_FALSE(fs::exists(machine.installDir() / "ORVAN Deinstallieren.exe"));
    EXPECT_FALSE(fs::exists(machine.profile / "ORVAN.neu"));
    EXPECT_FALSE(fs::exists(machine.profile / "ORVAN.alt"));
}

TEST_F(Guards, TimestampPast2038StillInstalls)
{
    publishDefault();
    Machine machine;

    // Get-Date as Windows PowerShell formats it in a German culture, in the year 2039.
    ScriptRun result = run(machine, {},
                           "function Get-Date { '2200000000' + [Globalization.CultureInfo]::CurrentCulture."
                           "NumberFormat.NumberDecimalSeparator + '6' }");

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    EXPECT_NE(accessLog().find("GET /games/katalog.json?t=2200000001 "), std::string::npos) << accessLog();
}

TEST_F(Guards, FileInUseStopsAReinstallBeforeAnyFileIsReplaced)
{
    publishDefault();
    Machine machine;
    ASSERT_EQ(joined(run(machine).lines), joined(successLines("1.2.3", 1, true, machine.launcher())));
    std::map<std::string, std::string> installed = filesBelow(machine.installDir());
    // The held file comes last, so extracting without the check would replace the others first.
    pythonZip(scratch() / "paket.zip", {{"Inhalt/neu.txt", "neu"},
                                        {"Inhalt/daten/Gr\xC3\xBC\xC3\x9F" "e.txt", "geaendert"},
                                        {"Inhalt/ORVAN Launcher.exe", "MZ neu"}});
    republish(tree(), scratch() / "paket.zip");

    // Another open of the launcher, as a running launcher holds its own program file.
    ScriptRun result = run(machine, {},
                           "$held = [IO.File]::Open('" + scriptPath(machine.launcher()) + "', 'Open', 'Read', 'Read')");

    ASSERT_FALSE(result.lines.empty()) << result.raw;
    EXPECT_EQ(result.lines.back(), errorLine("Die Datei \"ORVAN Launcher.exe\" im Installationsordner ist in Gebrauch. "
                                             "Bitte den ORVAN Launcher schliessen und nochmal versuchen."))
        << result.raw;
    EXPECT_TRUE(filesBelow(machine.installDir()) == installed) << "nothing replaced, nothing added";
    EXPECT_EQ(machine.uninstallerCalls(), "[/registrieren][/version][1.2.3]\n") << "registered by the first run only";
}

TEST_F(Guards, DownloadFolderThatCannotBeRemovedStillFinishesTheInstallation)
{
    publishDefault();
    Machine machine;
    // A file that not even root may delete, as one that a virus scanner holds on Windows.
    fs::path kept = machine.temp / "orvan-launcher-1.2.3" / "gesperrt.txt";
    writeFile(kept, "x");
    ASSERT_EQ(runShell("chattr +i " + shellQuote(kept.string())).status, 0) << "chattr +i needs ext4 or the like";

    ScriptRun result = run(machine);
    runShell("chattr -i " + shellQuote(kept.string()));

    std::vector<std::string> expected = successLines("1.2.3", 1, true, machine.launcher());
    auto afterExtraction = std::find(expected.begin(), expected.end(), progressLine(94));
    ASSERT_NE(afterExtraction, expected.end());
    std::vector<std::string> got = result.lines;
    ASSERT_EQ(got.size(), expected.size() + 1) << result.raw;
    std::size_t notice = static_cast<std::size_t>(afterExtraction - expected.begin());
    std::string start = logLine("Hinweis: Der Download-Ordner " + scriptPath(machine.temp / "orvan-launcher-1.2.3") +
                                " konnte nicht entfernt werden: ");
    start.pop_back(); // the platform's reason follows
    EXPECT_EQ(got[notice].rfind(start, 0), 0u) << got[notice];
    got.erase(got.begin() + static_cast<std::ptrdiff_t>(notice));
    EXPECT_EQ(joined(got), joined(expected)) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
    EXPECT_TRUE(fs::exists(machine.shortcut()));
    EXPECT_EQ(machine.uninstallerCalls(), "[/registrieren][/version][1.2.3]\n");
}

// Under the engine only: the launcher of the first installation is a Windows program, running
// from the install folder while the reinstall starts.
TEST_F(Guards, RunningLauncherStopsAReinstallBeforeAnyFileIsReplaced)
{
    ASSERT_TRUE(underWine()) << "a Windows program must hold the file";
    fs::remove_all(payload());
    makeInstallPayload(payload());
    fs::copy_file(wine::windowsTools() / "ORVAN Launcher.exe", payload() / "ORVAN Launcher.exe",
                  fs::copy_options::overwrite_existing);
    publish(payload());
    Machine machine;
    ASSERT_EQ(joined(run(machine).lines), joined(successLines("1.2.3", 1, true, machine.launcher())));
    std::map<std::string, std::string> installed = filesBelow(machine.installDir());
    pythonZip(scratch() / "paket.zip", {{"Inhalt/neu.txt", "neu"}, {"Inhalt/ORVAN Launcher.exe", "MZ neu"}});
    republish(tree(), scratch() / "paket.zip");

    fs::path started = machine.root.path / "gestartet.txt";
    Outcome launcher = runShell("ORVAN_LAUNCHER_HOLD_MS=60000 ORVAN_LAUNCHER_RECORD=" +
                                shellQuote(scriptPath(started)) + " " + shellQuote(wine::loader()) + " " +
                                shellQuote(scriptPath(machine.launcher())) + " >/dev/null 2>&1 & echo $!");
    pid_t pid = std::atoi(launcher.out.c_str());
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 200 && readFile(started).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_FALSE(readFile(started).empty()) << "the installed launcher did not start";

    ScriptRun result = run(machine);
    ::kill(pid, SIGKILL);

    ASSERT_FALSE(result.lines.empty()) << result.raw;
    EXPECT_EQ(result.lines.back(), errorLine("Die Datei \"ORVAN Launcher.exe\" im Installationsordner ist in Gebrauch. "
                                             "Bitte den ORVAN Launcher schliessen und nochmal versuchen."))
        << result.raw;
    EXPECT_TRUE(filesBelow(machine.installDir()) == installed) << "nothing replaced, nothing added";
}

// Windows PowerShell follows a redirect from https to http; PowerShell 7 refuses it on its own,
// so here the server's redirect ends the run either way.
TEST_F(Guards, ManifestRedirectedToPlainHttpIsNotRead)
{
    publishDefault();
    setCatalogText(R"({"launcher": {"update": "/nach-http/games/launcher/update.json"}})");
    Machine machine;

    ScriptRun result = run(machine);

    ASSERT_EQ(result.lines.size(), 3u) << result.raw;
    EXPECT_EQ(result.lines.back().rfind("ERROR \"", 0), 0u) << result.raw;
    EXPECT_EQ(accessLog().find(".bin"), std::string::npos) << "no part was asked for";
    EXPECT_TRUE(machine.tempEntries().empty());
    EXPECT_FALSE(fs::exists(machine.installDir()));
}

TEST_F(Guards, RedirectWithinHttpsStillInstalls)
{
    publishDefault();
    setCatalogText(R"({"launcher": {"update": "/umleitung/games/launcher/update.json"}})");
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}

// The script's own check, with Invoke-WebRequest answering as Windows PowerShell does after it
// followed a redirect to http: the answer's ResponseUri is the http address.
struct RedirectedDocument {
    const char* name;
    const char* urlPattern;
    bool signedRelease;
};

class AnswerOverHttp : public ScriptTest, public ::testing::WithParamInterface<RedirectedDocument> {};

TEST_P(AnswerOverHttp, IsRefusedByTheScriptItself)
{
    if (GetParam().signedRelease)
        publishSigned(releaseKey().privateKey);
    else
        publishDefault();
    Machine machine;
    std::string wrapper =
        "function Invoke-WebRequest {\n"
        "    param([switch]$UseBasicParsing, [string]$Uri, [string]$OutFile, $WebSession, $ConnectionTimeoutSeconds,"
        " $OperationTimeoutSeconds)\n"
        "    if ($OutFile) { return Microsoft.PowerShell.Utility\\Invoke-WebRequest @PSBoundParameters }\n"
        "    $response = Microsoft.PowerShell.Utility\\Invoke-WebRequest @PSBoundParameters\n"
        "    if ($Uri -notlike '" + std::string(GetParam().urlPattern) + "') { return $response }\n"
        "    [pscustomobject]@{ BaseResponse = [pscustomobject]@{ ResponseUri = [Uri]'http://127.0.0.1/umgeleitet' };"
        " RawContentStream = $response.RawContentStream }\n"
        "}";

    ScriptRun result = run(machine, GetParam().signedRelease ? signedScript() : fs::path(), wrapper);

    EXPECT_EQ(joined(result.lines),
              joined(failedAfterManifest("Der Server hat auf eine ungeschuetzte Adresse umgeleitet "
                                         "(http://127.0.0.1/umgeleitet) - aus Sicherheitsgruenden wird nichts geladen.")))
        << result.raw;
    EXPECT_EQ(accessLog().find(".bin"), std::string::npos) << "no part was asked for";
    EXPECT_TRUE(machine.tempEntries().empty());
}

INSTANTIATE_TEST_SUITE_P(Documents, AnswerOverHttp,
                         ::testing::Values(RedirectedDocument{"Katalog", "*katalog.json?t=*", false},
                                           RedirectedDocument{"Manifest", "*update.json?t=*", false},
                                           RedirectedDocument{"Signatur", "*update.json.sig?t=*", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Windows PowerShell reads -OutFile as a wildcard pattern, so [ and ] in the download path would
// fail there, while PowerShell 7 stores the part.
TEST_F(Guards, BracketsInTheDownloadPathEndTheRunBeforeAnyDownload)
{
    struct Case {
        bool inTemp;
        std::string error;
    };
    for (const Case& c : {Case{true, ""}, Case{false, "Der Dateiname von Teil 1 enthaelt eckige Klammern ([ oder ]), "
                                                      "mit denen Windows PowerShell keine Downloads speichern kann."}}) {
        publishDefault();
        Machine machine;
        if (c.inTemp) {
            machine.temp = machine.root.path / "temp [alt]";
            fs::create_directories(machine.temp);
        } else {
            nlohmann::json document = manifest();
            fs::path part = partPaths(tree())[0];
            fs::rename(part, part.parent_path() / "teil[1].bin");
            document["paket"]["teile"][0]["url"] = "teil[1].bin";
            setManifest(document);
        }
        clearAccessLog();

        ScriptRun result = run(machine);

        std::string error = c.inTemp ? "Der temporaere Ordner \"" + scriptPath(machine.temp) +
                                           "\" enthaelt eckige Klammern ([ oder ]), mit denen Windows PowerShell keine "
                                           "Downloads speichern kann. Bitte TEMP auf einen anderen Ordner setzen."
                                     : c.error;
        EXPECT_EQ(joined(result.lines), joined(failedAfterManifest(error))) << result.raw;
        EXPECT_EQ(accessLog().find(".bin"), std::string::npos) << "no part was asked for";
        EXPECT_TRUE(machine.tempEntries().empty());
    }
}

// Without long path support no file path reaches 260 characters: one of 259 installs, one of 260
// ends the run before anything is unpacked, naming the file.
TEST_F(Guards, PathsTooLongForWindowsAreFoundBeforeAnythingIsUnpacked)
{
    for (std::size_t length : {259u, 260u}) {
        publishDefault();
        Machine machine;
        std::size_t room = length - scriptPath(machine.installDir()).size() - 1;
        std::string relative = std::string(100, 'a') + "/" + std::string(room - 101, 'b');
        pythonZip(scratch() / "paket.zip", {{"Inhalt/ORVAN Launcher.exe", "MZ"}, {"Inhalt/" + relative, "lang"}});
        republish(tree(), scratch() / "paket.zip");

        ScriptRun result = run(machine);

        ASSERT_FALSE(result.lines.empty()) << result.raw;
        if (length == 259) {
            EXPECT_EQ(result.lines.back(), doneLine(machine.launcher())) << result.raw;
            EXPECT_EQ(readFile(machine.installDir() / relative), "lang");
        } else {
            EXPECT_EQ(result.lines.back(), errorLine("Der Pfad der Datei \"" + relative +
                                                     "\" wird im Installationsordner 260 Zeichen lang, mehr als Windows "
                                                     "erlaubt (259). Bitte den Hersteller des Launchers informieren."))
                << result.raw;
            EXPECT_FALSE(fs::exists(machine.installDir()));
        }
    }
}
