// The uninstaller's decisions: its command line, the record of delivered files, which recorded
// paths it may touch and what a removal takes.
#include "uninstall/core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace {

struct CallCase {
    std::vector<std::wstring> args;
    bool ok;
    Mode mode;
    bool silent;
    std::wstring version;
};

TEST(UninstallerCommandLine, ModesSwitchesAndBadCalls)
{
    const CallCase cases[] = {
        {{}, true, Mode::remove, false, L""},
        {{L"/still"}, true, Mode::remove, true, L""},
        {{L"/STILL"}, true, Mode::remove, true, L""},
        {{L"/registrieren", L"/version", L"2.0 beta"}, true, Mode::registerApp, true, L"2.0 beta"},
        {{L"/version", L"1.0", L"/Registrieren"}, true, Mode::registerApp, true, L"1.0"},
        {{L"/registrieren", L"/version", L"1.0", L"/still"}, true, Mode::registerApp, true, L"1.0"},
        // A version that looks like a switch is still the version: the script passes it unchanged.
        {{L"/registrieren", L"/version", L"/still"}, true, Mode::registerApp, true, L"/still"},
        {{L"/registrieren", L"/version"}, false, Mode::remove, false, L""},
        {{L"/registrieren", L"/version", L""}, false, Mode::remove, false, L""},
        {{L"/registrieren"}, false, Mode::remove, false, L""},
        {{L"/version", L"1.0"}, false, Mode::remove, false, L""},
        {{L"/registrieren", L"/registrieren", L"/version", L"1"}, false, Mode::remove, false, L""},
        {{L"/still", L"/still"}, false, Mode::remove, false, L""},
        {{L"/S"}, false, Mode::remove, false, L""},
        {{L"still"}, false, Mode::remove, false, L""},
        {{L"/registrieren", L"/version", L"1.0", L"extra"}, false, Mode::remove, false, L""},
    };
    for (const CallCase& c : cases) {
        std::wstring joined;
        for (const auto& a : c.args)
            joined += L"[" + a + L"]";
        Call call;
        std::wstring problem;
        bool ok = parseCommandLine(c.args, call, problem);
        SCOPED_TRACE(std::string(joined.begin(), joined.end()));
        ASSERT_EQ(ok, c.ok);
        if (!ok) {
            EXPECT_FALSE(problem.empty());
            continue;
        }
        EXPECT_EQ(call.mode, c.mode);
        EXPECT_EQ(call.silent, c.silent);
        EXPECT_EQ(call.version, c.version);
    }
}

TEST(UninstallerCommandLine, TheFinishingCopyReadsBackWhatTheOriginalWrites)
{
    std::wstring line = finishArguments(1234, L"C:\\Users\\Jos\u00e9\\ORVAN Launcher\\");
    EXPECT_EQ(line, L"/abschluss 1234 \"C:\\Users\\Jos\u00e9\\ORVAN Launcher\"");
    Call call;
    std::wstring problem;
    ASSERT_TRUE(parseCommandLine({L"/abschluss", L"1234", L"C:\\Users\\Jos\u00e9\\ORVAN Launcher"}, call, problem));
    EXPECT_EQ(call.mode, Mode::finish);
    EXPECT_TRUE(call.silent);
    EXPECT_EQ(call.waitHandle, 1234u);
    EXPECT_EQ(call.installFolder, L"C:\\Users\\Jos\u00e9\\ORVAN Launcher");
    for (const auto& bad : std::vector<std::vector<std::wstring>>{
             {L"/abschluss"}, {L"/abschluss", L"12x", L"C:\\a"}, {L"/abschluss", L"1", L""},
             {L"/still", L"/abschluss", L"1", L"C:\\a"}, {L"/abschluss", L"1", L"C:\\a", L"/still"}})
        EXPECT_FALSE(parseCommandLine(bad, call, problem));
}

