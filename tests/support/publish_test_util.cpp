#include "publish_test_util.h"

#include "publish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "orvan-publish-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        std::abort();
    path = buffer.data();
    // nginx in the served tests reads from here.
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

Outcome runShell(const std::string& command)
{
    TempDir scratch;
    fs::path out = scratch.path / "out";
    fs::path err = scratch.path / "err";
    std::string line = "{ " + command + " ; } >" + shellQuote(out.string()) + " 2>" + shellQuote(err.string()) + " </dev/null";
    int raw = std::system(line.c_str());
    Outcome run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

const char* publishProgram()
{
    return ORVAN_PUBLISH_EXE;
}

Outcome runPublish(const std::vector<std::string>& arguments, const std::string& environment)
{
    std::string command = environment.empty() ? "" : environment + " ";
    command += shellQuote(ORVAN_PUBLISH_EXE);
    for (const std::string& argument : arguments)
        command += " " + shellQuote(argument);
    return runShell(command);
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

std::string sha256sum(const fs::path& path)
{
    Outcome run = runShell("sha256sum " + shellQuote(path.string()));
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out.substr(0, 64);
}

nlohmann::json readJson(const fs::path& path)
{
    return nlohmann::json::parse(readFile(path));
}

void writeJson(const fs::path& path, const nlohmann::json& document)
{
    writeFile(path, document.dump(2) + "\n");
}

std::map<std::string, std::string> PayloadFiles::standinData()
{
    std::string big;
    unsigned state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        big += static_cast<char>('a' + (state >> 16) % 7);
    }
    return {{"daten/Grüße.txt", "Hallo Jürgen\n"}, {"daten/tief/gross.dat", big}};
}

void makePayload(const fs::path& folder, const PayloadFiles& files)
{
    writeFile(folder / "ORVAN Launcher.exe", files.launcher);
    if (files.uninstaller) {
        writeFile(folder / "ORVAN Deinstallieren.exe", *files.uninstaller);
        fs::permissions(folder / "ORVAN Deinstallieren.exe", fs::perms::owner_all | fs::perms::group_read |
                                                                  fs::perms::group_exec | fs::perms::others_read |
                                                                  fs::perms::others_exec);
    }
    for (const auto& [relative, bytes] : files.data)
        writeFile(folder / relative, bytes);
    if (files.randomBytes > 0) {
        fs::create_directories(folder / "daten");
        std::ofstream fill(folder / "daten" / "inhalt.bin", std::ios::binary | std::ios::trunc);
        std::mt19937_64 random(7);
        std::vector<std::uint64_t> block(1 << 16);
        for (std::uint64_t written = 0; written < files.randomBytes;) {
            for (auto& word : block)
                word = random();
            std::uint64_t n = std::min<std::uint64_t>(files.randomBytes - written, block.size() * sizeof(std::uint64_t));
            fill.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
            written += n;
        }
    }
}

void makePayload(const fs::path& folder, bool withUninstaller)
{
    PayloadFiles files;
    if (!withUninstaller)
        files.uninstaller.reset();
    makePayload(folder, files);
}

Outcome runBuild(const fs::path& payload, const fs::path& tree, const std::string& version,
                 const std::string& partSize, const fs::path& signKey, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments = {"build", payload.string(), "--version", version, "--out", tree.string()};
    if (!partSize.empty()) {
        arguments.push_back("--part-size");
        arguments.push_back(partSize);
        // The test payloads are small; parts below the tool's floor give them several parts.
        std::uint64_t size = 0;
        if (parsePartSize(partSize, size) && size < kMinPartSize &&
            std::find(extra.begin(), extra.end(), "--force") == extra.end())
            arguments.push_back("--force");
    }
    if (!signKey.empty()) {
        arguments.push_back("--sign-key");
        arguments.push_back(signKey.string());
    }
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runPublish(arguments);
}

void buildTree(const fs::path& payload, const fs::path& tree, const std::string& version, const std::string& partSize,
               const fs::path& signKey, const std::vector<std::string>& extra)
{
    // The installer copes with versions outside the form a studio's releases keep to (blanks,
    // letters beyond ASCII), and its tests serve such versions.
    std::vector<std::string> arguments = extra;
    if (!releaseVersionProblem(version).empty() && std::find(extra.begin(), extra.end(), "--force") == extra.end())
        arguments.push_back("--force");
    Outcome run = runBuild(payload, tree, version, partSize, signKey, arguments);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
}

fs::path buildVersionTree(const fs::path& work, const std::string& version, const std::vector<std::string>& extra)
{
    PayloadFiles files;
    files.data["version.txt"] = version;
    fs::path payload = work / "nutzlast";
    fs::remove_all(payload);
    makePayload(payload, files);
    fs::path tree = work / ("baum-" + version);
    buildTree(payload, tree, version, "64K", {}, extra);
    return tree;
}

fs::path manifestPath(const fs::path& tree)
{
    return tree / "games" / "launcher" / "update.json";
}

fs::path signaturePath(const fs::path& tree)
{
    return tree / "games" / "launcher" / "update.json.sig";
}

fs::path catalogPath(const fs::path& tree)
{
    return tree / "games" / "katalog.json";
}

std::vector<fs::path> partPaths(const fs::path& tree)
{
    std::vector<fs::path> paths;
    nlohmann::json manifest = readJson(manifestPath(tree));
    for (const auto& part : manifest["paket"]["teile"])
        paths.push_back(manifestPath(tree).parent_path() / part["url"].get<std::string>());
    return paths;
}

void joinPartsTo(const fs::path& tree, const fs::path& zip)
{
    std::string bytes;
    for (const fs::path& part : partPaths(tree))
        bytes += readFile(part);
    writeFile(zip, bytes);
}

void pythonZip(const fs::path& zip, const std::vector<ZipEntry>& entries)
{
    nlohmann::json list = nlohmann::json::array();
    for (const ZipEntry& entry : entries) {
        // Data goes through hex so that any byte survives JSON.
        std::string hex;
        static const char* digits = "0123456789abcdef";
        for (unsigned char c : entry.data) {
            hex += digits[c >> 4];
            hex += digits[c & 15];
        }
        list.push_back({{"name", entry.name}, {"data", hex}, {"method", entry.method},
                        {"legacy", entry.legacyName}, {"mode", entry.mode}});
    }
    TempDir scratch;
    writeJson(scratch.path / "entries.json", list);
    Outcome run = runShell("python3 " + shellQuote(ORVAN_MAKE_ZIP_PY) + " " + shellQuote((scratch.path / "entries.json").string()) +
                       " " + shellQuote(zip.string()));
    ASSERT_EQ(run.status, 0) << run.err;
}

void cutPackage(const fs::path& tree, const fs::path& zip, const std::vector<std::size_t>& cuts)
{
    fs::path folder = manifestPath(tree).parent_path();
    for (const fs::path& old : partPaths(tree))
        fs::remove(old);
    std::string bytes = readFile(zip);
    nlohmann::json manifest = readJson(manifestPath(tree));
    manifest["paket"]["teile"] = nlohmann::json::array();
    std::vector<std::size_t> bounds = {0};
    bounds.insert(bounds.end(), cuts.begin(), cuts.end());
    bounds.push_back(bytes.size());
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        std::string name = "stueck-" + std::to_string(k + 1) + ".bin";
        writeFile(folder / name, bytes.substr(bounds[k], bounds[k + 1] - bounds[k]));
        manifest["paket"]["teile"].push_back({{"url", name}, {"sha256", sha256sum(folder / name)}});
    }
    manifest["paket"]["sha256"] = sha256sum(zip);
    writeJson(manifestPath(tree), manifest);
}

