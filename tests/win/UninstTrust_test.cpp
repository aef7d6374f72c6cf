// Which installations' data files the uninstaller trusts beyond the install
// folder: only those that no one but the administrators, SYSTEM and the user
// running it can change. Wine keeps the access lists it is given (it does not
// enforce them), so the check reads what Windows would.
#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include "TestSupport.h"
#include "UninstallData.h"
#include "UninstallSteps_win.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"

namespace {

// A folder with the given access list and a data file in it with its own (empty: inherited).
WideString MakeInstallation(const TTempFolder& temp, const std::string& name, const wchar_t* folderSddl,
                            const wchar_t* fileSddl = nullptr)
{
    auto attributes = [](const wchar_t* sddl, TUniqueLocal& owner) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (sddl) EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
        owner.Reset(sd);
        return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), sd, FALSE};
    };
    const WideString dir = temp.Wide(name) + u"\\";
    TUniqueLocal folderOwner, fileOwner;
    SECURITY_ATTRIBUTES folder = attributes(folderSddl, folderOwner), file = attributes(fileSddl, fileOwner);
    EXPECT_TRUE(CreateDirectoryW(W(dir), &folder));
    TUniqueFile data(CreateFileW(W(dir + UninstallScriptName), GENERIC_WRITE, 0, &file, CREATE_NEW, 0, nullptr));
    EXPECT_TRUE(data);
    return dir;
}

}  // namespace

TEST(UninstallTrust, OnlyDataNoOneElseCanChangeIsTrusted)
{
    TTempFolder temp;
    const wchar_t* programFiles = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
    EXPECT_TRUE(UninstallDataTrusted(MakeInstallation(temp, "pf", programFiles)));
    // Users may add and change files in the folder (a folder below C:\ as it comes).
    EXPECT_FALSE(UninstallDataTrusted(
        MakeInstallation(temp, "users", L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)")));
    // Everyone may write the data file itself.
    EXPECT_FALSE(UninstallDataTrusted(MakeInstallation(temp, "file", programFiles, L"D:P(A;;FA;;;WD)")));
    // Authenticated users may change the access list.
    EXPECT_FALSE(UninstallDataTrusted(
        MakeInstallation(temp, "dac", L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x40000;;;AU)")));
    // A creator-owner entry applies to what is created later, not to these.
    EXPECT_TRUE(UninstallDataTrusted(MakeInstallation(
        temp, "creator", L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)")));
    EXPECT_FALSE(UninstallDataTrusted(temp.Wide("missing") + u"\\"));
}