// Which paths break which rule is tests/package's; here, that "\\" separates as "/" does, and
// the reason the closing message gives for each.
TEST(UninstallerPaths, RecordedPathsThatMayBeTouched)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"ORVAN Launcher.exe", L""},
        {L"daten\\spiel.cfg", L""},
        {L"daten/unter/sp\u00e4t.txt", L""},
        {L"", L"ist leer"},
        {L"..\\Desktop\\x.txt", L"f\u00fchrt aus dem Installationsordner hinaus"},
        {L"daten\\..\\..\\x", L"f\u00fchrt aus dem Installationsordner hinaus"},
        {L"\\Windows\\x", L"ist kein Pfad im Installationsordner"},
        {L"\\\\server\\share\\x", L"ist kein Pfad im Installationsordner"},
        {L"C:\\x", L"ist kein Pfad im Installationsordner"},
        {L"daten\\\\x", L"ist kein gew\u00f6hnlicher Pfad"},
        {L".\\x", L"ist kein gew\u00f6hnlicher Pfad"},
        {L"daten\\", L"ist kein gew\u00f6hnlicher Pfad"},
        {L"daten\\a?b", L"enth\u00e4lt ein Zeichen, das Windows in Dateinamen nicht zul\u00e4sst"},
        {L"daten.\\x", L"endet auf einen Punkt oder ein Leerzeichen"},
        {L"daten\\com1.txt", L"ist ein Ger\u00e4tename"},
        {L"COM\u00b9", L"ist ein Ger\u00e4tename"},
    };
    for (const auto& [path, reason] : cases)
        EXPECT_EQ(recordedPathProblem(path), reason) << std::string(path.begin(), path.end());
}

TEST(UninstallerPaths, InsideTheInstallFolderAsWindowsComparesNames)
{
    const std::wstring folder = L"C:\\Users\\Ana\\ORVAN Launcher";
    EXPECT_TRUE(isInsideFolder(L"C:\\Users\\Ana\\ORVAN Launcher\\ORVAN Launcher.exe", folder));
    EXPECT_TRUE(isInsideFolder(L"c:\\users\\ana\\orvan launcher\\x\\y.exe", folder));
    EXPECT_TRUE(isInsideFolder(L"C:\\Users\\Ana\\ORVAN Launcher\\x", folder + L"\\"));
    EXPECT_FALSE(isInsideFolder(L"C:\\Users\\Ana\\ORVAN Launcher", folder));
    EXPECT_FALSE(isInsideFolder(L"C:\\Users\\Ana\\ORVAN Launcher2\\x.exe", folder));
    EXPECT_FALSE(isInsideFolder(L"C:\\Users\\Ana\\ORVAN Launcher\\..\\x.exe", folder));
    EXPECT_FALSE(isInsideFolder(L"D:\\Spiele\\ORVAN Launcher.exe", folder));
    EXPECT_FALSE(isInsideFolder(L"", folder));

    EXPECT_TRUE(installFolderProblem(folder).empty());
    EXPECT_TRUE(installFolderProblem(L"C:\\Users\\Ana\\orvan launcher").empty());
    EXPECT_FALSE(installFolderProblem(L"C:\\Users\\Ana\\Downloads").empty());
    EXPECT_FALSE(installFolderProblem(L"C:\\").empty());
    EXPECT_EQ(foldCase(L"\u00c4RGER.EXE"), foldCase(L"\u00e4rger.exe"));
    EXPECT_TRUE(sameName(L"\u00ff", L"\u0178")) << "beyond Latin-1, as Windows folds";
}