void republish(const fs::path& tree, const fs::path& zip, std::size_t partSize)
{
    std::vector<std::size_t> cuts;
    for (std::size_t at = partSize; at < fs::file_size(zip); at += partSize)
        cuts.push_back(at);
    cutPackage(tree, zip, cuts);
}

Outcome verify(const fs::path& tree, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments = {"verify", tree.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return runPublish(arguments);
}

bool saysProblem(const Outcome& run, const std::string& fragment)
{
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("FEHLER: ", 0) == 0 && line.find(fragment) != std::string::npos)
            return true;
    return false;
}

KeyPair makeKeyPair(const fs::path& folder, const std::string& name, const std::string& algorithm)
{
    KeyPair pair{folder / (name + ".pem"), folder / (name + ".pub.pem")};
    Outcome run = runShell("openssl genpkey " + algorithm + " -out " + shellQuote(pair.privateKey.string()) +
                           " && openssl pkey -in " + shellQuote(pair.privateKey.string()) + " -pubout -out " +
                           shellQuote(pair.publicKey.string()));
    EXPECT_EQ(run.status, 0) << run.err;
    return pair;
}

std::string opensslSignature(const fs::path& privateKey, const fs::path& file)
{
    TempDir scratch;
    fs::path der = scratch.path / "signatur.der";
    Outcome run = runShell("openssl dgst -sha256 -sign " + shellQuote(privateKey.string()) + " -out " +
                           shellQuote(der.string()) + " " + shellQuote(file.string()));
    EXPECT_EQ(run.status, 0) << run.err;
    // SEQUENCE { INTEGER r, INTEGER s }: short lengths only, as P-256 needs no more.
    std::string bytes = readFile(der);
    std::string raw;
    std::size_t at = 2;
    for (int k = 0; k < 2; ++k) {
        EXPECT_LT(at + 2, bytes.size());
        EXPECT_EQ(bytes[at], 0x02);
        std::size_t length = static_cast<unsigned char>(bytes[at + 1]);
        std::string number = bytes.substr(at + 2, length);
        number.erase(0, number.find_first_not_of('\0'));
        EXPECT_LE(number.size(), 32u);
        raw += std::string(32 - std::min<std::size_t>(number.size(), 32), '\0') + number;
        at += 2 + length;
    }
    writeFile(scratch.path / "signatur.bin", raw);
    run = runShell("openssl base64 -A -in " + shellQuote((scratch.path / "signatur.bin").string()));
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out.substr(0, run.out.find_first_of("\r\n")) + "\n";
}

