// The rules of what a package may hold, each case once: the publisher refuses such payloads and
// the uninstaller touches no such recorded path, in words of their own (tested beside them).
#include "package/case.h"
#include "package/names.h"
#include "package/path_list.h"
#include "package/paths.h"
#include "package/utf8.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <locale.h>

namespace {

struct Utf8Case {
    std::string_view bytes;
    bool valid;
    std::wstring units; // valid cases: what Windows keeps
};

TEST(PackageUtf8, StrictDecodingToUtf16Units)
{
    const Utf8Case cases[] = {
        {"", true, L""},
        {"ORVAN Launcher.exe", true, L"ORVAN Launcher.exe"},
        {"sp\xC3\xA4t", true, L"sp\u00e4t"},
        {"\xE2\x82\xAC", true, L"\u20ac"},
        {"\xEF\xBB\xBF", true, L"\ufeff"},
        {"\xF0\x9F\x8E\xAE.txt", true, std::wstring({wchar_t(0xD83C), wchar_t(0xDFAE)}) + L".txt"},
        {"\xF4\x8F\xBF\xBF", true, std::wstring({wchar_t(0xDBFF), wchar_t(0xDFFF)})},
        {std::string_view("a\0b", 3), true, std::wstring(L"a\0b", 3)},
        {"a\xFF" "b\n", false, L""},
        {"a\xC3\n", false, L""},         // cut by a line end
        {"\xC3\x28", false, L""},        // lead without trail
        {"\xE2\x82", false, L""},        // cut by the end
        {"\x81", false, L""},            // lone trail byte
        {"\xC0\xAF\n", false, L""},      // overlong "/"
        {"\xC1\xBF", false, L""},
        {"\xE0\x80\x80", false, L""},    // overlong three-byte
        {"\xF0\x80\x80\x80", false, L""}, // overlong four-byte
        {"\xED\xA0\x80\n", false, L""},  // surrogate
        {"\xED\xBF\xBF", false, L""},
        {"\xF4\x90\x80\x80", false, L""}, // above U+10FFFF
        {"\xF5\x80\x80\x80", false, L""},
    };
    for (const Utf8Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
        std::wstring units;
        EXPECT_EQ(decodeUtf8(c.bytes, units), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(units, c.units);
        EXPECT_EQ(encodeUtf8(units), c.bytes) << "back to the same bytes";
    }
}

TEST(PackageUtf8, EncodingEveryLength)
{
    const std::pair<char32_t, std::string_view> cases[] = {
        {0x41, "A"}, {0x7F, "\x7F"}, {0x80, "\xC2\x80"}, {0xE4, "\xC3\xA4"}, {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"}, {0xFFFD, "\xEF\xBF\xBD"}, {0x10000, "\xF0\x90\x80\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& [code, bytes] : cases) {
        std::string out;
        appendUtf8(out, code);
        EXPECT_EQ(out, bytes) << std::hex << static_cast<unsigned>(code);
    }
}

struct FoldCase {
    std::string_view a;
    std::string_view b;
    bool sameFile;
};

TEST(PackageCase, NamesFoldAsWindowsComparesThem)
{
    const FoldCase cases[] = {
        {"ORVAN Launcher.exe", "orvan launcher.EXE", true},
        {"\xC3\xA4rger/\xC3\xB6l.DLL", "\xC3\x84RGER/\xC3\x96L.dll", true},
        {"\xC3\x84RGER.EXE", "\xC3\xA4rger.exe", true},
        {"\xC3\xBF", "\xC5\xB8", true},           // y with diaeresis: beyond Latin-1 in upper case
        {"\xCF\x83", "\xCE\xA3", true},           // sigma
        {"\xD0\xB6", "\xD0\x96", true},           // Cyrillic zhe
        {"\xC3\xB7", "\xC3\x97", false},          // division and multiplication sign are no letters
        {"stra\xC3\x9F" "e", "STRASSE", false},   // no full case folding
        {"a", "b", false},
        {"\xF0\x90\x90\xA8", "\xF0\x90\x90\x80", false}, // outside the BMP, Windows folds nothing
    };
    for (const FoldCase& c : cases)
        EXPECT_EQ(windowsFoldedName(c.a) == windowsFoldedName(c.b), c.sameFile) << c.a << " / " << c.b;
    EXPECT_EQ(windowsFoldedName("a\xFF"), "a\xFF") << "no UTF-8: left as it is";
    EXPECT_TRUE(equalsIgnoringAsciiCase("Con$", "cON$"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\xA4", "\xC3\x84")) << "ASCII only";
    EXPECT_FALSE(equalsIgnoringAsciiCase("a", "ab"));
    EXPECT_EQ(windowsUpperCase(0xD801), 0xD801u) << "a surrogate unit stays";
}

// The table is Unicode's simple upper-case mapping of the BMP as the C library's C.UTF-8 locale
// knows it, which is what the publisher folded with before it had a table of its own.
TEST(PackageCase, TheTableIsTheSimpleUpperCaseMappingOfTheBmp)
{
    locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (unicode == static_cast<locale_t>(nullptr))
        GTEST_SKIP() << "no C.UTF-8 locale here";
    int differences = 0;
    for (char32_t unit = 0; unit < 0x10000; ++unit) {
        char32_t expected = static_cast<char32_t>(towupper_l(static_cast<wint_t>(unit), unicode));
        if (windowsUpperCase(unit) != expected && ++differences <= 10)
            ADD_FAILURE() << std::hex << "U+" << static_cast<unsigned>(unit) << " -> U+"
                          << static_cast<unsigned>(windowsUpperCase(unit)) << ", the locale says U+"
                          << static_cast<unsigned>(expected);
    }
    EXPECT_EQ(differences, 0);
    freelocale(unicode);
}

struct PathCase {
    std::string_view path;
    PathFault fault;
    NameFault name = NameFault::none;
    std::string_view segment = {};
    char character = 0;
};

TEST(PackagePaths, WhatAPayloadPathMayBe)
{
    const PathCase cases[] = {
        {"ORVAN Launcher.exe", PathFault::none},
        {"daten/tief/datei.txt", PathFault::none},
        {"daten/unter/sp\xC3\xA4t.txt", PathFault::none},
        {"Gr\xC3\xBC\xC3\x9F" "e.txt", PathFault::none},
        {"a..b/c", PathFault::none},
        {"...x", PathFault::none},
        {".hidden", PathFault::none},
        {"CONSOLE.txt", PathFault::none},
        {"console.txt", PathFault::none},
        {"COM10", PathFault::none},
        {"com10", PathFault::none},
        {"COM0", PathFault::none},
        {"condor.txt", PathFault::none},
        {"sub/ORVAN Deinstallieren.exe", PathFault::none},
        {"", PathFault::empty},
        {"a\\..\\x", PathFault::backslash},
        {"daten\\spiel.cfg", PathFault::backslash},
        {"/etc/passwd", PathFault::absolute},
        {"//server/share/x", PathFault::absolute},
        {"C:/Windows/x", PathFault::drive},
        {"c:x", PathFault::drive},
        {"a:b", PathFault::drive},
        {"../x", PathFault::climbsOut},
        {"../Desktop/x.txt", PathFault::climbsOut},
        {"a/../../x", PathFault::climbsOut},
        {"daten/../x", PathFault::climbsOut},
        {"a/..", PathFault::climbsOut},
        {"a/.. /x", PathFault::climbsOut},  // Windows drops the blank
        {"a/.../x", PathFault::climbsOut},  // and reads the dots as ".."
        {"a?/../x", PathFault::climbsOut},  // named before any other fault
        {"a//b", PathFault::segment, NameFault::empty, ""},
        {"daten/", PathFault::segment, NameFault::empty, ""},
        {"a/./b", PathFault::segment, NameFault::dots, "."},
        {"./x", PathFault::segment, NameFault::dots, "."},
        {"sub/a:b", PathFault::segment, NameFault::character, "a:b", ':'},
        {"1:x", PathFault::segment, NameFault::character, "1:x", ':'},
        {"a?b", PathFault::segment, NameFault::character, "a?b", '?'},
        {"a\tb", PathFault::segment, NameFault::character, "a\tb", '\t'},
        {"a\x01", PathFault::segment, NameFault::character, "a\x01", '\x01'},
        {"x/a<b>", PathFault::segment, NameFault::character, "a<b>", '<'},
        {"a|\"b*", PathFault::segment, NameFault::character, "a|\"b*", '|'},
        {"datei.", PathFault::segment, NameFault::trailingDotOrBlank, "datei."},
        {"datei ", PathFault::segment, NameFault::trailingDotOrBlank, "datei "},
        {"daten./x", PathFault::segment, NameFault::trailingDotOrBlank, "daten."},
        {"CON", PathFault::segment, NameFault::device, "CON"},
        {"NUL", PathFault::segment, NameFault::device, "NUL"},
        {"con.d/x", PathFault::segment, NameFault::device, "con.d"},
        {"sub/nul.txt", PathFault::segment, NameFault::device, "nul.txt"},
        {"daten/com1.txt", PathFault::segment, NameFault::device, "com1.txt"},
        {"Con .txt", PathFault::segment, NameFault::device, "Con .txt"},
        {"LPT1.log", PathFault::segment, NameFault::device, "LPT1.log"},
        {"prn", PathFault::segment, NameFault::device, "prn"},
        {"aux.x/y", PathFault::segment, NameFault::device, "aux.x"},
        {"CONIN$", PathFault::segment, NameFault::device, "CONIN$"},
        {"conout$.txt", PathFault::segment, NameFault::device, "conout$.txt"},
        {"COM9", PathFault::segment, NameFault::device, "COM9"},
        {"COM\xC2\xB9", PathFault::segment, NameFault::device, "COM\xC2\xB9"},
        {"lpt\xC2\xB2.txt", PathFault::segment, NameFault::device, "lpt\xC2\xB2.txt"},
        {"x/Com\xC2\xB3", PathFault::segment, NameFault::device, "Com\xC2\xB3"},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.path)));
        PathCheck check = checkPayloadPath(c.path);
        EXPECT_EQ(check.fault, c.fault);
        EXPECT_EQ(check.name.fault, c.name);
        if (c.fault != PathFault::segment)
            continue;
        EXPECT_EQ(check.segment, c.segment);
        EXPECT_EQ(check.name.character, c.character);
        EXPECT_EQ(checkWindowsName(c.segment).fault, c.name) << "the segment alone";
    }
}

// Without long paths: a file's path below 260 units, a folder's below 248, under a profile of 60
// characters and "\ORVAN Launcher\"; counted in UTF-16 units.
TEST(PackagePaths, LengthsAsWindowsCountsThem)
{
    std::string smiles;
    for (int i = 0; i < 92; ++i)
        smiles += "\xF0\x9F\x98\x80"; // two UTF-16 units each
    struct LengthCase {
        std::string path;
        std::size_t file;
        std::size_t folder;
        bool fits;
    };
    const LengthCase cases[] = {
        {std::string(183, 'a'), 259, 75, true},
        {std::string(184, 'a'), 260, 75, false},
        {std::string(171, 'd') + "/x", 249, 247, true},
        {std::string(172, 'd') + "/x", 250, 248, false},
        {std::string(183, 'a').replace(0, 2, "\xC3\xA4"), 258, 75, true},
        {smiles, 260, 75, false},
    };
    for (const LengthCase& c : cases) {
        PathLengths lengths = payloadPathLengths(c.path);
        EXPECT_EQ(lengths.file, c.file) << c.path.size();
        EXPECT_EQ(lengths.folder, c.folder) << c.path.size();
        EXPECT_EQ(fitsWithoutLongPaths(lengths), c.fits) << c.path.size();
    }
}

TEST(PackagePaths, TheListAndTheRecordAreReservedAsAnySegment)
{
    const std::pair<std::string_view, bool> cases[] = {
        {kFileListName, true},
        {"orvan deinstallieren.DATEIEN", true},
        {kRecordName, true},
        {"ORVAN DEINSTALLIEREN.BESTAND", true},
        {"sub/ORVAN Deinstallieren.bestand", true},
        {"ORVAN Deinstallieren.bestand/x.txt", true},
        {"orvan deinstallieren.dateien/daten/x.txt", true},
        {"daten/ORVAN Deinstallieren.dateien.txt", false},
        {kUninstallerName, false}, // the publisher replaces it, the package brings it
        {kLauncherName, false},
    };
    for (const auto& [path, reserved] : cases)
        EXPECT_EQ(isReservedPayloadPath(path), reserved) << path;
}

struct ListCase {
    std::string_view bytes;
    bool readable;
    std::vector<std::string> paths;
};

TEST(PackageList, TheTextOfTheListAndTheRecord)
{
    const ListCase cases[] = {
        {"", true, {}},
        {"\n\r\n\n", true, {}},
        {"a.txt\nb/c.txt\n", true, {"a.txt", "b/c.txt"}},
        {"\xEF\xBB\xBFORVAN Launcher.exe\r\ndaten/sp\xC3\xA4t.txt\n\n..\\raus.txt\nletzte", true,
         {"ORVAN Launcher.exe", "daten/sp\xC3\xA4t.txt", "../raus.txt", "letzte"}},
        {"ORVAN Deinstallieren.dateien\r\nORVAN Launcher.exe\r\na\\b.txt", true,
         {"ORVAN Deinstallieren.dateien", "ORVAN Launcher.exe", "a/b.txt"}},
        {"x\xEF\xBB\xBF\n", true, {"x\xEF\xBB\xBF"}}, // a byte order mark only at the start
        {"ORVAN Launcher.exe\n\xFF\n", false, {}},
        {"a\xC3\nb\n", false, {}},
        {std::string_view("a\0b\n", 4), false, {}},
        {"\xE2\x82", false, {}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        std::vector<std::string> paths;
        ASSERT_EQ(parsePathList(c.bytes, paths), c.readable);
        if (c.readable) {
            EXPECT_EQ(paths, c.paths);
        }
    }
    EXPECT_EQ(pathListText({"b", "a/x", "\xC3\xA4"}), "b\na/x\n\xC3\xA4\n");
    EXPECT_EQ(pathListText({}), "");
}

} // namespace
