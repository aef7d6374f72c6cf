// The operations left for the next start of Windows: an installer clears those
// on the files it has just written, and keeps every other.
#include <gtest/gtest.h>

#include "PendingRenames.h"
#include "ZoSysUtils.h"

namespace {

WideString Multi(std::initializer_list<const char16_t*> strings)
{
    std::vector<WideString> v;
    for (const char16_t* s : strings) v.push_back(s);
    return JoinMultiSz(v);
}

}  // namespace

TEST(PendingRenames, OperationsOnWrittenFilesGoTheOthersStay)
{
    const WideString data = Multi({u"\\??\\C:\\Program Files\\ZoDemo\\Uninstall.exe", u"",  // an old uninstaller's
                                   u"\\??\\C:\\Windows\\Temp\\ZoUninstall-1\\x.exe", u"",    // not ours
                                   u"\\??\\C:\\tmp\\new.dll", u"!\\??\\C:\\PROGRAM FILES\\zodemo\\tool.dll",
                                   u"\\??\\C:\\Program Files\\ZoDemo", u""});                // its folder
    std::vector<WideString> operations = SplitMultiSz(data);
    ASSERT_EQ(operations.size(), 8u) << "the empty targets are strings of their own";
    std::vector<WideString> kept =
        WithoutOperationsOn(operations, {u"C:\\Program Files\\ZoDemo\\Uninstall.exe",
                                         u"C:\\Program Files\\ZoDemo\\tool.dll", u"C:\\Program Files\\ZoDemo\\"});
    EXPECT_EQ(kept, (std::vector<WideString>{u"\\??\\C:\\Windows\\Temp\\ZoUninstall-1\\x.exe", u""}));
    EXPECT_EQ(SplitMultiSz(JoinMultiSz(kept)), kept);
}

TEST(PendingRenames, OddListsAndEmptyValues)
{
    EXPECT_TRUE(SplitMultiSz(WideString()).empty());
    EXPECT_TRUE(SplitMultiSz(WideString(1, u'\0')).empty());
    // Without the list's closing terminator, and with a half pair at the end.
    WideString bare = u"\\??\\C:\\a";
    bare += u'\0';
    bare += u'\0';
    EXPECT_EQ(SplitMultiSz(bare), (std::vector<WideString>{u"\\??\\C:\\a", u""}));
    EXPECT_TRUE(WithoutOperationsOn({u"\\??\\C:\\a"}, {}).empty());
    EXPECT_EQ(WithoutOperationsOn({u"\\??\\C:\\a", u"\\??\\C:\\b"}, {u"C:\\c"}),
              (std::vector<WideString>{u"\\??\\C:\\a", u"\\??\\C:\\b"}));
}