TEST(UninstallerRecord, ReadsLinesAndRefusesWhatIsNoUtf8)
{
    std::vector<RecordEntry> entries;
    ASSERT_TRUE(parseRecord("\xEF\xBB\xBFORVAN Launcher.exe\r\ndaten/sp\xC3\xA4t.txt\n\n..\\raus.txt\nletzte", entries));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].path, L"ORVAN Launcher.exe");
    EXPECT_EQ(entries[1].path, L"daten\\sp\u00e4t.txt");
    EXPECT_TRUE(entries[1].problem.empty());
    EXPECT_FALSE(entries[2].problem.empty());
    EXPECT_EQ(entries[3].path, L"letzte");
    ASSERT_TRUE(parseRecord("", entries));
    EXPECT_TRUE(entries.empty());
    // Outside the basic plane: two UTF-16 units, and back to the same bytes.
    ASSERT_TRUE(parseRecord("\xF0\x9F\x8E\xAE.txt\n", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, std::wstring({wchar_t(0xD83C), wchar_t(0xDFAE)}) + L".txt");
    EXPECT_EQ(recordText({entries[0].path}), "\xF0\x9F\x8E\xAE.txt\n");

    // What is no list at all is tests/package's; here, that no entry is read from it.
    EXPECT_FALSE(parseRecord("a\xFF" "b\n", entries));
}

TEST(UninstallerRecord, MergeKeepsEveryVersionsFilesOnceAndDropsRefusedPaths)
{
    std::vector<RecordEntry> first, second;
    ASSERT_TRUE(parseRecord("ORVAN Launcher.exe\nalt/eins.dll\ngemeinsam.dat\n", first));
    ASSERT_TRUE(parseRecord("GEMEINSAM.DAT\nneu/zwei.dll\n../../ntuser.dat\n", second));
    std::vector<std::wstring> refused;
    std::vector<std::wstring> merged = mergeRecords(first, second, refused);
    EXPECT_EQ(merged, (std::vector<std::wstring>{L"ORVAN Launcher.exe", L"ORVAN Deinstallieren.exe", L"alt\\eins.dll",
                                                 L"gemeinsam.dat", L"neu\\zwei.dll"}));
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find(L"..\\..\\ntuser.dat"), std::wstring::npos);

    // No list at all: the launcher and the uninstaller are still known.
    refused.clear();
    EXPECT_EQ(mergeRecords({}, {}, refused), (std::vector<std::wstring>{L"ORVAN Launcher.exe", L"ORVAN Deinstallieren.exe"}));

    // What is written reads back as the same record.
    std::vector<RecordEntry> again;
    ASSERT_TRUE(parseRecord(recordText(merged), again));
    ASSERT_EQ(again.size(), merged.size());
    for (std::size_t i = 0; i < merged.size(); ++i)
        EXPECT_EQ(again[i].path, merged[i]);
}

TEST(UninstallerPlan, FilesThenFoldersDeepestFirstTheUninstallerLeftToTheCopy)
{
    std::vector<RecordEntry> record;
    ASSERT_TRUE(parseRecord("ORVAN Launcher.exe\nORVAN Deinstallieren.exe\nORVAN Deinstallieren.bestand\n"
                            "a/b/c/tief.txt\na/flach.txt\nz/x.txt\nA/FLACH.TXT\n../raus.txt\nC:/boot.ini\n",
                            record));
    RemovalPlan plan = planRemoval(record);
    EXPECT_EQ(plan.files, (std::vector<std::wstring>{L"ORVAN Launcher.exe", L"a\\b\\c\\tief.txt", L"a\\flach.txt", L"z\\x.txt"}));
    EXPECT_EQ(plan.folders, (std::vector<std::wstring>{L"a\\b\\c", L"a\\b", L"a", L"z"}));
    ASSERT_EQ(plan.refused.size(), 2u);
    EXPECT_NE(plan.refused[0].find(L"..\\raus.txt"), std::wstring::npos);
    EXPECT_NE(plan.refused[1].find(L"C:\\boot.ini"), std::wstring::npos);
}

