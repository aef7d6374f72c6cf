// Which installations' data files the uninstaller trusts beyond the install
// folder: only those that no one but the administrators, SYSTEM and the user
// running it can change. Wine keeps no access list: it turns the owner's and
// Everyone's entries into the Unix mode and shows that back, so the cases
// here are the ones a mode can carry (an owner-only folder, one Everyone may
// change, a data file Everyone may write).
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "TestSupport.h"
#include "UninstallData.h"
#include "UninstallSteps_win.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace {

// Gives path the access list of sddl (set after creation: Wine applies a
// list set on an object, not one given to CreateDirectoryW or CreateFileW).
void SetAccess(const WideString& path, const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
    TUniqueLocal owner(sd);
    EXPECT_TRUE(SetFileSecurityW(W(path), DACL_SECURITY_INFORMATION, sd));
}

// An install folder with the given access list and a data file in it, with its own when given.
WideString MakeInstallation(const TTempFolder& temp, const std::string& name, const wchar_t* folderSddl,
                            const wchar_t* fileSddl = nullptr)
{
    const WideString dir = temp.Wide(name) + u"\\";
    EXPECT_TRUE(CreateDirectoryW(W(dir), nullptr));
    SetAccess(dir, folderSddl);
    TUniqueFile data(CreateFileW(W(dir + UninstallScriptName), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_TRUE(data);
    data.Reset();
    if (fileSddl) SetAccess(dir + UninstallScriptName, fileSddl);
    return dir;
}

}  // namespace

TEST(UninstallTrust, OnlyDataNoOneElseCanChangeIsTrusted)
{
    TTempFolder temp;
    const wchar_t* programFiles = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
    EXPECT_TRUE(UninstallDataTrusted(MakeInstallation(temp, "pf", programFiles)));
    // Everyone may add and change files in the folder.
    EXPECT_FALSE(UninstallDataTrusted(
        MakeInstallation(temp, "everyone", L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;WD)")));
    // Everyone may write the data file itself.
    EXPECT_FALSE(UninstallDataTrusted(MakeInstallation(temp, "file", programFiles, L"D:P(A;;FA;;;WD)")));
    EXPECT_FALSE(UninstallDataTrusted(temp.Wide("missing") + u"\\"));
}
