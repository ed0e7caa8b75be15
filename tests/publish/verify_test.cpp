// orvan-publish verify on trees on disk: every rule the installer depends on, broken one at a
// time in a tree that is clean before.
#include "publish_test_util.h"

#include <gtest/gtest.h>

namespace {

const char* kLauncherEntry = "Inhalt/ORVAN Launcher.exe";

struct VerifyFixture : ::testing::Test {
    TempDir dir;
    fs::path payload = dir.path / "nutzlast";
    fs::path tree = dir.path / "baum";

    void SetUp() override
    {
        makePayload(payload);
        buildTree(payload, tree, "1.2.3", "32K");
        ASSERT_GE(partPaths(tree).size(), 2u);
        Outcome clean = verify(tree);
        ASSERT_EQ(clean.status, 0) << clean.out << clean.err;
    }

    nlohmann::json manifest() { return readJson(manifestPath(tree)); }

    void expectProblem(const std::string& fragment, const std::vector<std::string>& extra = {})
    {
        Outcome run = verify(tree, extra);
        EXPECT_EQ(run.status, 1) << run.out << run.err;
        EXPECT_TRUE(saysProblem(run, fragment)) << "expected \"" << fragment << "\" in:\n" << run.out;
        EXPECT_NE(run.out.find("gefunden."), std::string::npos) << run.out;
    }

    void expectClean()
    {
        Outcome run = verify(tree);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out.find("FEHLER"), std::string::npos) << run.out;
    }

    // The tree with the package replaced by a zip from Python's zipfile.
    void publishPythonZip(const std::vector<ZipEntry>& entries)
    {
        fs::path zip = dir.path / "fremd.zip";
        pythonZip(zip, entries);
        republish(tree, zip, 100);
    }
};

} // namespace

TEST_F(VerifyFixture, CatalogWithoutAPublishedLauncher)
{
    for (const char* catalog : {R"({})", R"({"launcher":null})", R"({"launcher":false})", R"({"launcher":0})",
                                R"({"launcher":""})", R"({"launcher":[]})"}) {
        writeFile(catalogPath(tree), catalog);
        expectProblem("Auf der Website ist noch kein Launcher veroeffentlicht.");
    }
    writeFile(catalogPath(tree), R"({"launcher":"ja"})");
    expectProblem("launcher ist ein Text, muss ein Objekt sein");
    for (const char* catalog : {R"({"launcher":{}})", R"({"launcher":{"update":7}})", R"({"launcher":{"update":""}})"}) {
        writeFile(catalogPath(tree), catalog);
        expectProblem("launcher.update");
    }
}

TEST_F(VerifyFixture, CatalogAsPowerShellReadsIt)
{
    // Extra members and another letter case of a member name change nothing.
    writeFile(catalogPath(tree), R"({"news":[1,2],"Launcher":{"Update":"launcher/update.json","icon":"x.png"}})");
    expectClean();

    writeFile(catalogPath(tree), R"({"launcher":{"update":"launcher/update.json"},)");
    expectProblem("Der Katalog ist kein gueltiges JSON");
    writeFile(catalogPath(tree), R"(["launcher"])");
    expectProblem("Der Katalog ist kein JSON-Objekt");
    writeFile(catalogPath(tree), "\xEF\xBB\xBF" R"({"launcher":{"update":"launcher/update.json"}})");
    expectProblem("Byte-Order-Mark");
    writeFile(catalogPath(tree), R"({"launcher":{"update":"launcher/update.json"},"LAUNCHER":1})");
    expectProblem("\"LAUNCHER\" mehrfach");
    fs::remove(catalogPath(tree));
    expectProblem("Der Katalog \"https://download.nordalis.example/games/katalog.json\" fehlt im Baum");
}