// A record that names nothing usable is still an installation's: the launcher is planned (and so
// checked for use), the uninstaller and the record are the finishing copy's.
TEST(UninstallerPlan, TheLauncherAndTheUninstallerBelongToEveryInstallation)
{
    for (const char* bytes : {"", "\n\n", "../raus.txt\n", "ORVAN Deinstallieren.exe\n", "orvan launcher.EXE\n"}) {
        std::vector<RecordEntry> record;
        ASSERT_TRUE(parseRecord(bytes, record));
        RemovalPlan plan = planRemoval(record);
        EXPECT_EQ(plan.files, std::vector<std::wstring>{L"ORVAN Launcher.exe"}) << bytes;
        EXPECT_EQ(plan.finishing, (std::vector<std::wstring>{L"ORVAN Deinstallieren.exe", L"ORVAN Deinstallieren.bestand"}));
    }
}

// The install folder itself ("") is looked at like every folder below it, each folder once.
TEST(UninstallerPlan, NothingIsReachedThroughALinkTheInstallFolderIncluded)
{
    const std::tuple<std::wstring, std::wstring, bool> cases[] = { // link, path, reachable
        {L"-", L"a\\b\\c.txt", true},        {L"", L"ORVAN Launcher.exe", false}, {L"", L"a\\b\\c.txt", false},
        {L"A\\B", L"a\\b\\c.txt", false},    {L"a\\b", L"a\\c.txt", true},        {L"a", L"x.txt", true},
        {L"a\\c.txt", L"a\\c.txt", true}, // a file that is a link goes as the link
    };
    for (const auto& [link, path, reachable] : cases) {
        std::map<std::wstring, int> asked;
        LinkGuard guard{[&, link = link](const std::wstring& folder) { return ++asked[folder], sameName(folder, link); }, {}};
        EXPECT_EQ(guard.reachable(path) && guard.reachable(path), reachable) << std::string(path.begin(), path.end());
        EXPECT_EQ(asked[L""], 1);
        for (const auto& entry : asked)
            EXPECT_EQ(entry.second, 1) << std::string(entry.first.begin(), entry.first.end());
    }
}

TEST(UninstallerCommandLine, TheFinishingCopyReportsOnlyWhenTheOriginalShowedDialogs)
{
    for (bool report : {false, true}) {
        EXPECT_EQ(finishArguments(7, L"C:\\O", report), std::wstring(L"/abschluss 7 \"C:\\O\"") + (report ? L" /melden" : L""));
        Call call;
        std::wstring problem;
        std::vector<std::wstring> args = {L"/abschluss", L"7", L"C:\\O", L"/MELDEN"};
        ASSERT_TRUE(parseCommandLine({args.begin(), args.end() - (report ? 0 : 1)}, call, problem));
        EXPECT_EQ(call.report, report);
        EXPECT_FALSE(parseCommandLine({L"/melden"}, call, problem));
    }
}

TEST(UninstallerRegistration, SizeDateAndCommand)
{
    EXPECT_EQ(estimatedSizeKiB(0), 0u);
    EXPECT_EQ(estimatedSizeKiB(1), 1u);
    EXPECT_EQ(estimatedSizeKiB(1024), 1u);
    EXPECT_EQ(estimatedSizeKiB(1025), 2u);
    EXPECT_EQ(estimatedSizeKiB(~0ull), 0xFFFFFFFFu);
    EXPECT_EQ(installDateText(2026, 3, 7), L"20260307");
    EXPECT_EQ(quotedPath(L"C:\\a b\\x.exe"), L"\"C:\\a b\\x.exe\"");
}

