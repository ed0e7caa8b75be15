// The version record of the installer executable, read back as Windows' Explorer reads it.
#include "installer_window_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(VersionRecord, GermanStringsAndVersionNumbers)
{
    std::wstring exe = besideThisProgram(L"" ORVAN_SETUP_EXE);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version record in orvan-setup.exe";
    std::vector<unsigned char> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 9));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(1, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 9));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0407);
    EXPECT_EQ(translation[1], 1200);

    auto value = [&](const wchar_t* key) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040704B0\\") + key;
        wchar_t* text = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &chars) || text == nullptr)
            return std::wstring(L"<missing>");
        return std::wstring(text);
    };
    EXPECT_EQ(value(L"FileVersion"), L"1.1.9");
    EXPECT_EQ(value(L"ProductVersion"), L"1.1.9");
    EXPECT_EQ(value(L"ProductName"), L"ORVAN Launcher Installer");
    EXPECT_EQ(value(L"FileDescription"), L"ORVAN Launcher - Installation");
    EXPECT_NE(value(L"CompanyName").find(L"NORDALIS"), std::wstring::npos);
    EXPECT_NE(value(L"LegalCopyright").find(L"NORDALIS"), std::wstring::npos);
}

} // namespace
