// The class of a failure, in the "@KLASSE" line the script writes just before its "@ERR" line:
// from the failure's own mark where the script raised it, from the exception's type otherwise.
#include "script_harness.h"

#include <ctime>
#include <functional>

namespace {

constexpr const char* kZeros = "0000000000000000000000000000000000000000000000000000000000000000";

// Invoke-WebRequest as the script calls it, failing where it would write a part file, as a full
// disk makes it fail.
std::string diskFullOnDownload(const char* hresult)
{
    return std::string("function Invoke-WebRequest([switch]$UseBasicParsing, $Uri, $OutFile) {\n"
                       "  if ($OutFile) { throw [IO.IOException]::new('Kein Platz', ") +
           hresult +
           ") }\n"
           "  Microsoft.PowerShell.Utility\\Invoke-WebRequest -UseBasicParsing -Uri $Uri\n"
           "}";
}

} // namespace

class FailureClasses : public ScriptTest {};

TEST_F(FailureClasses, EachFailureNamesItsClassJustBeforeItsMessage)
{
    Machine machine;
    struct Case {
        const char* name;
        std::function<void()> setUp; // what is served
        std::function<fs::path()> script;
        std::string wrapper;
        const char* expected;
    };
    auto plain = [] { return fs::path(); };
    auto editManifest = [this](const char* pointer) {
        nlohmann::json document = manifest();
        document[nlohmann::json::json_pointer(pointer)] = kZeros;
        setManifest(document);
    };
    const std::string holdLauncher =
        "$held = [IO.File]::Open('" + scriptPath(machine.launcher()) + "', 'Open', 'Read', 'Read')";
    const std::string holdStageLock = "$other = [IO.FileStream]::new('" +
                                      scriptPath(machine.profile / "ORVAN.neu.sperre") + "', 'OpenOrCreate', 'ReadWrite', 'None')";
    std::vector<Case> cases = {
        {"nothing listening", [this] { publishDefault(); }, [] { return unreachableScript(); }, "", "netz"},
        {"part digest", [&] { publishDefault(); editManifest("/paket/teile/0/sha256"); }, plain, "", "pruefung"},
        {"package digest", [&] { publishDefault(); editManifest("/paket/sha256"); }, plain, "", "pruefung"},
        {"disk full", [this] { publishDefault(); }, plain, diskFullOnDownload("-2147024784"), "speicher"},
        {"disk full for the handle", [this] { publishDefault(); }, plain, diskFullOnDownload("-2147024857"), "speicher"},
        {"another write error", [this] { publishDefault(); }, plain, diskFullOnDownload("-2147024891"), "sonst"},
        {"launcher in use", [this] { publishDefault(); }, plain, holdLauncher, "belegt"},
        {"another run holds the stage", [this] { publishDefault(); }, plain, holdStageLock, "laeuft"},
        {"no launcher published", [this] { publishDefault(); setCatalogText(R"({"launcher": null})"); }, plain, "",
         "sonst"},
    };
    if (!underWine()) { // Wine's CNG imports no ECDSA key: a signed script fails there whatever it is served
        cases.push_back({"signature missing", [this] { publishSigned(releaseKey().privateKey); fs::remove(signaturePath(tree())); },
                         [] { return signedScript(); }, "", "pruefung"});
        cases.push_back({"signature of another key", [this] { publishSigned(otherKey().privateKey); },
                         [] { return signedScript(); }, "", "pruefung"});
        cases.push_back({"expired",
                         [this] {
                             publishSigned(releaseKey().privateKey);
                             setExpiry(tree(), expiryText(std::time(nullptr) - 2 * 86400), releaseKey().privateKey);
                         },
                         [] { return signedScript(); }, "", "pruefung"});
    }
    // The launcher to hold: installed once before.
    publishDefault();
    ASSERT_EQ(joined(run(machine).lines), joined(successLines("1.2.3", 1, true, machine.launcher())));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        ScriptRun result = run(machine, c.script(), c.wrapper);

        ASSERT_FALSE(result.lines.empty()) << result.raw;
        EXPECT_EQ(result.lines.back().rfind("ERROR \"", 0), 0u) << result.raw;
        std::string classLine = std::string("\n@KLASSE ") + c.expected + "\n@ERR ";
        EXPECT_NE(result.raw.find(classLine), std::string::npos) << result.raw;
        EXPECT_EQ(result.raw.find("@KLASSE "), result.raw.rfind("@KLASSE ")) << "one class line: " << result.raw;
        for (const std::string& line : result.lines)
            EXPECT_EQ(line.find("KLASSE"), std::string::npos) << "the class is no line of its own: " << line;
    }
}
