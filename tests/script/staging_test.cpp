// A reinstall that fails while the new files are unpacked or moved into place leaves the installed
// version exactly as it was: nothing replaced, nothing added, no working folder left behind.
#include "script_harness.h"

#include <sys/mount.h>

namespace {

class Staging : public ScriptTest {
protected:
    // A first installation, and what it left, to compare against after the failed second one.
    void installFirst(Machine& machine)
    {
        publishDefault();
        ASSERT_EQ(joined(run(machine).lines), joined(successLines("1.2.3", 1, true, machine.launcher())));
        installed = filesBelow(machine.installDir());
        shortcut = readFile(machine.shortcut());
    }

    // The second run ended with an error and changed nothing.
    void expectUnchanged(const Machine& machine, const ScriptRun& result)
    {
        ASSERT_FALSE(result.lines.empty()) << result.raw;
        EXPECT_EQ(result.lines.back().rfind("ERROR \"", 0), 0u) << result.raw;
        EXPECT_TRUE(filesBelow(machine.installDir()) == installed) << "the installed version byte for byte";
        EXPECT_EQ(readFile(machine.shortcut()), shortcut);
        EXPECT_EQ(machine.uninstallerCalls(), "[/registrieren][/version][1.2.3]\n") << "registered by the first run only";
        EXPECT_FALSE(fs::exists(machine.profile / "ORVAN.neu"));
        EXPECT_FALSE(fs::exists(machine.profile / "ORVAN.alt"));
    }

    std::map<std::string, std::string> installed;
    std::string shortcut;
};

// Text that deflates to a long stream.
std::string manyLines(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "Zeile " + std::to_string(i * 7919 % 10007) + "\n";
    return text;
}

// Marks the entry's deflate stream as a block of the reserved type, which no reader can unpack.
void damageEntry(const fs::path& zip, const std::string& name)
{
    Outcome run = runShell("python3 -c " + shellQuote("import sys, zipfile, struct\n"
                                                       "z = zipfile.ZipFile(sys.argv[1]); i = z.getinfo(sys.argv[2]); z.close()\n"
                                                       "f = open(sys.argv[1], 'r+b'); f.seek(i.header_offset + 26)\n"
                                                       "n, m = struct.unpack('<HH', f.read(4)); f.seek(i.header_offset + 30 + n + m)\n"
                                                       "f.write(b'\\x07'); f.close()\n") +
                           " " + shellQuote(zip.string()) + " " + shellQuote(name));
    ASSERT_EQ(run.status, 0) << run.err;
}

} // namespace

TEST_F(Staging, DamagedEntryLeavesTheInstalledVersionAsItWas)
{
    Machine machine;
    ASSERT_NO_FATAL_FAILURE(installFirst(machine));
    // The damaged entry comes last: every other file is unpacked before it fails.
    pythonZip(scratch() / "paket.zip", {{"Inhalt/ORVAN Launcher.exe", "MZ neu"},
                                        {"Inhalt/daten/neu.txt", "neu"},
                                        {"Inhalt/neuer Ordner/x.txt", "x"},
                                        {"Inhalt/daten/kaputt.txt", manyLines(5000)}});
    damageEntry(scratch() / "paket.zip", "Inhalt/daten/kaputt.txt");
    republish(tree(), scratch() / "paket.zip");

    ScriptRun result = run(machine);

    expectUnchanged(machine, result);
    EXPECT_FALSE(fs::exists(machine.installDir() / "neuer Ordner"));
}

TEST_F(Staging, FileThatCannotBeMovedIntoPlacePutsBackWhatWasReplaced)
{
    Machine machine;
    ASSERT_NO_FATAL_FAILURE(installFirst(machine));
    // A folder where the package has a file: the move of that file fails after the ones before
    // it have replaced or joined the installed files.
    fs::create_directories(machine.installDir() / "sperre.txt" / "drin");
    pythonZip(scratch() / "paket.zip", {{"Inhalt/ORVAN Launcher.exe", "MZ neu"},
                                        {"Inhalt/daten/neu.txt", "neu"},
                                        {"Inhalt/neuer Ordner/x.txt", "x"},
                                        {"Inhalt/sperre.txt", "gesperrt"}});
    republish(tree(), scratch() / "paket.zip");

    ScriptRun result = run(machine);

    expectUnchanged(machine, result);
    const std::string start = errorLine("Die neuen Dateien konnten nicht an ihren Platz gebracht werden (");
    const std::string end = errorLine("). Die bisherige Installation ist unveraendert.");
    ASSERT_FALSE(result.lines.empty());
    EXPECT_EQ(result.lines.back().rfind(start.substr(0, start.size() - 1), 0), 0u) << result.lines.back();
    EXPECT_TRUE(result.lines.back().ends_with(end.substr(7))) << result.lines.back();
    EXPECT_FALSE(fs::exists(machine.installDir() / "neuer Ordner")) << "a folder the failed run made is gone";
    EXPECT_TRUE(fs::is_directory(machine.installDir() / "sperre.txt" / "drin"));
}

