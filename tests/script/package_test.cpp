// Digests, part lists and the package's entries.
#include "script_harness.h"

#include <algorithm>
#include <cctype>

namespace {

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::vector<std::string> failureAfterPart(int failedPart, int parts, const std::string& version, const std::string& error)
{
    std::vector<std::string> lines = {connectingLine(), progressLine(3),
                                      statusLine("ORVAN Launcher " + version + " wird geladen"), progressLine(6)};
    for (int i = 1; i <= failedPart; ++i) {
        lines.push_back(statusLine("Lade Teil " + std::to_string(i) + " / " + std::to_string(parts)));
        lines.push_back(progressLine(partProgress(i, parts)));
    }
    // A digest that does not match has the part fetched once more before the run ends.
    if (error.rfind("Pruefsumme falsch", 0) == 0)
        lines.push_back(logLine("Hinweis: Teil " + std::to_string(failedPart) +
                                " kam mit falscher Pruefsumme an und wird noch einmal geladen."));
    lines.push_back(errorLine(error));
    return lines;
}

} // namespace

class Digests : public ScriptTest {
protected:
    void publishInThree()
    {
        publishInParts(3);
    }
};

TEST_F(Digests, UpperAndMixedCaseAreAccepted)
{
    publishInThree();
    nlohmann::json document = manifest();
    document["paket"]["sha256"] = upper(document["paket"]["sha256"]);
    document["paket"]["teile"][0]["sha256"] = upper(document["paket"]["teile"][0]["sha256"]);
    std::string mixed = document["paket"]["teile"][1]["sha256"];
    for (std::size_t i = 0; i < mixed.size(); i += 2)
        mixed[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed[i])));
    document["paket"]["teile"][1]["sha256"] = mixed;
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 3, true, machine.launcher()))) << result.raw;
}

TEST_F(Digests, BlankAfterTheDigestNamesThePartAndStopsBeforeTheNext)
{
    publishInThree();
    nlohmann::json document = manifest();
    document["paket"]["teile"][1]["sha256"] = document["paket"]["teile"][1]["sha256"].get<std::string>() + " ";
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(failureAfterPart(2, 3, "1.2.3", "Pruefsumme falsch: Teil 2"))) << result.raw;
    std::string third = document["paket"]["teile"][2]["url"];
    EXPECT_EQ(accessLog().find(third), std::string::npos) << "part 3 was fetched";
    // What was fetched stays for the next attempt to overwrite.
    fs::path temp = machine.temp / "orvan-launcher-1.2.3";
    EXPECT_TRUE(fs::exists(temp / document["paket"]["teile"][0]["url"].get<std::string>()));
    EXPECT_TRUE(fs::exists(temp / "launcher.zip"));
    EXPECT_FALSE(fs::exists(machine.installDir()));
}

TEST_F(Digests, BlankBeforeTheFirstDigestNamesPartOne)
{
    publishInThree();
    nlohmann::json document = manifest();
    document["paket"]["teile"][0]["sha256"] = " " + document["paket"]["teile"][0]["sha256"].get<std::string>();
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(failureAfterPart(1, 3, "1.2.3", "Pruefsumme falsch: Teil 1"))) << result.raw;
}

TEST_F(Digests, WrongPackageDigestFailsAfterTheLastPart)
{
    publishInThree();
    nlohmann::json document = manifest();
    document["paket"]["sha256"] = std::string(64, '0');
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    std::vector<std::string> expected = failureAfterPart(3, 3, "1.2.3", "Paket beschaedigt - bitte nochmal starten.");
    expected.insert(expected.end() - 1, {statusLine("Pruefe Paket"), progressLine(74)});
    EXPECT_EQ(joined(result.lines), joined(expected)) << result.raw;
    EXPECT_FALSE(fs::exists(machine.installDir()));
}

class PartList : public ScriptTest {};

