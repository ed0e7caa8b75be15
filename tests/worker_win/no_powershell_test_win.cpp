// The worker where the system has no PowerShell: the stand-in beside this program and in the
// current folder is not taken in its place.
#include "engine/messages.h"
#include "install_script.h"
#include "test_support_win.h"

#include <gtest/gtest.h>

namespace {

TEST(NoPowerShell, ExactlyOneErrorTheScriptStaysAndARetryFailsTheSameWay)
{
    removeSystemPowerShell(); // Wine's own stub included
    useRecordingWindow();
    std::wstring temp = freshFolder(L"ohne powershell");
    useTempFolder(temp);
    const std::vector<char> embedded(reinterpret_cast<const char*>(kInstallScript),
                                     reinterpret_cast<const char*>(kInstallScript) + kInstallScriptSize);

    for (int attempt = 0; attempt < 2; ++attempt) {
        postedMessages().clear();
        HANDLE worker = startWorkerThread();
        ASSERT_TRUE(pumpUntilSignalled(worker));
        CloseHandle(worker);
        ASSERT_EQ(postedMessages().size(), 1u) << "attempt " << attempt;
        EXPECT_EQ(postedMessages()[0].message, WM_INSTALL_ERROR);
        EXPECT_EQ(postedMessages()[0].text, L"PowerShell konnte nicht gestartet werden.");
        EXPECT_EQ(readWholeFile(scriptPathIn(temp)), embedded) << "the script file stays for the next attempt";
    }
}

} // namespace
