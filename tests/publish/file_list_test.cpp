// The list of delivered files that build packs beside the uninstaller, read back with Python's
// zipfile, and verify's check of a list against its package.
#include "publish_test_util.h"

#include <gtest/gtest.h>

namespace {

const char* kListEntry = "Inhalt/ORVAN Deinstallieren.dateien";

struct FileListFixture : ::testing::Test {
    TempDir dir;
    fs::path payload = dir.path / "nutzlast";
    fs::path tree = dir.path / "baum";

    // name -> bytes of every entry of the built package.
    std::map<std::string, std::string> packageEntries()
    {
        fs::path zip = dir.path / "paket.zip";
        joinPartsTo(tree, zip);
        Outcome run = runShell("python3 -c 'import sys, zipfile\n"
                               "z = zipfile.ZipFile(sys.argv[1])\n"
                               "for n in z.namelist(): sys.stdout.buffer.write(n.encode() + b\"\\0\" + z.read(n) + b\"\\0\")' " +
                               shellQuote(zip.string()));
        EXPECT_EQ(run.status, 0) << run.err;
        std::map<std::string, std::string> entries;
        for (std::size_t at = 0; at < run.out.size();) {
            std::size_t nameEnd = run.out.find('\0', at);
            std::size_t dataEnd = run.out.find('\0', nameEnd + 1);
            entries[run.out.substr(at, nameEnd - at)] = run.out.substr(nameEnd + 1, dataEnd - nameEnd - 1);
            at = dataEnd + 1;
        }
        return entries;
    }
};

TEST_F(FileListFixture, TheUninstallerOptionBringsTheProgramAndTheListOfEveryFile)
{
    makePayload(payload, false);
    writeFile(dir.path / "gebaut" / "uninstall.exe", "MZ the real one");
    Outcome run = runPublish({"build", payload.string(), "--version", "1.0", "--out", tree.string(), "--uninstaller",
                              (dir.path / "gebaut" / "uninstall.exe").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    auto entries = packageEntries();
    EXPECT_EQ(entries["Inhalt/ORVAN Deinstallieren.exe"], "MZ the real one");
    EXPECT_EQ(entries[kListEntry], "ORVAN Deinstallieren.dateien\n"
                                   "ORVAN Deinstallieren.exe\n"
                                   "ORVAN Launcher.exe\n"
                                   "daten/Grüße.txt\n"
                                   "daten/tief/gross.dat\n");
    Outcome checked = verify(tree);
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_NE(checked.out.find("mit Deinstallationsprogramm"), std::string::npos) << checked.out;
}

TEST_F(FileListFixture, TheOptionReplacesThePayloadsUninstallerAndAPayloadWithoutOneGetsNoList)
{
    makePayload(payload, true);
    writeFile(dir.path / "neu.exe", "MZ neu");
    Outcome run = runPublish({"build", payload.string(), "--version", "1.0", "--out", tree.string(), "--uninstaller",
                              (dir.path / "neu.exe").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("ersetzt die Datei im Nutzlastordner"), std::string::npos) << run.err;
    EXPECT_EQ(packageEntries()["Inhalt/ORVAN Deinstallieren.exe"], "MZ neu");

    fs::remove_all(tree);
    fs::remove(payload / "ORVAN Deinstallieren.exe");
    buildTree(payload, tree, "1.1");
    EXPECT_EQ(packageEntries().count(kListEntry), 0u);
}

TEST_F(FileListFixture, BuildRefusesAPayloadHoldingTheListsNameAndAMissingProgram)
{
    // Which names are reserved is tests/package's; here, that build refuses one, as a file or as
    // a folder, and says so.
    makePayload(payload, true);
    Outcome run;
    for (const char* name : {"orvan deinstallieren.DATEIEN", "ORVAN Deinstallieren.bestand/x.txt"}) {
        writeFile(payload / name, "../../boot.ini\n");
        run = runPublish({"build", payload.string(), "--version", "1.0", "--out", tree.string()});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(std::string("Die Datei \"") + name + "\" im Nutzlastordner: der Name ist dem "
                               "Deinstallationsprogramm vorbehalten"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(tree));
        fs::remove_all(payload / fs::path(name).begin()->string());
    }

    run = runPublish({"build", payload.string(), "--version", "1.0", "--out", tree.string(), "--uninstaller",
                      (dir.path / "fehlt.exe").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("keine lesbare Datei"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(tree));
}

TEST_F(FileListFixture, VerifyComparesTheListWithThePackage)
{
    makePayload(payload, true);
    buildTree(payload, tree, "1.2.3", "32K");
    struct Case {
        std::string list;
        const char* fragment; // empty: clean
    };
    const std::string launcher = "Inhalt/ORVAN Launcher.exe";
    const std::string uninstaller = "Inhalt/ORVAN Deinstallieren.exe";
    for (const Case& c : {Case{"ORVAN Deinstallieren.dateien\nORVAN Deinstallieren.exe\nORVAN Launcher.exe\na/b.txt\n", ""},
                          Case{"ORVAN Deinstallieren.dateien\nORVAN Deinstallieren.exe\nORVAN Launcher.exe\n",
                               "nennt \"a/b.txt\" nicht"},
                          Case{"ORVAN Deinstallieren.dateien\nORVAN Deinstallieren.exe\nORVAN Launcher.exe\na/b.txt\n../x\n",
                               "nennt \"../x\", das nicht im Paket liegt"},
                          Case{"ORVAN Launcher.exe\n\xFF\n", "kein gueltiges UTF-8"}}) {
        fs::path zip = dir.path / "fremd.zip";
        pythonZip(zip, {{launcher, "MZ"}, {uninstaller, "MZ"}, {"Inhalt/a/b.txt", "b"}, {kListEntry, c.list}});
        republish(tree, zip, 100);
        Outcome run = verify(tree);
        if (std::string(c.fragment).empty()) {
            EXPECT_EQ(run.status, 0) << c.list << run.out;
        } else {
            EXPECT_EQ(run.status, 1) << c.list << run.out;
            EXPECT_TRUE(saysProblem(run, c.fragment)) << c.fragment << "\n" << run.out;
        }
    }

    // A package made without the publisher: no list is no problem, only worth a note.
    fs::path zip = dir.path / "fremd.zip";
    pythonZip(zip, {{launcher, "MZ"}, {uninstaller, "MZ"}});
    republish(tree, zip, 100);
    Outcome run = verify(tree);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("keine Liste"), std::string::npos) << run.out;
}

} // namespace