TEST_F(VerifyFixture, UpdateUrlIsResolvedAndMustBeHttps)
{
    nlohmann::json catalog = readJson(catalogPath(tree));
    for (const char* update : {"https://download.nordalis.example/games/launcher/update.json",
                               "/games/launcher/update.json", "./launcher/../launcher/update.json",
                               "HTTPS://Download.Nordalis.Example:443/games/launcher/update.json"}) {
        catalog["launcher"]["update"] = update;
        writeJson(catalogPath(tree), catalog);
        expectClean();
    }
    catalog["launcher"]["update"] = "http://download.nordalis.example/games/launcher/update.json";
    writeJson(catalogPath(tree), catalog);
    expectProblem("ist keine https-Adresse");
    catalog["launcher"]["update"] = "launcher/update.json?kanal=beta";
    writeJson(catalogPath(tree), catalog);
    expectProblem("eigene Abfrage");
    catalog["launcher"]["update"] = "https://cdn.example/games/launcher/update.json";
    writeJson(catalogPath(tree), catalog);
    expectProblem("nicht pruefbar");
    // The same tree under the base URL it will really be served from.
    catalog["launcher"]["update"] = "https://cdn.example/games/launcher/update.json";
    writeJson(catalogPath(tree), catalog);
    Outcome run = verify(tree, {"--base", "https://cdn.example/games/"});
    EXPECT_EQ(run.status, 0) << run.out;
}

TEST_F(VerifyFixture, PartsResolveAgainstTheManifestsFolder)
{
    // The manifest moved deeper; its parts beside it, named by bare file names.
    fs::path deeper = tree / "games" / "kanal" / "stabil";
    fs::create_directories(deeper);
    for (const fs::path& part : partPaths(tree))
        fs::rename(part, deeper / part.filename());
    fs::rename(manifestPath(tree), deeper / "update.json");
    writeFile(catalogPath(tree), R"({"launcher":{"update":"kanal/stabil/update.json"}})");
    expectClean();

    // A part in "/games/" itself is missed: a bare name never resolves against the base URL.
    nlohmann::json moved = readJson(deeper / "update.json");
    std::string first = moved["paket"]["teile"][0]["url"];
    fs::rename(deeper / first, tree / "games" / first);
    expectProblem("Teil 1 (" + first + "): fehlt im Baum");
    moved["paket"]["teile"][0]["url"] = "../../" + first;
    writeJson(deeper / "update.json", moved);
    expectClean();
    moved["paket"]["teile"][0]["url"] = "ftp://download.nordalis.example/games/" + first;
    writeJson(deeper / "update.json", moved);
    expectProblem("keine http- oder https-Adresse");
}

TEST_F(VerifyFixture, VersionMustBeUsableInAFolderName)
{
    nlohmann::json m = manifest();
    for (const char* version : {"", "../1", "1/2", "1\\2", "1..2", "1:2", "1?", "1*", "1."}) {
        m["version"] = version;
        writeJson(manifestPath(tree), m);
        expectProblem("die Version \"" + std::string(version) + "\"");
    }
    // A line break in the text stays inside its one problem line.
    m["version"] = "1\n2/3";
    writeJson(manifestPath(tree), m);
    expectProblem("die Version \"1\\x0A2/3\" enthaelt einen Pfadtrenner");
    m["version"] = 2;
    writeJson(manifestPath(tree), m);
    expectProblem("version ist eine Zahl, muss ein Text sein");
    m.erase("version");
    writeJson(manifestPath(tree), m);
    expectProblem("version fehlt");
    m["version"] = "2.0-ä";
    writeJson(manifestPath(tree), m);
    expectClean();
}

TEST_F(VerifyFixture, DigestTextAndDigests)
{
    nlohmann::json m = manifest();
    std::string whole = m["paket"]["sha256"];
    std::string part = m["paket"]["teile"][1]["sha256"];
    std::string upper = whole;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    m["paket"]["sha256"] = upper;
    writeJson(manifestPath(tree), m);
    expectClean();

    for (const std::string& bad : {" " + whole, whole + " ", whole.substr(1), whole + "0"}) {
        m["paket"]["sha256"] = bad;
        writeJson(manifestPath(tree), m);
        expectProblem("paket.sha256 \"" + bad + "\" ist keine Pruefsumme aus genau 64 Hexziffern");
    }
    m["paket"]["sha256"] = whole;
    m["paket"]["teile"][1]["sha256"] = part + " ";
    writeJson(manifestPath(tree), m);
    expectProblem("Teil 2 (");
    m["paket"]["teile"][1]["sha256"] = std::string(64, '0');
    writeJson(manifestPath(tree), m);
    expectProblem("Teil 2 (" + m["paket"]["teile"][1]["url"].get<std::string>() + "): Pruefsumme falsch");
    m["paket"]["teile"][1]["sha256"] = part;
    m["paket"]["sha256"] = std::string(64, 'a');
    writeJson(manifestPath(tree), m);
    expectProblem("Paket beschaedigt");
}

