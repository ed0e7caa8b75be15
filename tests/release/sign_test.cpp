// scripts/sign on the real installer of the windows-e2e build, with a root CA, an intermediate and
// a code-signing certificate that openssl makes for the run. What the script wrote is checked by
// osslsigncode verify on its own, and every failure must leave the installer as it was.
#include "e2e_support.h"
#include "https_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace e2e;

namespace {

// Blanks, quotes and a dollar sign: whatever quoting slip there is would show.
const std::string kPassword = "Kenn wort \"mit\" 'Zeichen' $HOME";

const char* kExtensions = R"([req]
distinguished_name = dn
[dn]
[root]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[intermediate]
basicConstraints = critical,CA:true,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[codesign]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
)";

fs::path g_pki; // the certificates and keys, made once for all tests

void writeText(const fs::path& path, const std::string& text)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

// Runs a program; its status, and its output and errors in `output`.
int run(const std::vector<std::string>& argv, std::string& output, const std::vector<std::string>& environment = {})
{
    fs::path file = fs::temp_directory_path() / ("orvan-sign-output-" + std::to_string(::getpid()));
    int status = runProgram(argv, file, environment);
    output = readFile(file);
    fs::remove(file);
    return status;
}

bool openssl(const std::vector<std::string>& arguments, std::string& why)
{
    std::vector<std::string> argv = {"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    if (run(argv, output, {"SIGN_TEST_PASSWORD=" + kPassword}) == 0)
        return true;
    why = "openssl " + arguments[0] + ": " + output;
    return false;
}

// Root CA -> intermediate CA -> code-signing certificate with an encrypted key; the key and
// certificate also as a PFX with the intermediate; a chain file; and an unrelated CA.
bool makePki(std::string& why)
{
    fs::path cfg = g_pki / "extensions.cnf";
    writeText(cfg, kExtensions);
    auto path = [](const char* name) { return (g_pki / name).string(); };
    auto selfSigned = [&](const char* name, const char* subject) {
        return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", subject, "-config",
                        cfg.string(), "-extensions", "root", "-keyout", path(name) + ".key", "-out",
                        path(name) + ".pem"},
                       why);
    };
    auto issued = [&](const char* name, const char* subject, const char* issuer, const char* extensions,
                      bool encrypted, const char* serial) {
        std::vector<std::string> request = {"req", "-new", "-newkey", "rsa:2048", "-subj", subject, "-config",
                                            cfg.string(), "-keyout", path(name) + ".key", "-out", path(name) + ".csr"};
        if (encrypted) {
            request.insert(request.end(), {"-passout", "env:SIGN_TEST_PASSWORD"});
        } else {
            request.push_back("-nodes");
        }
        return openssl(request, why) &&
               openssl({"x509", "-req", "-in", path(name) + ".csr", "-CA", path(issuer) + ".pem", "-CAkey",
                        path(issuer) + ".key", "-set_serial", serial, "-days", "2", "-extfile", cfg.string(),
                        "-extensions", extensions, "-out", path(name) + ".pem"},
                       why);
    };
    if (!selfSigned("root", "/CN=ORVAN Test Root CA") || !selfSigned("other", "/CN=Unrelated Test CA") ||
        !issued("intermediate", "/CN=ORVAN Test Code Signing CA", "root", "intermediate", false, "2") ||
        !issued("studio", "/O=Nordalis Test Studio/CN=Nordalis Test Studio", "intermediate", "codesign", true, "3"))
        return false;
    writeText(g_pki / "studio-chain.pem", readFile(g_pki / "studio.pem") + readFile(g_pki / "intermediate.pem"));
    return openssl({"pkcs12", "-export", "-inkey", path("studio.key"), "-passin", "env:SIGN_TEST_PASSWORD", "-in",
                    path("studio.pem"), "-certfile", path("intermediate.pem"), "-passout",
                    "env:SIGN_TEST_PASSWORD", "-out", path("studio.pfx")},
                   why);
}