TEST_F(Staging, FullDiskUnderTheInstallFolderPutsBackWhatWasReplaced)
{
    Machine machine;
    fs::create_directories(machine.installDir());
    if (::mount("tmpfs", machine.installDir().c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    struct Unmount {
        fs::path at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{machine.installDir()};
    ASSERT_NO_FATAL_FAILURE(installFirst(machine));
    // The launcher is replaced first, then a file larger than the disk fails part-way; the
    // stage lies on another drive, so every move is a copy.
    Outcome random = runShell("head -c 2400000 /dev/urandom | base64");
    pythonZip(scratch() / "paket.zip", {{"Inhalt/ORVAN Launcher.exe", "MZ neu"},
                                        {"Inhalt/daten/gross.bin", random.out, "store"}});
    republish(tree(), scratch() / "paket.zip");

    ScriptRun result = run(machine);

    expectUnchanged(machine, result);
}

// What an earlier run, a running one or the user left in the profile, and the error it must end
// the run with ("" when the run installs, clearing the stage and the backup). Files are relative
// to the profile; a name ending in "/" is an empty folder. Whatever holds "meins" must stay.
struct Leftover {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;
    bool lockHeld;
    std::string (*error)(const Machine&);
};

void PrintTo(const Leftover& leftover, std::ostream* out) { *out << leftover.name; }

std::string taken(const Machine& m, const char* name)
{
    return "Im Benutzerordner gibt es schon \"" + scriptPath(m.profile / name) +
           "\", das die Installation als Arbeitsordner braucht. Bitte es umbenennen oder verschieben und nochmal versuchen.";
}

const std::pair<std::string, std::string> kMark{"ORVAN.neu/ORVAN.neu.marke", ""}, kStaged{"ORVAN.neu/daten/halb.txt", "meins"};

class WorkFolders : public ScriptTest, public ::testing::WithParamInterface<Leftover> {};

TEST_P(WorkFolders, AreClearedOnlyWhenNothingOfTheUserOrOfAnotherRunGoes)
{
    const Leftover& leftover = GetParam();
    publishDefault();
    Machine machine;
    for (const auto& [name, text] : leftover.files)
        name.ends_with("/") ? (void)fs::create_directories(machine.profile / name) : writeFile(machine.profile / name, text);
    fs::path lock = machine.profile / "ORVAN.neu.sperre";
    writeFile(lock, ""); // as a killed run leaves it where nothing deletes it
    // Opened as a running installation holds it: for writing, shared with no one.
    ScriptRun result = run(machine, {}, leftover.lockHeld ? "$other = [IO.FileStream]::new('" + scriptPath(lock) + "', 'Open', 'ReadWrite', 'None')" : "");

    std::string error = leftover.error ? leftover.error(machine) : "";
    if (error.empty()) {
        EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
        EXPECT_FALSE(fs::exists(machine.profile / "ORVAN.neu") || fs::exists(machine.profile / "ORVAN.alt"));
        EXPECT_FALSE(underWine() && fs::exists(lock)) << "Windows deletes the lock with its last handle";
        return;
    }
    EXPECT_EQ(joined(result.lines), joined({connectingLine(), progressLine(3), errorLine(error)})) << result.raw;
    EXPECT_TRUE(machine.tempEntries().empty() && !fs::exists(machine.installDir()));
    for (const auto& [name, text] : leftover.files)
        EXPECT_TRUE(text != "meins" || readFile(machine.profile / name) == "meins") << name;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, WorkFolders,
    ::testing::Values(
        Leftover{"StageOfAnEndedRun", {kMark, {"ORVAN.neu/daten/halb.txt", "halb"}}, false, nullptr},
        Leftover{"EmptyFolders", {{"ORVAN.neu/leer/", ""}, {"ORVAN.alt/leer/", ""}}, false, nullptr},
        Leftover{"UsersOwnStage", {{"ORVAN.neu/brief.txt", "meins"}}, false, [](const Machine& m) { return taken(m, "ORVAN.neu"); }},
        Leftover{"FileNamedLikeTheBackup", {{"ORVAN.alt", "meins"}}, false, [](const Machine& m) { return taken(m, "ORVAN.alt"); }},
        Leftover{"BackupAfterAFailedRollback", {kMark, {"ORVAN.alt/daten/alt.txt", "meins"}}, false,
                 [](const Machine& m) {
                     return "Im Ordner \"" + scriptPath(m.profile / "ORVAN.alt") + "\" liegen noch Dateien, zum Beispiel der "
                            "vorigen Version, die nicht zurueckgeholt werden konnten. Bitte fehlende Dateien daraus in den Ordner \"" +
                            scriptPath(m.installDir()) + "\" kopieren, den Ordner danach umbenennen oder entfernen und nochmal versuchen.";
                 }},
        Leftover{"AnotherRunUnpacking", {kMark, kStaged}, true, [](const Machine&) {
                     return std::string("Eine andere Installation des ORVAN Launchers laeuft gerade. Bitte warten, bis sie "
                                        "fertig ist, und dann nochmal versuchen.");
                 }}));
