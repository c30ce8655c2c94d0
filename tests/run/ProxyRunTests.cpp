// Runs with the system's proxy set in the prefix's Internet settings: through
// a real squid, through one that asks for credentials, and past a dead proxy
// port. The settings are the whole prefix's, so this program runs alone.
#include <winsock2.h>

#include "run/RunFixture.h"

#include <cstdlib>

#include "res/Texts.h"
#include "res/version.h"
#include "support/Processes.h"
#include "support/Releases.h"
#include "support/ScriptedServer.h"
#include "update/LocalScan.h"

using namespace testing_support;

namespace {

const char kSettingsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// A value of the settings as it was, to put back.
struct SavedValue {
    explicit SavedValue(const char* pszValueName) : pszName(pszValueName) {}
    const char* pszName;
    bool bPresent = false;
    DWORD dwType = 0;
    std::string bytes;
};

// The prefix's settings name pszProxy while this lives, then are as before.
class SystemProxy {
public:
    explicit SystemProxy(const std::string& strProxy) {
        RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_hKey, nullptr);
        for (SavedValue& v : m_saved) {
            char buffer[1024];
            DWORD nSize = sizeof buffer;
            v.bPresent = RegQueryValueExA(m_hKey, v.pszName, nullptr, &v.dwType, reinterpret_cast<BYTE*>(buffer),
                                          &nSize) == ERROR_SUCCESS;
            if (v.bPresent) v.bytes.assign(buffer, nSize);
        }
        DWORD dwOn = 1;
        RegSetValueExA(m_hKey, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOn), sizeof dwOn);
        RegSetValueExA(m_hKey, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(strProxy.c_str()),
                       static_cast<DWORD>(strProxy.size() + 1));
        RegDeleteValueA(m_hKey, "ProxyOverride");
    }
    ~SystemProxy() {
        for (const SavedValue& v : m_saved) {
            if (v.bPresent)
                RegSetValueExA(m_hKey, v.pszName, 0, v.dwType, reinterpret_cast<const BYTE*>(v.bytes.data()),
                               static_cast<DWORD>(v.bytes.size()));
            else
                RegDeleteValueA(m_hKey, v.pszName);
        }
        RegCloseKey(m_hKey);
    }
    SystemProxy(const SystemProxy&) = delete;
    SystemProxy& operator=(const SystemProxy&) = delete;

private:
    HKEY m_hKey = nullptr;
    SavedValue m_saved[3] = {SavedValue("ProxyEnable"), SavedValue("ProxyServer"), SavedValue("ProxyOverride")};
};

unsigned short PortIn(const char* pszStateVar) {
    return static_cast<unsigned short>(std::atoi(ReadWholeFile(WinePathFromEnv(pszStateVar) + "port").c_str()));
}

// A port nothing listens on: taken from the kernel, then let go.
unsigned short DeadPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int nLength = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &nLength);
    closesocket(s);
    return ntohs(addr.sin_port);
}

class ProxyRunTest : public RunTest {
protected:
    void SetUp() override {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        RunTest::SetUp();
    }
};

const ReleaseFiles kRelease = {{"a.dll", "through the proxy"}, {"data/", ""}, {"data/b.dat", std::string(5000, 'b')}};

TEST_F(ProxyRunTest, TheSystemsProxyCarriesTheRunAndADeadOneIsPassedDirectly) {
    ASSERT_TRUE(PublishRelease(m_strProduct, kRelease));
    struct Case {
        const char* pszName;
        unsigned short nProxyPort;
        const char* pszProxyLog;  // the squid whose access log must show the run, or nullptr
        bool bInstalls;
        const char* pszLogged;  // a line of the support log that says what happened
    } cases[] = {
        {"through squid", PortIn("SELFRENEW_SQUID"), "SELFRENEW_SQUID", true, "proxy 127.0.0.1:"},
        {"squid asks for credentials", PortIn("SELFRENEW_SQUID_AUTH"), "SELFRENEW_SQUID_AUTH", false,
         "HTTP 407, the proxy asks for credentials"},
        {"dead proxy port", DeadPort(), nullptr, true, "can't be reached through the proxy; trying it directly"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_NE(c.nProxyPort, 0);
        CleanProgramFolder();
        g_updateList.clear();
        std::string strProxyLog = c.pszProxyLog ? WinePathFromEnv(c.pszProxyLog) + "access.log" : "";
        size_t nProxyLogBefore = c.pszProxyLog ? ReadWholeFile(strProxyLog).size() : 0;
        {
            SystemProxy proxy("127.0.0.1:" + std::to_string(c.nProxyPort));
            RecordingSession session;
            ASSERT_TRUE(RunAgainst(session, NginxPort()));
        }
        EXPECT_EQ(g_bRunResult, c.bInstalls ? 1 : 0);
        EXPECT_EQ(ReadWholeFile(m_strProgramDir + "a.dll"), c.bInstalls ? "through the proxy" : "");
        if (c.pszProxyLog) {
            // The proxy saw the list's request, named by its whole address.
            std::string strSeen = ReadWholeFile(strProxyLog).substr(nProxyLogBefore);
            EXPECT_NE(strSeen.find("GET http://127.0.0.1:" + std::to_string(NginxPort()) + "/kroupdate/" +
                                   m_strProduct + "/filelist.list"),
                      std::string::npos)
                << strSeen;
            EXPECT_NE(strSeen.find("\"" SELFRENEW_USER_AGENT "\""), std::string::npos) << strSeen;
        }
        std::string strLog = ReadWholeFile(FindProgramFolder() + "UpdateINI\\update.log");
        EXPECT_NE(strLog.find(c.pszLogged), std::string::npos) << strLog;
    }
}

// Direct too, every request names the program and its version.
TEST_F(ProxyRunTest, EveryRequestSendsTheProgramsUserAgent) {
    testsupport::ScriptedServer server;
    ASSERT_TRUE(server.Start());
    ScriptSlowRelease(server, m_strProduct, "a.dll", "tiny");
    RecordingSession session;
    ASSERT_TRUE(RunAgainst(session, server.Port()));
    ASSERT_EQ(server.Requests().size(), 2u);
    for (const auto& r : server.Requests()) EXPECT_EQ(r.Header("User-Agent"), SELFRENEW_USER_AGENT) << r.Path();
    server.Stop();
}

}  // namespace