TEST_F(VerifyFixture, TamperedPartIsNamedAndBreaksThePackage)
{
    fs::path second = partPaths(tree)[1];
    std::string bytes = readFile(second);
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x40);
    writeFile(second, bytes);
    Outcome run = verify(tree);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(saysProblem(run, "Teil 2 (" + second.filename().string() + "): Pruefsumme falsch")) << run.out;
    EXPECT_TRUE(saysProblem(run, "Paket beschaedigt")) << run.out;
    EXPECT_FALSE(saysProblem(run, "Teil 1 ")) << run.out;

    fs::remove(second);
    expectProblem("Teil 2 (" + second.filename().string() + "): fehlt im Baum");
}

TEST_F(VerifyFixture, PartFileNames)
{
    nlohmann::json m = manifest();
    fs::path folder = manifestPath(tree).parent_path();
    std::string first = m["paket"]["teile"][0]["url"];
    struct Case {
        const char* url;
        const char* file;
        const char* fragment;
    };
    for (const Case& c : {Case{"launcher.zip", "launcher.zip", "Name der Paketdatei"},
                          Case{"LAUNCHER.ZIP", "LAUNCHER.ZIP", "Name der Paketdatei"},
                          Case{"teil.bin?sig=1", "teil.bin", "Abfrage"},
                          Case{"unterordner/", "unterordner/index.html", "keinen Dateinamen"},
                          Case{"teil:1.bin", "teil:1.bin", "':'"},
                          Case{"teil[1].bin", "teil[1].bin", "als Platzhalter"}}) {
        fs::path current = folder / m["paket"]["teile"][0]["url"].get<std::string>();
        writeFile(folder / c.file, readFile(current));
        m["paket"]["teile"][0]["url"] = c.url;
        writeJson(manifestPath(tree), m);
        expectProblem(std::string("Teil 1 (") + c.url + "): ");
        expectProblem(c.fragment);
    }
    // Two parts sharing a file name are fine: each is appended before the next is fetched.
    fs::create_directories(folder / "a");
    fs::create_directories(folder / "b");
    m = manifest();
    std::string second = m["paket"]["teile"][1]["url"];
    fs::copy_file(folder / first, folder / "a" / "teil.bin");
    fs::copy_file(folder / second, folder / "b" / "teil.bin");
    m["paket"]["teile"][0]["url"] = "a/teil.bin";
    m["paket"]["teile"][1]["url"] = "b/teil.bin";
    writeJson(manifestPath(tree), m);
    expectClean();
}

TEST_F(VerifyFixture, ManifestShape)
{
    nlohmann::json m = manifest();
    nlohmann::json broken = m;
    broken["paket"]["teile"] = nlohmann::json::array();
    writeJson(manifestPath(tree), broken);
    expectProblem("paket.teile ist leer");
    broken["paket"]["teile"] = nlohmann::json::object();
    writeJson(manifestPath(tree), broken);
    expectProblem("paket.teile ist ein Objekt, muss eine Liste sein");
    broken = m;
    broken["paket"]["teile"][0].erase("url");
    writeJson(manifestPath(tree), broken);
    expectProblem("Teil 1: url fehlt");
    broken = m;
    broken["paket"]["teile"][0] = "teil.bin";
    writeJson(manifestPath(tree), broken);
    expectProblem("Teil 1 ist kein Objekt");
    broken = m;
    broken.erase("paket");
    writeJson(manifestPath(tree), broken);
    expectProblem("paket fehlt");
    writeFile(manifestPath(tree), "kein json");
    expectProblem("Das Manifest ist kein gueltiges JSON");
}

