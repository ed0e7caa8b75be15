// orvan-publish build, run as a program, with its output read back by other tools.
#include "publish_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

struct BuildFixture : ::testing::Test {
    TempDir dir;
    fs::path payload = dir.path / "nutzlast";
    fs::path tree = dir.path / "baum";
};

// Every digest of the folder's files by one sha256sum run.
std::map<std::string, std::string> digestsIn(const fs::path& folder)
{
    Outcome run = runShell("cd " + shellQuote(folder.string()) + " && sha256sum -- *");
    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> digests;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line))
        digests[line.substr(66)] = line.substr(0, 64);
    return digests;
}

std::set<std::string> filesBelow(const fs::path& root)
{
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            names.insert(entry.path().lexically_relative(root).generic_string());
    return names;
}

// The package cut at partSize: part count and sizes, every digest against sha256sum, the whole
// package's digest, and a clean verify.
void expectPartsOf(const fs::path& tree, std::uint64_t partSize, std::uint64_t packageSize)
{
    nlohmann::json manifest = readJson(manifestPath(tree));
    const auto& parts = manifest["paket"]["teile"];
    ASSERT_EQ(parts.size(), (packageSize + partSize - 1) / partSize);
    std::map<std::string, std::string> digests = digestsIn(manifestPath(tree).parent_path());
    EXPECT_EQ(digests.size(), parts.size() + 1); // and update.json
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string name = parts[i]["url"];
        std::uint64_t size = fs::file_size(manifestPath(tree).parent_path() / name);
        if (i + 1 < parts.size())
            EXPECT_EQ(size, partSize) << name;
        else
            EXPECT_TRUE(size > 0 && size <= partSize) << name << " " << size;
        EXPECT_EQ(parts[i]["sha256"], digests[name]) << name;
        // New bytes, new name: caches may keep a part for good.
        EXPECT_NE(name.find("-" + digests[name].substr(0, 12) + ".bin"), std::string::npos) << name;
        total += size;
    }
    EXPECT_EQ(total, packageSize);
    TempDir scratch;
    joinPartsTo(tree, scratch.path / "paket.zip");
    EXPECT_EQ(manifest["paket"]["sha256"], sha256sum(scratch.path / "paket.zip"));
    Outcome check = verify(tree);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("In Ordnung"), std::string::npos) << check.out;
}

std::uint64_t packageSizeOf(const fs::path& tree)
{
    std::uint64_t total = 0;
    for (const fs::path& part : partPaths(tree))
        total += fs::file_size(part);
    return total;
}

} // namespace

TEST_F(BuildFixture, WritesTheTreeTheInstallerReads)
{
    makePayload(payload);
    buildTree(payload, tree, "1.2.3");
    EXPECT_EQ(readJson(catalogPath(tree)), nlohmann::json::parse(R"({"launcher":{"update":"launcher/update.json"}})"));
    nlohmann::json manifest = readJson(manifestPath(tree));
    EXPECT_EQ(manifest["version"], "1.2.3");
    ASSERT_EQ(manifest["paket"]["teile"].size(), 1u);
    std::set<std::string> expected = {"games/katalog.json", "games/launcher/update.json",
                                      "games/launcher/" + manifest["paket"]["teile"][0]["url"].get<std::string>()};
    EXPECT_EQ(filesBelow(tree), expected);
    // Nothing else is left beside the tree: the work folder became the tree.
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dir.path))
        beside.insert(entry.path().filename().string());
    EXPECT_EQ(beside, (std::set<std::string>{"baum", "nutzlast"}));
}

TEST_F(BuildFixture, PartsOfOneByteAnExactMultipleAndMoreThanThePackage)
{
    writeFile(payload / "ORVAN Launcher.exe", "MZ");
    buildTree(payload, tree, "1", "1G");
    std::uint64_t size = packageSizeOf(tree);
    ASSERT_EQ(partPaths(tree).size(), 1u);
    expectPartsOf(tree, 1u << 30, size);

    fs::path ones = dir.path / "einzeln";
    buildTree(payload, ones, "1", "1");
    expectPartsOf(ones, 1, size);

    // A payload whose package size has a divisor, so the last part is a full one.
    std::uint64_t divisor = 0;
    for (int pad = 0; divisor == 0; ++pad) {
        fs::remove_all(tree);
        writeFile(payload / "pad.txt", std::string(static_cast<std::size_t>(pad), 'p'));
        buildTree(payload, tree, "1", "1G");
        size = packageSizeOf(tree);
        for (std::uint64_t d = 7; d < size / 2 && divisor == 0; ++d)
            if (size % d == 0)
                divisor = d;
    }
    fs::path exact = dir.path / "genau";
    buildTree(payload, exact, "1", std::to_string(divisor));
    expectPartsOf(exact, divisor, size);
    EXPECT_EQ(fs::file_size(partPaths(exact).back()), divisor);
}

