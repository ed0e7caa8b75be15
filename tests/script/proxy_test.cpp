// The installation through a proxy as Windows users have it: squid carries the HTTPS with CONNECT;
// one that asks for a login and refuses it ends the run with the script's own message. Linux pwsh
// takes the proxy from HTTPS_PROXY, the engine under Wine from the user's Internet Settings.
#include "script_harness.h"
#include "wine_peer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// squid on loopback, as a child of the test, with its configuration and logs in a folder of its
// own. Started as root, squid works as its own user, so the folder is open to everyone.
struct Squid {
    TempDir dir;
    int port = 0;
    pid_t pid = -1;

    explicit Squid(bool loginRefused)
    {
        fs::permissions(dir.path, fs::perms::all);
        port = freeLoopbackPort();
        std::string access = "http_access allow localhost\n";
        if (loginRefused) {
            writeFile(dir.path / "refuse.sh", "#!/bin/sh\nwhile read line; do echo ERR; done\n");
            fs::permissions(dir.path / "refuse.sh", fs::perms::all);
            access = "auth_param basic program " + (dir.path / "refuse.sh").string() +
                     "\nauth_param basic children 1\nacl login proxy_auth REQUIRED\nhttp_access allow login\n";
        }
        std::string d = dir.path.string();
        writeFile(dir.path / "squid.conf", "http_port 127.0.0.1:" + std::to_string(port) + "\npid_filename " + d +
                                               "/squid.pid\ncache_log " + d + "/cache.log\naccess_log stdio:" + d +
                                               "/access.log\ncoredump_dir " + d +
                                               "\nnetdb_filename none\ncache deny all\nshutdown_lifetime 0 seconds\n" +
                                               access + "http_access deny all\n");
        std::string config = (dir.path / "squid.conf").string();
        pid = ::fork();
        if (pid == 0) {
            ::execl("/usr/sbin/squid", "squid", "-N", "-f", config.c_str(), nullptr);
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !acceptsConnections(port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~Squid()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // The access log once it names text, or as it stands after 10 s: squid writes a tunnel's line
    // only when it has seen the tunnel closed, which may be after the client has ended.
    std::string accessLogNaming(const std::string& text) const
    {
        std::string log;
        for (int i = 0; i < 100; ++i) {
            log = fs::exists(dir.path / "access.log") ? readFile(dir.path / "access.log") : "";
            if (log.find(text) != std::string::npos)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return log;
    }
};

// The proxy in the Internet Settings of the Wine prefix's user, for the life of the object, as
// Windows' own settings write it: ProxyEnable and ProxyServer, and the blob of the connection
// settings, which is what WinHTTP, and .NET through it, reads. That blob: a version (0x46), a
// change counter, the flags (1 direct, 2 through the proxy), then each of proxy, bypass list and
// configuration script address as a length and its characters, then 32 bytes of further settings,
// zero here.
struct InternetSettingsProxy {
    static constexpr const char* kKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
    static constexpr const char* kConnections =
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    explicit InternetSettingsProxy(int port)
    {
        std::string server = "127.0.0.1:" + std::to_string(port);
        reg({"add", kKey, "/v", "ProxyServer", "/d", server, "/f"});
        reg({"add", kKey, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "1", "/f"});
        std::string blob = "460000000100000003000000" + littleEndian(server.size());
        for (unsigned char c : server)
            blob += hex(c);
        blob += std::string(8 * 2, '0') + std::string(32 * 2, '0');
        reg({"add", kConnections, "/v", "DefaultConnectionSettings", "/t", "REG_BINARY", "/d", blob, "/f"});
    }
    ~InternetSettingsProxy()
    {
        reg({"add", kKey, "/v", "ProxyEnable", "/t", "REG_DWORD", "/d", "0", "/f"});
        reg({"delete", kKey, "/v", "ProxyServer", "/f"});
        reg({"delete", kConnections, "/v", "DefaultConnectionSettings", "/f"});
    }
    static std::string hex(unsigned value)
    {
        char text[3];
        std::snprintf(text, sizeof text, "%02x", value & 0xff);
        return text;
    }
    static std::string littleEndian(std::size_t value)
    {
        return hex(value) + hex(value >> 8) + hex(value >> 16) + hex(value >> 24);
    }
    static void reg(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), {wine::loader(), "reg"});
        EXPECT_EQ(wine::runProgram(arguments), 0) << "reg " << arguments[2];
    }
};

struct ProxyCase {
    const char* name;
    bool loginRefused;
};

void PrintTo(const ProxyCase& c, std::ostream* out) { *out << c.name; }

} // namespace

class ThroughProxy : public ScriptTest, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ThroughProxy, InstallsOrTellsThatTheProxyRefused)
{
    publishDefault();
    Squid squid(GetParam().loginRefused);
    ASSERT_TRUE(acceptsConnections(squid.port)) << "squid did not start";
    Machine machine;

    std::optional<InternetSettingsProxy> windowsProxy;
    std::string wrapper = "$env:HTTPS_PROXY = 'http://127.0.0.1:" + std::to_string(squid.port) + "'";
    if (underWine()) {
        windowsProxy.emplace(squid.port);
        wrapper.clear();
    }
    ScriptRun result = run(machine, {}, wrapper);

    std::string tunnel = "CONNECT " + serverHost() + ":" + std::to_string(port());
    if (GetParam().loginRefused) {
        EXPECT_EQ(joined(result.lines),
                  joined({connectingLine(), progressLine(3),
                          errorLine("Der Proxy-Server hat die Anmeldung abgelehnt (407). Bitte die Proxy-Einstellungen "
                                    "von Windows pruefen oder den Administrator fragen.")}))
            << result.raw;
        std::string log = squid.accessLogNaming("/407 ");
        EXPECT_NE(log.find("/407 "), std::string::npos) << log;
        EXPECT_EQ(accessLog(), "") << "nothing reached the server";
    } else {
        EXPECT_EQ(joined(result.lines), joined(successLines("1.2.3", 1, true, machine.launcher()))) << result.raw;
        EXPECT_EQ(filesBelow(machine.installDir()), filesBelow(payload()));
        std::string log = squid.accessLogNaming(tunnel);
        EXPECT_NE(log.find(tunnel), std::string::npos) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Squid, ThroughProxy,
                         ::testing::Values(ProxyCase{"Open", false}, ProxyCase{"LoginRefused", true}),
                         [](const auto& info) { return std::string(info.param.name); });