TEST_F(VerifyFixture, PackageFromAnotherZipWriter)
{
    // Folders, entries outside "Inhalt/" and the lower-case top folder are passed over.
    publishPythonZip({{"Inhalt/", ""}, {kLauncherEntry, "MZ"}, {"Inhalt/sub/", ""}, {"Inhalt/sub/a.txt", "a", "store"},
                      {"liesmich.txt", "x"}, {"inhalt/b.txt", "b"}, {"Inhalt/Grüße.txt", "g"}});
    Outcome run = verify(tree);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("2 Eintraege liegen nicht unter \"Inhalt/\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("3 Dateien"), std::string::npos) << run.out;

    publishPythonZip({{"inhalt/ORVAN Launcher.exe", "MZ"}, {"Inhalt/ORVAN Launcher.exe/", ""}});
    expectProblem("Im Paket fehlt \"Inhalt/ORVAN Launcher.exe\"");
}

TEST_F(VerifyFixture, PayloadPathsLeavingTheInstallFolder)
{
    struct Case {
        const char* name;
        const char* fragment;
    };
    // One path for each reason (the rules' cases are tests/package's).
    for (const Case& c : {Case{"Inhalt/sub/../../evil.txt", "\"..\""}, Case{"Inhalt//etc/evil", "absolut"},
                          Case{"Inhalt/C:/evil.txt", "Laufwerk"}, Case{"Inhalt/a\\..\\..\\evil.txt", "Backslash"},
                          Case{"Inhalt/nul.txt", "Geraetename"}, Case{"Inhalt/sub/a:stream", "':'"}}) {
        publishPythonZip({{kLauncherEntry, "MZ"}, {c.name, "boese"}});
        expectProblem(std::string("Eintrag \"") + c.name + "\": der Pfad");
        expectProblem(c.fragment);
    }
    publishPythonZip({{kLauncherEntry, "MZ"}, {"Inhalt/ORVAN Deinstallieren.bestand/x.txt", "x"}});
    expectProblem("Eintrag \"Inhalt/ORVAN Deinstallieren.bestand/x.txt\": der Name ist dem Deinstallationsprogramm vorbehalten");
    publishPythonZip({{kLauncherEntry, "MZ"}, {"Inhalt/daten", "x"}, {"Inhalt/Daten/x.txt", "y"}});
    expectProblem("Datei und Ordner zugleich");
    // Windows folds letter case beyond ASCII as well.
    publishPythonZip({{kLauncherEntry, "MZ"}, {"Inhalt/\xC3\x84.dll", "x"}, {"Inhalt/\xC3\xA4.dll", "y"}});
    expectProblem("Eintrag \"Inhalt/\xC3\xA4.dll\": ist unter Windows dieselbe Datei wie \"Inhalt/\xC3\x84.dll\"");
    publishPythonZip({{kLauncherEntry, "MZ"}, {"Inhalt/tief/" + std::string(180, 'x'), "lang"}});
    expectProblem("Zeichen lang (Windows erlaubt ohne lange Pfade hoechstens 259)");
}

TEST_F(VerifyFixture, EntriesTheInstallerCannotReadRight)
{
    publishPythonZip({{kLauncherEntry, "MZ"}, {"Inhalt/é.txt", "x", "deflate", true}});
    expectProblem("ohne UTF-8-Kennzeichen");
    publishPythonZip({{kLauncherEntry, "MZ"}, {"Inhalt/dicht.txt", std::string(1000, 'x'), "bzip2"}});
    expectProblem("Kompressionsverfahren 12");

    // A stored entry whose bytes were changed after its checksum was taken.
    fs::path zip = dir.path / "crc.zip";
    pythonZip(zip, {{kLauncherEntry, "MZ"}, {"Inhalt/daten.txt", "UNVERAENDERTER INHALT", "store"}});
    std::string bytes = readFile(zip);
    std::size_t at = bytes.find("UNVERAENDERTER");
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'V';
    writeFile(zip, bytes);
    republish(tree, zip, 100);
    expectProblem("Eintrag \"Inhalt/daten.txt\": beschaedigt");
}

TEST_F(VerifyFixture, PackageThatIsNoZip)
{
    fs::path junk = dir.path / "junk.bin";
    writeFile(junk, std::string(5000, 'J'));
    republish(tree, junk, 1000);
    expectProblem("Das Paket ist kein lesbares Zip-Archiv");

    // A package cut short, with a manifest whose digests all match what remains.
    fs::remove_all(tree);
    buildTree(payload, tree, "1.2.3", "32K");
    fs::path zip = dir.path / "kurz.zip";
    joinPartsTo(tree, zip);
    std::string bytes = readFile(zip);
    writeFile(zip, bytes.substr(0, bytes.size() - 40));
    republish(tree, zip, 32 << 10);
    expectProblem("Das Paket ist kein lesbares Zip-Archiv");
}