TEST_F(BuildFixture, DefaultPartSizeAndSuffixes)
{
    makePayload(payload);
    std::string big(9u << 20, '\0');
    unsigned state = 7;
    for (char& c : big) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    writeFile(payload / "zufall.bin", big);
    Outcome run = runPublish({"build", payload.string(), "--version", "3", "--out", tree.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    expectPartsOf(tree, 8u << 20, packageSizeOf(tree));
    fs::path small = dir.path / "klein";
    buildTree(payload, small, "3", "64K");
    expectPartsOf(small, 64u << 10, packageSizeOf(small));
}

TEST_F(BuildFixture, ZipReadBackByPythonAndUnzip)
{
    makePayload(payload);
    buildTree(payload, tree, "1.0", "32K");
    fs::path zip = dir.path / "paket.zip";
    joinPartsTo(tree, zip);
    fs::path extracted = dir.path / "entpackt";
    Outcome python = runShell("python3 -c " + shellQuote(R"(
import json, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
print(json.dumps([[i.filename, i.flag_bits, i.external_attr, i.create_system] for i in z.infolist()]))
z.extractall(sys.argv[2])
)") + " " + shellQuote(zip.string()) + " " + shellQuote(extracted.string()));
    ASSERT_EQ(python.status, 0) << python.err;
    std::map<std::string, nlohmann::json> entries;
    for (const auto& entry : nlohmann::json::parse(python.out))
        entries[entry[0].get<std::string>()] = entry;
    std::set<std::string> names;
    for (const auto& [name, entry] : entries)
        names.insert(name);
    // With the uninstaller comes the list of delivered files.
    EXPECT_EQ(names, (std::set<std::string>{"Inhalt/ORVAN Deinstallieren.dateien", "Inhalt/ORVAN Deinstallieren.exe",
                                            "Inhalt/ORVAN Launcher.exe", "Inhalt/daten/Grüße.txt",
                                            "Inhalt/daten/tief/gross.dat"}));
    for (const auto& [name, entry] : entries) {
        bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        EXPECT_EQ((entry[1].get<int>() & 0x800) != 0, !ascii) << name;
        EXPECT_EQ(entry[3].get<int>(), 3) << name; // made by Unix
    }
    EXPECT_EQ(entries["Inhalt/ORVAN Deinstallieren.exe"][2].get<unsigned>() >> 16, 0100755u);
    EXPECT_EQ(entries["Inhalt/ORVAN Launcher.exe"][2].get<unsigned>() >> 16, 0100644u);
    for (const char* file : {"ORVAN Launcher.exe", "ORVAN Deinstallieren.exe", "daten/Grüße.txt", "daten/tief/gross.dat"})
        EXPECT_EQ(readFile(extracted / "Inhalt" / file), readFile(payload / file)) << file;

    Outcome list = runShell("unzip -l " + shellQuote(zip.string()));
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("Inhalt/ORVAN Launcher.exe"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Inhalt/daten/tief/gross.dat"), std::string::npos) << list.out;
    Outcome test = runShell("unzip -tq " + shellQuote(zip.string()));
    EXPECT_EQ(test.status, 0) << test.out << test.err;
}

TEST_F(BuildFixture, SamePayloadSameTree)
{
    makePayload(payload);
    buildTree(payload, tree, "1.0", "16K");
    fs::path again = dir.path / "nochmal";
    buildTree(payload, again, "1.0", "16K");
    EXPECT_EQ(readFile(manifestPath(tree)), readFile(manifestPath(again)));
    EXPECT_EQ(filesBelow(tree), filesBelow(again));
}

TEST_F(BuildFixture, VersionOutsideAsciiSurvivesAndPartNamesStaySafe)
{
    makePayload(payload);
    std::string version = "2.0-ä beta";
    // Outside the form build asks for, which --force lets through: the installer copes.
    buildTree(payload, tree, version, "16K", {}, {"--force"});
    std::string text = readFile(manifestPath(tree));
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    Outcome python = runShell("python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[\"version\"])' " +
                          shellQuote(manifestPath(tree).string()));
    EXPECT_EQ(python.out, version + "\n");
    std::regex safe("launcher-[A-Za-z0-9._-]+\\.bin");
    for (const fs::path& part : partPaths(tree))
        EXPECT_TRUE(std::regex_match(part.filename().string(), safe)) << part;
    Outcome check = verify(tree);
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("Version " + version), std::string::npos) << check.out;
}

TEST_F(BuildFixture, RefusesAPayloadWithoutTheLauncherAtTheTop)
{
    struct Case {
        const char* file;
        const char* fragment;
    };
    for (const Case& c : {Case{"anderes.exe", "fehlt \"ORVAN Launcher.exe\""},
                          Case{"bin/ORVAN Launcher.exe", "fehlt \"ORVAN Launcher.exe\""},
                          Case{"orvan launcher.exe", "genau so geschrieben"}}) {
        fs::remove_all(payload);
        writeFile(payload / c.file, "MZ");
        Outcome run = runPublish({"build", payload.string(), "--version", "1", "--out", tree.string()});
        EXPECT_EQ(run.status, 1) << c.file;
        EXPECT_NE(run.err.find(c.fragment), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(tree)) << c.file;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1) << c.file;
    }
}

TEST_F(BuildFixture, RefusesNamesWindowsCannotHold)
{
    struct Case {
        std::vector<const char*> files;
        const char* fragment;
    };
    for (const Case& c : {Case{{"a:b.txt"}, "\"a:b.txt\""}, Case{{"sub/CON.txt"}, "Geraetename"},
                          Case{{"notiz."}, "Punkt"}, Case{{"x\\y"}, "Backslash"},
                          Case{{"\xC3\x84rger.dll", "\xC3\xA4rger.dll"}, "dieselbe Datei"},
                          Case{{"tief/sehr/langer/Name/xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                                "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
                               "Zeichen lang"},
                          Case{{"daten", "Daten/x"}, "Datei und Ordner"}}) {
        fs::remove_all(payload);
        writeFile(payload / "ORVAN Launcher.exe", "MZ");
        for (const char* file : c.files)
            writeFile(payload / file, "x");
        Outcome run = runPublish({"build", payload.string(), "--version", "1", "--out", tree.string()});
        EXPECT_EQ(run.status, 1) << c.files[0];
        EXPECT_NE(run.err.find(c.fragment), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("nichts geschrieben"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(tree));
    }
}

TEST_F(BuildFixture, FollowsLinksToFilesAndRefusesOtherLinks)
{
    makePayload(payload, false);
    writeFile(dir.path / "extern.txt", "von aussen");
    fs::create_symlink(dir.path / "extern.txt", payload / "verweis.txt");
    buildTree(payload, tree);
    fs::path zip = dir.path / "paket.zip";
    joinPartsTo(tree, zip);
    Outcome content = runShell("unzip -p " + shellQuote(zip.string()) + " Inhalt/verweis.txt");
    EXPECT_EQ(content.out, "von aussen");

    for (const char* kind : {"ordner", "leer"}) {
        fs::remove_all(tree);
        fs::remove(payload / "verweis.txt");
        if (std::string(kind) == "ordner")
            fs::create_directory_symlink(dir.path, payload / "verweis.txt");
        else
            fs::create_symlink(dir.path / "gibt-es-nicht", payload / "verweis.txt");
        Outcome run = runPublish({"build", payload.string(), "--version", "1", "--out", tree.string()});
        EXPECT_EQ(run.status, 1) << kind;
        EXPECT_NE(run.err.find("\"verweis.txt\" ist ein Verweis"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(tree));
    }
}

TEST_F(BuildFixture, TheOutputFolderMustBeNewOrEmpty)
{
    makePayload(payload, false);
    writeFile(tree / "alt.txt", "alt");
    Outcome run = runPublish({"build", payload.string(), "--version", "1", "--out", tree.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("nicht leer"), std::string::npos) << run.err;
    EXPECT_EQ(filesBelow(tree), (std::set<std::string>{"alt.txt"}));

    fs::remove(tree / "alt.txt");
    buildTree(payload, tree);
    EXPECT_TRUE(fs::exists(catalogPath(tree)));

    run = runPublish({"build", payload.string(), "--version", "1", "--out", (payload / "baum").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("im Nutzlastordner"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(payload / "baum"));
}

// A disk that fills up while the package is written: the run fails and leaves neither a tree nor
// its work folder.
TEST_F(BuildFixture, AFailedWriteLeavesNothingBehind)
{
    makePayload(payload);
    Outcome run = runShell("trap '' XFSZ; ulimit -f 64; " + shellQuote(publishProgram()) + " build " +
                       shellQuote(payload.string()) + " --version 1 --out " + shellQuote(tree.string()));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("nichts geschrieben"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(tree));
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dir.path))
        beside.insert(entry.path().filename().string());
    EXPECT_EQ(beside, (std::set<std::string>{"nutzlast"}));
}

TEST_F(BuildFixture, ProgressLineForLargePayloadsOnly)
{
    makePayload(payload, false);
    Outcome quiet = runPublish({"build", payload.string(), "--version", "1", "--out", tree.string()});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err.find("Packe"), std::string::npos) << quiet.err;

    // 64 MiB of zeros, sparse on disk and quick to deflate.
    fs::path large = payload / "gross.bin";
    { std::ofstream touch(large); }
    fs::resize_file(large, 64u << 20);
    fs::path big = dir.path / "gross";
    Outcome loud = runPublish({"build", payload.string(), "--version", "1", "--out", big.string()});
    ASSERT_EQ(loud.status, 0) << loud.err;
    EXPECT_NE(loud.err.find("Packe Dateien"), std::string::npos) << loud.err;
    EXPECT_NE(loud.err.find("100 %"), std::string::npos) << loud.err;
}

TEST(PublishCli, BadArgumentsGiveTheUsageAndExitTwo)
{
    TempDir dir;
    fs::path payload = dir.path / "nutzlast";
    writeFile(payload / "ORVAN Launcher.exe", "MZ");
    writeFile(dir.path / "datei.txt", "x");
    std::string p = payload.string();
    std::string out = (dir.path / "baum").string();
    struct Case {
        std::vector<std::string> arguments;
        const char* fragment;
    };
    std::vector<Case> cases = {
        {{}, "kein Befehl"},
        {{"publish"}, "unbekannter Befehl"},
        {{"build"}, "Nutzlastordner fehlt"},
        {{"build", p, "--out", out}, "--version fehlt"},
        {{"build", p, "--version", "1"}, "--out fehlt"},
        {{"build", p, p, "--version", "1", "--out", out}, "genau einen"},
        {{"build", p, "--version", "1", "--out", out, "--schnell"}, "unbekannte Option"},
        {{"build", p, "--version", "1", "--out"}, "fehlt der Wert"},
        {{"build", p, "--version", "1", "--version", "2", "--out", out}, "doppelt"},
        {{"build", p, "--version", "1", "--out", out, "--part-size", "0"}, "--part-size"},
        {{"build", p, "--version", "1", "--out", out, "--part-size", "12X"}, "--part-size"},
        {{"build", p, "--version", "1", "--out", out, "--part-size=2G"}, "--part-size"},
        {{"build", p, "--version", "", "--out", out}, "leer"},
        {{"build", p, "--version", "../1", "--out", out}, "Pfadtrenner"},
        {{"build", p, "--version", "1..2", "--out", out}, "\"..\""},
        {{"build", p, "--version=1:2", "--out", out}, "':'"},
        {{"build", (dir.path / "fehlt").string(), "--version", "1", "--out", out}, "kein Ordner"},
        {{"build", (dir.path / "datei.txt").string(), "--version", "1", "--out", out}, "kein Ordner"},
        {{"verify"}, "fehlt"},
        {{"verify", out, out}, "genau einen"},
        {{"verify", (dir.path / "fehlt").string()}, "kein Ordner"},
        {{"verify", "http://127.0.0.1/games/"}, "keine Basisadresse"},
        {{"verify", "https://127.0.0.1/spiele/"}, "keine Basisadresse"},
        {{"verify", "https://127.0.0.1/games"}, "keine Basisadresse"},
        {{"verify", "https://127.0.0.1/games/", "--base", "https://h/games/"}, "nur fuer einen Baum"},
        {{"verify", p, "--base", "https://h/"}, "--base"},
        {{"verify", p, "--ca-file", (dir.path / "fehlt.pem").string()}, "Zertifikatsdatei"},
    };
    for (const Case& c : cases) {
        Outcome run = runPublish(c.arguments);
        std::string shown;
        for (const std::string& argument : c.arguments)
            shown += " [" + argument + "]";
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_NE(run.err.find(c.fragment), std::string::npos) << shown << "\n" << run.err;
        EXPECT_NE(run.err.find("Aufruf:"), std::string::npos) << shown;
        EXPECT_EQ(run.out, "") << shown;
    }
    EXPECT_FALSE(fs::exists(out));

    Outcome help = runPublish({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Aufruf:"), std::string::npos);
    EXPECT_NE(help.out.find("--part-size"), std::string::npos);
}
