// Anyone can check a published installer against the source: the same commit, base URL and
// manifest key built twice, from copies of the source in two folders of different depth, with
// another time zone and locale, give the same bytes. The check a third party makes of a signed
// release (osslsigncode remove-signature, then compare with their own build) is made here too.
#include "publish_test_util.h"

#include <gtest/gtest.h>

namespace {

// Every Windows program a release ships: the target that builds it and its path in the build
// folder. A new program goes here and is held to the same rule.
struct Program {
    const char* target;
    const char* file;
};
const Program kShipped[] = {
    {"orvan-setup", "orvan-setup.exe"},
    {"orvan-uninstall", "ORVAN Deinstallieren.exe"},
};

const std::string kBaseUrl = "https://download.example.com/games/";

// Everything of the source tree but its build folders and the version control's own.
void copySource(const fs::path& to)
{
    const fs::path from = ORVAN_SOURCE_DIR;
    for (auto it = fs::recursive_directory_iterator(from); it != fs::recursive_directory_iterator(); ++it) {
        std::string name = it->path().filename().string();
        if (it.depth() == 0 && (name.rfind("build", 0) == 0 || name[0] == '.')) {
            if (it->is_directory())
                it.disable_recursion_pending();
            continue;
        }
        fs::path target = to / it->path().lexically_relative(from);
        if (it->is_directory())
            fs::create_directories(target);
        else if (it->is_regular_file())
            fs::copy_file(it->path(), target);
    }
}

// The windows preset with the release's base URL and key, only the shipped programs built.
void buildRelease(const fs::path& source, const fs::path& publicKey, const std::string& environment)
{
    std::string targets;
    for (const Program& program : kShipped)
        targets += std::string(" ") + program.target;
    Outcome run = runShell("cd " + shellQuote(source.string()) + " && " + environment + " cmake --preset windows -DORVAN_BASE_URL=" +
                           kBaseUrl + " -DORVAN_MANIFEST_KEY=" + shellQuote(publicKey.string()) + " && " + environment +
                           " cmake --build --preset windows --target" + targets);
    ASSERT_EQ(run.status, 0) << run.out.substr(run.out.size() > 4000 ? run.out.size() - 4000 : 0) << run.err;
}

// Empty when the files are byte for byte the same; otherwise where they part.
std::string difference(const fs::path& a, const fs::path& b)
{
    std::string left = readFile(a);
    std::string right = readFile(b);
    if (left == right)
        return {};
    std::size_t differing = 0;
    std::size_t first = std::string::npos;
    for (std::size_t i = 0; i < std::min(left.size(), right.size()); ++i)
        if (left[i] != right[i]) {
            ++differing;
            first = std::min(first, i);
        }
    char text[160];
    std::snprintf(text, sizeof text, "%zu and %zu bytes, %zu of the common ones differ, the first at offset 0x%zx",
                  left.size(), right.size(), differing, first == std::string::npos ? std::min(left.size(), right.size()) : first);
    return text;
}

} // namespace

TEST(ReproducibleBuild, TwoFoldersGiveTheSameProgramsAndASignedOneChecksOut)
{
    TempDir dir;
    fs::path first = dir.path / "a";
    fs::path second = dir.path / "zweiter-rechner" / "quellen" / "orvan-installer";
    KeyPair key = makeKeyPair(dir.path, "release");
    copySource(first);
    copySource(second);
    fs::copy_file(key.publicKey, first / "release.pub.pem");
    fs::copy_file(key.publicKey, second / "release.pub.pem");

    buildRelease(first, first / "release.pub.pem", "TZ=UTC LC_ALL=C");
    buildRelease(second, second / "release.pub.pem", "TZ=Pacific/Chatham LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=");

    for (const Program& program : kShipped) {
        SCOPED_TRACE(program.file);
        fs::path mine = first / "build" / "windows" / program.file;
        fs::path theirs = second / "build" / "windows" / program.file;
        ASSERT_TRUE(fs::is_regular_file(mine));
        EXPECT_EQ(difference(mine, theirs), "");

        // The publisher signs; a third party strips the signature and compares with their build.
        fs::path certificate = dir.path / "studio.pem";
        fs::path signingKey = dir.path / "studio-key.pem";
        if (!fs::exists(certificate)) {
            Outcome made = runShell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Studio -addext "
                                    "extendedKeyUsage=codeSigning -keyout " + shellQuote(signingKey.string()) + " -out " +
                                    shellQuote(certificate.string()));
            ASSERT_EQ(made.status, 0) << made.err;
        }
        fs::path published = dir.path / "veroeffentlicht.exe";
        fs::path stripped = dir.path / "ohne-signatur.exe";
        fs::remove(published);
        fs::remove(stripped);
        Outcome signedRun = runShell(std::string(ORVAN_OSSLSIGNCODE) + " sign -h sha256 -key " + shellQuote(signingKey.string()) +
                                     " -certs " + shellQuote(certificate.string()) + " -in " + shellQuote(mine.string()) +
                                     " -out " + shellQuote(published.string()));
        ASSERT_EQ(signedRun.status, 0) << signedRun.out << signedRun.err;
        EXPECT_NE(difference(published, theirs), "");
        Outcome removed = runShell(std::string(ORVAN_OSSLSIGNCODE) + " remove-signature -in " + shellQuote(published.string()) +
                                   " -out " + shellQuote(stripped.string()));
        ASSERT_EQ(removed.status, 0) << removed.out << removed.err;
        EXPECT_EQ(difference(stripped, theirs), "");
    }
}
