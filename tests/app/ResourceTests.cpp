// The resources of the shipped program, read back from selfrenew.exe itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "framework/Handles.h"
#include "res/Texts.h"
#include "res/resource.h"
#include "res/version.h"
#include "support/Processes.h"

namespace {

class ProgramResources : public ::testing::Test {
protected:
    void SetUp() override {
        std::string path = testing_support::ProgramBinDir() + "selfrenew.exe";
        m_hModule = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_hModule, nullptr) << path;
    }
    void TearDown() override {
        if (m_hModule) FreeLibrary(m_hModule);
    }
    std::string Resource(LPCSTR type, LPCSTR name) {
        HRSRC res = FindResourceA(m_hModule, name, type);
        if (!res) return std::string();
        const char* p = static_cast<const char*>(LockResource(LoadResource(m_hModule, res)));
        return std::string(p, SizeofResource(m_hModule, res));
    }
    HMODULE m_hModule = nullptr;
};

TEST_F(ProgramResources, SocketsMessageIsTheGbkText) {
    char text[128] = {};
    ASSERT_GT(LoadStringA(m_hModule, IDS_SOCKETS_FAILED, text, sizeof(text)), 0);
    EXPECT_STREQ(text, TEXT_SOCKETS_FAILED);
}

TEST_F(ProgramResources, ManifestAsksForAdministrator) {
    std::string manifest = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos) << manifest;
}

TEST_F(ProgramResources, DialogTemplateIsABorderlessTopmostPopup) {
    std::string tpl = Resource(MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_UPDATE_DIALOG));
    ASSERT_GE(tpl.size(), 26u);
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style, style, items, x, y, cx, cy.
    const WORD* w = reinterpret_cast<const WORD*>(tpl.data());
    ASSERT_EQ(w[0], 1);
    ASSERT_EQ(w[1], 0xFFFF);
    DWORD exStyle = *reinterpret_cast<const DWORD*>(tpl.data() + 8);
    DWORD style = *reinterpret_cast<const DWORD*>(tpl.data() + 12);
    EXPECT_EQ(style, static_cast<DWORD>(WS_POPUP | WS_VISIBLE | DS_SETFONT | DS_CENTER));
    EXPECT_EQ(exStyle, static_cast<DWORD>(WS_EX_APPWINDOW | WS_EX_TOPMOST));
    EXPECT_EQ(w[8], 1) << "one control";
    EXPECT_EQ(w[11], 280);
    EXPECT_EQ(w[12], 202);
}

TEST_F(ProgramResources, IconAndVersionAreThere) {
    HICON icon = static_cast<HICON>(LoadImageA(m_hModule, MAKEINTRESOURCEA(IDI_MAIN_ICON), IMAGE_ICON, 48, 48, 0));
    ASSERT_NE(icon, nullptr);
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm = {};
    GetObjectA(info.hbmColor, sizeof(bm), &bm);
    EXPECT_EQ(bm.bmWidth, 48);
    EXPECT_EQ(bm.bmHeight, 48);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);

    std::string version = Resource(MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1));
    const VS_FIXEDFILEINFO* fixed = nullptr;
    for (size_t i = 0; i + sizeof(VS_FIXEDFILEINFO) <= version.size(); i += 4) {
        auto* candidate = reinterpret_cast<const VS_FIXEDFILEINFO*>(version.data() + i);
        if (candidate->dwSignature == 0xFEEF04BD) {
            fixed = candidate;
            break;
        }
    }
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(SELFRENEW_VERSION_MINOR, SELFRENEW_VERSION_MAJOR)));
}

}  // namespace