// A loopback port whose connections the kernel accepts and nobody ever answers.
struct SilentServer {
    int fd = -1;
    int port = 0;
    SilentServer()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd, 8) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(fd); }
};

enum class Key { Pfx, KeyAndChain };
enum class Password { File, Environment, Wrong, None };
enum class Timestamp { None, ClosedPort, Silent };

struct SignCase {
    const char* name;
    Key key;
    Password password;
    bool toOut;         // --out beside the input, or the input replaced
    Timestamp timestamp = Timestamp::None;
    bool otherCa = false; // the verify step trusts an unrelated CA
    int status = 0;
    const char* says = "signed and verified";
};

const SignCase kSignCases[] = {
    {"PfxPasswordFileToOut", Key::Pfx, Password::File, true},
    {"KeyAndChainPasswordFromEnvironmentInPlace", Key::KeyAndChain, Password::Environment, false},
    {"PfxWrongPassword", Key::Pfx, Password::Wrong, true, Timestamp::None, false, 1, "wrong password"},
    {"KeyWrongPasswordInPlace", Key::KeyAndChain, Password::Wrong, false, Timestamp::None, false, 1, "wrong password"},
    {"KeyWithoutPassword", Key::KeyAndChain, Password::None, true, Timestamp::None, false, 1, "wrong password, or none given"},
    {"TimestampServerClosed", Key::Pfx, Password::File, true, Timestamp::ClosedPort, false, 1, "gave no timestamp"},
    {"TimestampServerSilent", Key::KeyAndChain, Password::Environment, false, Timestamp::Silent, false, 1,
     "did not finish within 3 seconds"},
    {"VerifyAgainstAnotherCaInPlace", Key::Pfx, Password::Environment, false, Timestamp::None, true, 1,
     "does not verify against"},
};

void PrintTo(const SignCase& c, std::ostream* os)
{
    *os << c.name;
}

struct Signing : ::testing::TestWithParam<SignCase> {
    static void SetUpTestSuite()
    {
        ::unsetenv("ORVAN_SIGN_PASSWORD");
        char pattern[] = "/tmp/orvan-sign-pki.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        g_pki = pattern;
        std::string why;
        ASSERT_TRUE(makePki(why)) << why;
    }
    static void TearDownTestSuite()
    {
        std::error_code ec;
        fs::remove_all(g_pki, ec);
    }

    fs::path work;
    fs::path folder; // where the installer is signed: a name with a blank
    fs::path input;
    fs::path argvLog;
    std::string original;

    void SetUp() override
    {
        ASSERT_FALSE(g_pki.empty() || !fs::exists(g_pki / "studio.pfx")) << "no certificates";
        ASSERT_TRUE(std::string(ORVAN_OSSLSIGNCODE).find("NOTFOUND") == std::string::npos)
            << "osslsigncode is not installed (scripts/setup)";
        fs::path installer = windowsBuild() / "orvan-setup.exe";
        ASSERT_TRUE(fs::exists(installer)) << installer << " missing (build preset windows-e2e)";
        char pattern[] = "/tmp/orvan-sign.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        work = pattern;
        folder = work / "Release 1.4";
        input = folder / "orvan-setup.exe";
        fs::create_directories(folder);
        fs::create_directories(work / "tmp");
        fs::copy_file(installer, input);
        original = readFile(input);

        // Passes every call on to the real osslsigncode and notes its arguments, which is what
        // ps shows of it.
        fs::create_directories(work / "bin");
        argvLog = work / "osslsigncode-arguments.txt";
        writeText(work / "bin" / "osslsigncode", "#!/bin/sh\nprintf '%s\\n' \"$@\" >>'" + argvLog.string() +
                                                     "'\nexec '" ORVAN_OSSLSIGNCODE "' \"$@\"\n");
        fs::permissions(work / "bin" / "osslsigncode", fs::perms::owner_all);
    }

    void TearDown() override
    {
        std::error_code ec;
        if (!HasFailure())
            fs::remove_all(work, ec);
    }