TEST_F(PartList, EmptyListWithTheEmptyDigestFailsOpeningTheArchive)
{
    publishDefault();
    nlohmann::json document = manifest();
    document["paket"]["teile"] = nlohmann::json::array();
    document["paket"]["sha256"] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    ASSERT_EQ(result.lines.size(), 9u) << result.raw;
    EXPECT_EQ(result.lines[4], statusLine("Pruefe Paket"));
    EXPECT_EQ(result.lines[5], progressLine(74));
    EXPECT_EQ(result.lines[6], statusLine("Entpacke Dateien"));
    EXPECT_EQ(result.lines[7], progressLine(80));
    EXPECT_EQ(result.lines[8].rfind("ERROR \"", 0), 0u) << result.lines[8];
    EXPECT_FALSE(fs::exists(machine.installDir()));
}

TEST_F(PartList, EmptyListWithAnotherDigestIsABrokenPackage)
{
    publishDefault();
    nlohmann::json document = manifest();
    document["paket"]["teile"] = nlohmann::json::array();
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines),
              joined({connectingLine(), progressLine(3), statusLine("ORVAN Launcher 1.2.3 wird geladen"),
                      progressLine(6), statusLine("Pruefe Paket"), progressLine(74),
                      errorLine("Paket beschaedigt - bitte nochmal starten.")})) << result.raw;
}

TEST_F(PartList, PartNamedLikeThePackageFileFails)
{
    publishDefault();
    nlohmann::json document = manifest();
    fs::path folder = manifestPath(tree()).parent_path();
    fs::rename(partPaths(tree())[0], folder / "launcher.zip");
    document["paket"]["teile"][0]["url"] = "launcher.zip";
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    ASSERT_EQ(result.lines.size(), 7u) << result.raw;
    EXPECT_EQ(result.lines[5], progressLine(70));
    EXPECT_EQ(result.lines[6].rfind("ERROR \"", 0), 0u) << result.lines[6];
    EXPECT_FALSE(fs::exists(machine.installDir()));
}

TEST_F(PartList, TwoPartsWithTheSameFileNameStillMakeTheWholePackage)
{
    publishInParts(2);
    nlohmann::json document = manifest();
    fs::path folder = manifestPath(tree()).parent_path();
    std::vector<fs::path> parts = partPaths(tree());
    for (int k = 0; k < 2; ++k) {
        std::string sub = k == 0 ? "a" : "b";
        fs::create_directories(folder / sub);
        fs::rename(parts[k], folder / sub / "teil.bin");
        document["paket"]["teile"][k]["url"] = sub + "/teil.bin";
    }
    setManifest(document);
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 2, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}

TEST_F(PartList, CutsAtAnyByteInstallLikeOnePart)
{
    publishDefault();
    joinPartsTo(tree(), scratch() / "paket.zip");
    std::size_t size = fs::file_size(scratch() / "paket.zip");
    // One-byte parts, a cut inside the first local header, one inside the central directory's
    // end record and one before the last byte.
    cutPackage(tree(), scratch() / "paket.zip", {1, 2, 17, size / 2 + 3, size - 20, size - 1});
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 7, true, machine.launcher()))) << result.raw;
    EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
}

class PackageEntries : public ScriptTest {};

TEST_F(PackageEntries, OnlyFilesBelowInhaltAreExtracted)
{
    publishDefault();
    pythonZip(scratch() / "paket.zip", {
                                           {"Inhalt/", ""},
                                           {"Inhalt/ORVAN Launcher.exe", "MZ"},
                                           {"Inhalt/leer/", ""},
                                           {"Inhalt/unter/ordner/datei.txt", "tief", "store"},
                                           {"inhalt/klein.txt", "klein"},
                                           {"INHALT/gross.txt", "gross"},
                                           {"Inhaltx/daneben.txt", "daneben"},
                                           {"Andere/datei.txt", "anders"},
                                           {"liesmich.txt", "oben"},
                                       });
    republish(tree(), scratch() / "paket.zip");
    Machine machine;

    ScriptRun result = run(machine);

    EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, false, machine.launcher()))) << result.raw;
    std::map<std::string, std::string> expected = {{"ORVAN Launcher.exe", "MZ"}, {"unter/ordner/datei.txt", "tief"}};
    EXPECT_EQ(filesBelow(machine.installDir()), expected);
    EXPECT_FALSE(fs::exists(machine.installDir() / "leer"));
}