std::string expiryText(std::time_t moment)
{
    std::tm parts{};
    gmtime_r(&moment, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::time_t epochOf(const std::string& text)
{
    Outcome run = runShell("date -u -d " + shellQuote(text) + " +%s");
    EXPECT_EQ(run.status, 0) << text << ": " << run.err;
    return static_cast<std::time_t>(std::atoll(run.out.c_str()));
}

void setExpiry(const fs::path& tree, const std::optional<std::string>& text, const fs::path& privateKey)
{
    nlohmann::json manifest = readJson(manifestPath(tree));
    if (text)
        manifest["gueltigBis"] = *text;
    else
        manifest.erase("gueltigBis");
    writeJson(manifestPath(tree), manifest);
    if (!privateKey.empty())
        writeFile(signaturePath(tree), opensslSignature(privateKey, manifestPath(tree)));
}

void buildRandomTreeInEqualParts(const fs::path& work, const fs::path& tree, std::size_t bytes, std::size_t parts)
{
    fs::path payload = work / "payload";
    fs::remove_all(payload);
    PayloadFiles files;
    files.uninstaller.reset();
    files.data.clear();
    files.randomBytes = bytes;
    makePayload(payload, files);
    fs::remove_all(tree);
    buildTree(payload, tree, "9.9.9", "8M");
    fs::path package = work / "paket.zip";
    joinPartsTo(tree, package);
    republish(tree, package, (fs::file_size(package) + parts - 1) / parts);
    fs::remove(package);
}