    // scripts/sign with the arguments; its status and output.
    int sign(const std::vector<std::string>& arguments, std::string& output,
             std::vector<std::string> environment = {})
    {
        std::vector<std::string> argv = {ORVAN_SIGN_SCRIPT};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        environment.push_back("PATH=" + (work / "bin").string() + ":" + std::getenv("PATH"));
        environment.push_back("TMPDIR=" + (work / "tmp").string());
        return run(argv, output, environment);
    }

    std::vector<std::string> namesIn(const fs::path& dir) const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// What osslsigncode verify, trusting only the test's root CA, says of a file.
int verifyWithRoot(const fs::path& file, std::string& output)
{
    return run({ORVAN_OSSLSIGNCODE, "verify", "-CAfile", (g_pki / "root.pem").string(), "-in", file.string()}, output);
}

} // namespace

TEST_P(Signing, SignsVerifiesOrLeavesTheInstallerAlone)
{
    const SignCase& c = GetParam();
    auto pki = [](const char* name) { return (g_pki / name).string(); };

    std::vector<std::string> arguments;
    if (c.key == Key::Pfx)
        arguments = {"--pfx", pki("studio.pfx")};
    else
        arguments = {"--key", pki("studio.key"), "--cert", pki("studio-chain.pem")};
    std::vector<std::string> environment;
    if (c.password == Password::File) {
        writeText(work / "password.txt", kPassword + "\n");
        arguments.insert(arguments.end(), {"--password-file", (work / "password.txt").string()});
    } else if (c.password == Password::Environment) {
        environment.push_back("ORVAN_SIGN_PASSWORD=" + kPassword);
    } else if (c.password == Password::Wrong) {
        environment.push_back("ORVAN_SIGN_PASSWORD=" + kPassword.substr(1));
    }
    arguments.insert(arguments.end(), {"--ca-file", pki(c.otherCa ? "other.pem" : "root.pem")});

    SilentServer silent;
    std::string timestampUrl;
    if (c.timestamp == Timestamp::ClosedPort)
        timestampUrl = "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/";
    if (c.timestamp == Timestamp::Silent) {
        ASSERT_NE(silent.port, 0);
        timestampUrl = "http://127.0.0.1:" + std::to_string(silent.port) + "/tsa";
        arguments.insert(arguments.end(), {"--timeout", "3"});
    }
    if (!timestampUrl.empty())
        arguments.insert(arguments.end(), {"--timestamp", timestampUrl});

    fs::path out = folder / "orvan-setup-signiert.exe";
    if (c.toOut)
        arguments.insert(arguments.end(), {"--out", out.string()});
    arguments.push_back(input.string());

    std::string said;
    int status = sign(arguments, said, environment);
    EXPECT_EQ(status, c.status) << said;
    EXPECT_NE(said.find(c.says), std::string::npos) << "expected \"" << c.says << "\" in:\n" << said;

    // The password is never shown, neither in the messages nor on osslsigncode's command line;
    // the wrong one is a part of the right one, so one search covers both.
    std::string argv = readFile(argvLog);
    EXPECT_EQ(said.find(kPassword.substr(1)), std::string::npos) << said;
    EXPECT_EQ(argv.find(kPassword.substr(1)), std::string::npos) << argv;
    EXPECT_NE(argv.find("-h\nsha256\n"), std::string::npos) << argv;
    if (!timestampUrl.empty()) {
        EXPECT_NE(argv.find("-ts\n" + timestampUrl + "\n"), std::string::npos) << argv;
    } else {
        EXPECT_EQ(argv.find("-ts\n"), std::string::npos) << argv;
    }

    // Nothing of the work is left: only the installer, and the signed copy when it was made.
    std::vector<std::string> expected = {"orvan-setup.exe"};
    if (c.toOut && c.status == 0)
        expected.insert(expected.begin(), "orvan-setup-signiert.exe");
    EXPECT_EQ(namesIn(folder), expected);
    EXPECT_TRUE(namesIn(work / "tmp").empty());

    if (c.status != 0) {
        EXPECT_EQ(readFile(input), original) << "a failed signing changed the input";
        return;
    }
    fs::path signedFile = c.toOut ? out : input;
    if (c.toOut) {
        EXPECT_EQ(readFile(input), original) << "--out must leave the input as it is";
    }
    std::string verified;
    ASSERT_EQ(verifyWithRoot(signedFile, verified), 0) << verified;
    EXPECT_NE(verified.find("Message digest algorithm  : SHA256"), std::string::npos) << verified;
    EXPECT_NE(verified.find("Text description: ORVAN Launcher Installer"), std::string::npos) << verified;
    EXPECT_NE(verified.find("Subject: /O=Nordalis Test Studio/CN=Nordalis Test Studio"), std::string::npos) << verified;

    // One byte of the code changed: the digest no longer matches the signature.
    std::string bytes = readFile(signedFile);
    ASSERT_GT(bytes.size(), original.size());
    bytes[original.size() / 2] = static_cast<char>(bytes[original.size() / 2] ^ 0x01);
    writeText(work / "changed.exe", bytes);
    EXPECT_NE(verifyWithRoot(work / "changed.exe", verified), 0) << verified;
    EXPECT_NE(verified.find("MISMATCH"), std::string::npos) << verified;
}

