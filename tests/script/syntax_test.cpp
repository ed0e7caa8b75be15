// The script must run on Windows PowerShell 5.1, which no machine here has: pwsh 7 takes syntax
// and parameters that 5.1 refuses, so a green run under pwsh proves nothing about them.
#include "publish_test_util.h"

#include <gtest/gtest.h>

namespace {

Outcome check(const fs::path& script)
{
    return runShell(shellQuote(ORVAN_PWSH) + " -NoProfile -NonInteractive -File " + shellQuote(ORVAN_CHECK_PS51) +
                    " -Script " + shellQuote(script.string()));
}

} // namespace

TEST(WindowsPowerShell51, TheBuiltScriptUsesNothingThatCameLater)
{
    Outcome outcome = check(ORVAN_BUILT_SCRIPT);
    EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
}

TEST(WindowsPowerShell51, TheCheckFindsWhat51Refuses)
{
    TempDir dir;
    struct Case {
        const char* line;
        const char* finding;
    };
    // One probe line each, checked in one run; "?" "?" keeps the compiler from reading trigraphs.
    const Case cases[] = {Case{"$a = $b ?" "? 1", "'?" "?'"}, Case{"$a ?" "?= 1", "'?" "?='"},
                          Case{"$y = $x ? 1 : 2", "'?'"}, Case{"a && b", "'&&'"}, Case{"a || b", "'||'"},
                          Case{"${o}?.x", "'?.'"}, Case{"Invoke-WebRequest -Uri x -SkipCert", "-SkipCertificateCheck"},
                          Case{"Invoke-RestMethod x -SkipHttpErrorCheck", "-SkipHttpErrorCheck"},
                          Case{"$j | ConvertFrom-Json -AsHashtable", "-AsHashtable"},
                          Case{"1..3 | ForEach-Object -Parallel { $_ }", "-Parallel"},
                          Case{"Join-Path a b c", "more than two"},
                          Case{"Set-Content -Path x -Encoding utf8NoBOM -Value y", "utf8NoBOM"}};
    std::string probe;
    for (const Case& c : cases)
        probe += std::string(c.line) + "\n";
    // What 5.1 has stays unflagged: ::new (5.0), Join-Path with two paths, -Encoding UTF8.
    probe += "$e = [Text.UTF8Encoding]::new($false)\nJoin-Path a b\nSet-Content -Path x -Encoding UTF8 -Value y\n"
             "if ($a -and $b) { $c = $d } else { $c = $null }\n";
    fs::path script = dir.path / "probe.ps1";
    writeFile(script, probe);

    Outcome outcome = check(script);

    EXPECT_EQ(outcome.status, static_cast<int>(std::size(cases))) << outcome.out << outcome.err;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string line = std::to_string(i + 1) + ": ";
        std::size_t at = outcome.out.find("\n" + line);
        if (outcome.out.rfind(line, 0) == 0)
            at = 0;
        ASSERT_NE(at, std::string::npos) << cases[i].line << "\n" << outcome.out;
        std::string finding = outcome.out.substr(at, outcome.out.find('\n', at + 1) - at);
        EXPECT_NE(finding.find(cases[i].finding), std::string::npos) << cases[i].line << " -> " << finding;
    }
}
