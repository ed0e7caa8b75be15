// The rules build and verify share, and the reference resolution verify walks the tree with.
#include "publish.h"

#include <gtest/gtest.h>

TEST(PublishVersion, AcceptsWhatAFolderNameCanHold)
{
    for (const char* version : {"1.2.3", "2.0-\xC3\xA4", "2.0 beta", "v1", ".1", "1.0-rc.1+build 7"})
        EXPECT_EQ(versionProblem(version), "") << version;
}

TEST(PublishVersion, RefusesWhatWouldLeadOutOfTheTemporaryFolder)
{
    struct Case {
        const char* version;
        const char* fragment;
    };
    for (const Case& c : {Case{"", "leer"}, Case{"a/b", "Pfadtrenner"}, Case{"a\\b", "Pfadtrenner"},
                          Case{"..", "\"..\""}, Case{"1..2", "\"..\""}, Case{"1:0", "':'"},
                          Case{"1*", "'*'"}, Case{"x?", "'?'"}, Case{"a<b", "'<'"}, Case{"a|b", "'|'"},
                          Case{"a\"b", "'\"'"}, Case{"a\tb", "0x09"}, Case{"1.0.", "Punkt"},
                          Case{"1.0 ", "Leerzeichen"}, Case{"\xC3\x28", "UTF-8"},
                          Case{"1.0[beta]", "'['"}, Case{"2.0]", "']'"}}) {
        std::string problem = versionProblem(c.version);
        EXPECT_NE(problem.find(c.fragment), std::string::npos) << c.version << " -> " << problem;
    }
}

// Which paths break which rule is tests/package's; here, what the publisher says of each.
TEST(PublishNames, PayloadPathProblemsInThePublishersWords)
{
    struct Case {
        const char* path;
        const char* fragment;
    };
    for (const Case& c : {Case{"../x", "fuehrt mit \"..\" aus dem Installationsordner hinaus"},
                          Case{"/etc/passwd", "ist absolut (beginnt mit \"/\")"}, Case{"c:x", "beginnt mit einem Laufwerk"},
                          Case{"a\\..\\x", "Backslash"}, Case{"a//b", "hat einen Abschnitt \"\", der ist leer"},
                          Case{"a/./b", "der ist \".\""}, Case{"sub/a:b", "enthaelt das Zeichen ':'"},
                          Case{"sub/nul.txt", "hat einen Abschnitt \"nul.txt\", der ist unter Windows ein Geraetename"},
                          Case{"COM\xC2\xB9", "Geraetename"}, Case{"datei.", "Punkt"}, Case{"datei ", "Leerzeichen"},
                          Case{"a\x01", "das Steuerzeichen 0x01"}}) {
        std::string problem = payloadPathProblem(c.path);
        EXPECT_NE(problem.find(c.fragment), std::string::npos) << c.path << " -> " << problem;
    }
    EXPECT_EQ(payloadPathProblem("daten/tief/Gr\xC3\xBC\xC3\x9F" "e.txt"), "");
}

// The lengths are tests/package's; here, what the publisher says of a path too long.
TEST(PublishNames, PayloadPathsThatGetTooLongForWindows)
{
    EXPECT_EQ(payloadPathProblem(std::string(183, 'a')), "");
    EXPECT_NE(payloadPathProblem(std::string(184, 'a')).find("wird unter einem Profilordner von 60 Zeichen 260 Zeichen lang"),
              std::string::npos);
    EXPECT_NE(payloadPathProblem(std::string(172, 'd') + "/x").find("ein Ordnerpfad von 248 Zeichen"), std::string::npos);
}

TEST(PublishNames, PartFileNameIsTheTextAfterTheLastSeparator)
{
    EXPECT_EQ(partFileName("teil.bin"), "teil.bin");
    EXPECT_EQ(partFileName("https://h/a/b/teil.bin"), "teil.bin");
    EXPECT_EQ(partFileName("a\\b\\teil.bin"), "teil.bin");
    EXPECT_EQ(partFileName("a/b\\c/teil"), "teil");
    EXPECT_EQ(partFileName("dir/"), "");

    EXPECT_EQ(partFileNameProblem("https://h/x/teil-1.bin"), "");
    EXPECT_EQ(partFileNameProblem("launcher.zip.1"), "");
    EXPECT_NE(partFileNameProblem("dir/").find("Pfadtrenner"), std::string::npos);
    EXPECT_NE(partFileNameProblem("teil.bin?sig=1").find("Abfrage"), std::string::npos);
    for (const char* url : {"launcher.zip", "x/LAUNCHER.ZIP", "Launcher.Zip.", "launcher.zip "})
        EXPECT_NE(partFileNameProblem(url).find("Paketdatei"), std::string::npos) << url;
    EXPECT_NE(partFileNameProblem("a:b").find("':'"), std::string::npos);
    EXPECT_NE(partFileNameProblem("x/aux.bin").find("Geraetename"), std::string::npos);
    for (const char* url : {"teil[1].bin", "x/teil]1.bin"})
        EXPECT_NE(partFileNameProblem(url).find("als Platzhalter"), std::string::npos) << url;
}