INSTANTIATE_TEST_SUITE_P(Cases, Signing, ::testing::ValuesIn(kSignCases),
                         [](const ::testing::TestParamInfo<SignCase>& info) { return std::string(info.param.name); });

struct UsageCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* says;
};

// Wrong calls stop before anything is signed, with the usage text and status 2.
TEST(SignUsage, WrongCallsExitWithTwo)
{
    char pattern[] = "/tmp/orvan-sign-usage.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    std::string exe = (dir / "orvan-setup.exe").string();
    std::string pfx = (dir / "studio.pfx").string();
    writeText(exe, "MZ");
    writeText(pfx, "nicht leer");
    const UsageCase cases[] = {
        {"no file", {"--pfx", pfx}, "no file to sign"},
        {"no key", {exe}, "no signing key"},
        {"pfx and key", {"--pfx", pfx, "--key", pfx, "--cert", pfx, exe}, "not both"},
        {"key without cert", {"--key", pfx, exe}, "no signing key"},
        {"password on the command line", {"--password", "geheim", "--pfx", pfx, exe}, "unknown option \"--password\""},
        {"missing pfx", {"--pfx", (dir / "fehlt.pfx").string(), exe}, "is not a file"},
        {"option twice", {"--pfx", pfx, "--pfx", pfx, exe}, "given twice"},
        {"timeout no number", {"--pfx", pfx, "--timeout", "bald", exe}, "no number of seconds"},
        {"timestamp no url", {"--pfx", pfx, "--timestamp", "tsa.example", exe}, "no http:// or https:// URL"},
        {"out folder missing", {"--pfx", pfx, "--out", (dir / "fehlt" / "a.exe").string(), exe}, "does not exist"},
    };
    for (const UsageCase& c : cases) {
        std::vector<std::string> argv = {ORVAN_SIGN_SCRIPT};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string said;
        EXPECT_EQ(run(argv, said), 2) << c.name << ":\n" << said;
        EXPECT_NE(said.find(c.says), std::string::npos) << c.name << ": expected \"" << c.says << "\" in:\n" << said;
        EXPECT_NE(said.find("Usage:"), std::string::npos) << c.name;
    }
    std::string said;
    EXPECT_EQ(run({ORVAN_SIGN_SCRIPT, "--help"}, said), 0);
    EXPECT_NE(said.find("--password-file"), std::string::npos) << said;
    EXPECT_EQ(readFile(exe), "MZ");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left.size(), 2u) << "a wrong call leaves no working folder";
    std::error_code ec;
    fs::remove_all(dir, ec);
}