TEST(UninstallerTexts, TheClosingMessageNamesTheKeptFolderAndWhatWasRefused)
{
    std::wstring clean = text::done(L"C:\\U\\ORVAN Launcher", false, {}, {});
    EXPECT_EQ(clean, L"Der ORVAN Launcher wurde entfernt.");
    std::vector<std::wstring> refused;
    for (int i = 0; i < 12; ++i)
        refused.push_back(L"\"..\\x" + std::to_wstring(i) + L"\"");
    std::wstring kept = text::done(L"C:\\U\\ORVAN Launcher", true, refused, {L"\"a.dll\""});
    EXPECT_NE(kept.find(L"\"C:\\U\\ORVAN Launcher\" bleibt bestehen"), std::wstring::npos);
    EXPECT_NE(kept.find(L"..\\x9"), std::wstring::npos);
    EXPECT_EQ(kept.find(L"..\\x10"), std::wstring::npos);
    EXPECT_NE(kept.find(L"und 2 weitere"), std::wstring::npos);
    EXPECT_NE(kept.find(L"\"a.dll\""), std::wstring::npos);
    EXPECT_EQ(kept.rfind(L"Der ORVAN Launcher wurde nicht vollst\u00e4ndig entfernt.", 0), 0u)
        << "a file that stayed is no complete removal";
    EXPECT_EQ(kept.find(L"nicht mit dem Launcher installiert"), std::wstring::npos)
        << "what stayed may be the launcher's own";
    EXPECT_NE(text::inUse(L"ORVAN Launcher.exe").find(L"\"ORVAN Launcher.exe\""), std::wstring::npos);
}

// What each message says, read as the user reads it: what it must say, and what it must not.
TEST(UninstallerTexts, EachMessageSaysWhatHappened)
{
    const std::wstring folder = L"C:\\U\\ORVAN Launcher";
    const std::tuple<std::wstring, std::vector<std::wstring>, std::vector<std::wstring>> cases[] = { // text, says, never
        {text::confirm(folder), {L"\"C:\\U\\ORVAN Launcher\"", L"Windows-Einstellungen", L"Einstellungen des Launchers"},
         {L"vollst\u00e4ndig", L"Einstellungen - Apps", L"(Einstellungen,"}},
        {text::inUse(L"a.dll"), {L"\"a.dll\"", L"in Gebrauch", L"erneut", L"nichts entfernt"}, {L"nochmal", L"Recht"}},
        {text::noAccess(L"a.dll"), {L"\"a.dll\"", L"nicht ge\u00e4ndert werden", L"Recht", L"nichts entfernt"}, {L"in Gebrauch"}},
        {text::folderIsLink(folder, L"D:\\Spiele"),
         {folder, L"\"D:\\Spiele\"", L"symbolische Verkn\u00fcpfung oder Verzeichnisverbindung", L"Dateien bleiben", L"\"Apps\""},
         {L"wurde entfernt", L"Junction"}},
        {text::behindLink(L"a.dll"), {L"\"a.dll\"", L"symbolischen Verkn\u00fcpfung oder Verzeichnisverbindung"}, {L"Link oder"}},
        {text::done(folder, true, {}, {text::behindLink(L"b.dll"), text::entryOfOtherFolder(L"D:\\O"), text::notReadable(L"c")}),
         {L"nicht vollst\u00e4ndig", L"bleibt bestehen", L"\"b.dll\"", L"\"D:\\O\"", L"\"c\" (kein Zugriff)"},
         {L"nicht mit dem Launcher installiert"}},
        {text::done(folder, true, {L"\"..\\x\" f\u00fchrt hinaus"}, {}), {L"..\\x"}, {L"nicht mit dem Launcher installiert"}},
        {text::done(folder, true, {}, {}), {L"wurde entfernt.", L"nicht mit dem Launcher installiert"}, {}},
        {text::finishKept(folder, {text::notDeleted(L"ORVAN Deinstallieren.exe")}),
         {L"nicht vollst\u00e4ndig", folder, L"\"ORVAN Deinstallieren.exe\""}, {}},
    };
    for (const auto& [message, says, never] : cases) {
        for (const std::wstring& part : says)
            EXPECT_NE(message.find(part), std::wstring::npos) << std::string(part.begin(), part.end());
        for (const std::wstring& part : never)
            EXPECT_EQ(message.find(part), std::wstring::npos) << std::string(part.begin(), part.end());
    }
}

} // namespace