TEST(PublishNames, BuildGivesPartsSafeNamesWhateverTheVersionHolds)
{
    std::string digest(64, 'a');
    for (const char* version : {"1.2.3", "2.0-\xC3\xA4 beta", "../../x", "launcher.zip", "", "...", "CON",
                                "sehr-lange-version-die-weit-ueber-vierzig-zeichen-hinausgeht"}) {
        std::string name = partFileNameFor(version, 3, 12, digest);
        EXPECT_EQ(windowsNameProblem(name), "") << name;
        EXPECT_EQ(partFileNameProblem(name), "") << name;
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-"),
                  std::string::npos) << name;
        EXPECT_NE(name.front(), '.') << name;
    }
    EXPECT_EQ(partFileNameFor("1.2.3", 3, 12, digest), "launcher-1.2.3-0003-aaaaaaaaaaaa.bin");
    // More parts than four digits hold widen the number, so names stay distinct.
    EXPECT_EQ(partFileNameFor("1", 12345, 12345, digest), "launcher-1-12345-aaaaaaaaaaaa.bin");
}

TEST(PublishDigest, DigestTextIsExactlySixtyFourHexDigits)
{
    std::string lower = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    std::string upper = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
    EXPECT_TRUE(isDigestText(lower));
    EXPECT_TRUE(isDigestText(upper));
    EXPECT_FALSE(isDigestText(" " + lower));
    EXPECT_FALSE(isDigestText(lower + " "));
    EXPECT_FALSE(isDigestText(lower.substr(1)));
    EXPECT_FALSE(isDigestText(lower + "0"));
    EXPECT_FALSE(isDigestText(lower.substr(0, 63) + "g"));

    Sha256* state = sha256Begin();
    EXPECT_EQ(sha256Finish(state), lower);
    state = sha256Begin();
    sha256Add(state, "ab", 2);
    sha256Add(state, "c", 1);
    EXPECT_EQ(sha256Finish(state), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(PublishArguments, PartSizes)
{
    std::uint64_t size = 0;
    EXPECT_TRUE(parsePartSize("1", size));
    EXPECT_EQ(size, 1u);
    EXPECT_TRUE(parsePartSize("64K", size));
    EXPECT_EQ(size, 65536u);
    EXPECT_TRUE(parsePartSize("8m", size));
    EXPECT_EQ(size, 8u << 20);
    EXPECT_TRUE(parsePartSize("8MiB", size));
    EXPECT_EQ(size, 8u << 20);
    EXPECT_TRUE(parsePartSize("1G", size));
    EXPECT_EQ(size, 1u << 30);
    EXPECT_TRUE(parsePartSize("1073741824", size));
    for (const char* bad : {"", "0", "0K", "K", "-1", "8X", "8MX", "1.5M", "2G", "1073741825", " 8M",
                            "99999999999999999999999"})
        EXPECT_FALSE(parsePartSize(bad, size)) << bad;
}

TEST(PublishArguments, BaseUrlHasTheInstallersForm)
{
    EXPECT_TRUE(isInstallerBaseUrl("https://download.nordalis.example/games/"));
    EXPECT_TRUE(isInstallerBaseUrl("https://127.0.0.1:8443/games/"));
    for (const char* bad : {"http://h/games/", "https://h/games", "https://h/", "https:///games/",
                            "https://h/x/games/", "https://h:/games/", "https://h:x/games/", "https://us@h/games/"})
        EXPECT_FALSE(isInstallerBaseUrl(bad)) << bad;
}

// RFC 3986, 5.4: the normal and the abnormal examples against "http://a/b/c/d;p?q".
TEST(PublishUri, ResolvesTheRfcExamples)
{
    const char* base = "http://a/b/c/d;p?q";
    const char* cases[][2] = {
        {"g:h", "g:h"}, {"g", "http://a/b/c/g"}, {"./g", "http://a/b/c/g"}, {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"}, {"//g", "http://g"}, {"?y", "http://a/b/c/d;p?y"}, {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"}, {"g#s", "http://a/b/c/g#s"}, {"g?y#s", "http://a/b/c/g?y#s"},
        {";x", "http://a/b/c/;x"}, {"g;x", "http://a/b/c/g;x"}, {"g;x?y#s", "http://a/b/c/g;x?y#s"},
        {"", "http://a/b/c/d;p?q"}, {".", "http://a/b/c/"}, {"./", "http://a/b/c/"}, {"..", "http://a/b/"},
        {"../", "http://a/b/"}, {"../g", "http://a/b/g"}, {"../..", "http://a/"}, {"../../", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"}, {"../../../../g", "http://a/g"}, {"/./g", "http://a/g"},
        {"/../g", "http://a/g"}, {"g.", "http://a/b/c/g."}, {".g", "http://a/b/c/.g"}, {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"}, {"./../g", "http://a/b/g"}, {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"}, {"g/../h", "http://a/b/c/h"}, {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"}, {"g?y/./x", "http://a/b/c/g?y/./x"}, {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/./x", "http://a/b/c/g#s/./x"}, {"g#s/../x", "http://a/b/c/g#s/../x"}, {"http:g", "http:g"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(resolveReference(base, c[0]), c[1]) << c[0];
}

TEST(PublishUri, ResolvesTheTreesReferences)
{
    const char* base = "https://download.nordalis.example/games/";
    EXPECT_EQ(resolveReference(base, "launcher/update.json"), "https://download.nordalis.example/games/launcher/update.json");
    EXPECT_EQ(resolveReference(base, "/update.json"), "https://download.nordalis.example/update.json");
    EXPECT_EQ(resolveReference(base, "https://cdn.example:8443/x/u.json"), "https://cdn.example:8443/x/u.json");
    // A part lands beside the manifest, not in "/games/".
    EXPECT_EQ(resolveReference("https://h/games/launcher/update.json", "teil-1.bin"), "https://h/games/launcher/teil-1.bin");
    EXPECT_EQ(resolveReference("https://h/games/launcher/update.json", "../teil-1.bin"), "https://h/games/teil-1.bin");
}

TEST(PublishUri, EscapesWhatARequestCannotCarry)
{
    EXPECT_EQ(escapeUri("https://h/a b/\xC3\xA4.bin"), "https://h/a%20b/%C3%A4.bin");
    EXPECT_EQ(escapeUri("https://h/a%20b/%zz"), "https://h/a%20b/%25zz");
    EXPECT_EQ(escapeUri("https://h/x?y=1#f"), "https://h/x?y=1#f");
    EXPECT_EQ(percentDecode("a%20b%C3%A4%2"), "a b\xC3\xA4%2");
}

TEST(PublishCaching, DocumentsThatCachesWouldKeepForLong)
{
    // Date of the response and 'now' for the cases without one: 2030-01-01 00:00:00 GMT.
    const std::string date = "Tue, 01 Jan 2030 00:00:00 GMT";
    const std::time_t now = 1893456000;
    struct Case {
        const char* cacheControl;
        const char* expires;
        const char* date;
        const char* fragment; // empty: fine
    };
    for (const Case& c : {Case{"", "", "", ""}, Case{"no-cache", "", "", ""}, Case{"no-store", "", "", ""},
                          Case{"max-age=0", "", "", ""}, Case{"public, max-age=300", "", "", ""},
                          Case{"max-age=301", "", "", "bis zu 301 Sekunden"},
                          Case{"public, MAX-AGE=86400", "", "", "\"Cache-Control: public, MAX-AGE=86400\" ausgeliefert: Caches behalten es bis zu 86400 Sekunden"},
                          Case{"max-age=60, s-maxage=3600", "", "", "bis zu 3600 Sekunden"},
                          Case{"max-age=\"600\"", "", "", "bis zu 600 Sekunden"},
                          Case{"public, max-age=31536000, immutable", "", "", "mit immutable"},
                          Case{"no-cache, immutable", "", "", "mit immutable"},
                          Case{"no-cache, max-age=86400", "", "", ""},
                          Case{"", "Tue, 01 Jan 2030 00:05:00 GMT", date.c_str(), ""},
                          Case{"", "Tue, 01 Jan 2030 00:05:01 GMT", date.c_str(), "\"Expires: Tue, 01 Jan 2030 00:05:01 GMT\" ausgeliefert: Caches behalten es bis zu 301 Sekunden"},
                          Case{"", "Fri, 01 Jan 2100 00:00:00 GMT", "", "Expires"},
                          Case{"", "Mon, 31 Dec 2029 00:00:00 GMT", date.c_str(), ""},
                          Case{"", "0", date.c_str(), ""},
                          Case{"max-age=60", "Fri, 01 Jan 2100 00:00:00 GMT", date.c_str(), ""}}) {
        std::string problem = documentCachingProblem(c.cacheControl, c.expires, c.date, now);
        if (*c.fragment == '\0')
            EXPECT_EQ(problem, "") << c.cacheControl << " / " << c.expires;
        else
            EXPECT_NE(problem.find(c.fragment), std::string::npos) << c.cacheControl << " / " << c.expires << " -> " << problem;
    }
}
