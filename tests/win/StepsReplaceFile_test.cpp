// Replacing a file goes through a whole temporary file beside it: the old file
// stays whole until the new one takes its name, and no temporary file stays.
#include <gtest/gtest.h>

#include "ReplaceFile_win.h"
#include "ZoSafeFiles_win.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace {

std::string ReadAll(const WideString& path)
{
    TFileStream f(path, TFileStream::fmOpenRead);
    std::string s(static_cast<size_t>(f.Size()), '\0');
    f.ReadBuffer(s.data(), s.size());
    return s;
}

bool Exists(const WideString& path) { return GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES; }

void WriteText(const WideString& path, const std::string& text)
{
    ReplaceFileWith(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

TEST(ReplacingAFile, NewAndExistingFilesGetTheWholeContentAndNoTemporaryStays)
{
    TTempFolder dir;
    const WideString path = dir.Wide() + u"\\Uninstall.da1";
    WriteText(path, "first");
    EXPECT_EQ(ReadAll(path), "first");
    WriteText(path, std::string(3 << 20, 'x'));  // larger than one write
    EXPECT_EQ(ReadAll(path).size(), 3u << 20);
    WriteText(path, "");
    EXPECT_EQ(ReadAll(path), "");
    EXPECT_FALSE(Exists(ReplacementPath(path)));
}

TEST(ReplacingAFile, AFailureLeavesTheOldFileWholeAndNoTemporary)
{
    TTempFolder dir;
    const WideString path = dir.Wide() + u"\\app.dll";
    WriteText(path, "the old version");

    // The content fails midway (a damaged image, a full disk).
    EXPECT_THROW(ReplaceFileWith(path, [](HANDLE file) {
        DWORD n = 0;
        WriteFile(file, "half", 4, &n, nullptr);
        throw EDecompressionError(u"Error");
    }), EDecompressionError);
    EXPECT_EQ(ReadAll(path), "the old version");
    EXPECT_FALSE(Exists(ReplacementPath(path)));

    // The target cannot be replaced: held open without leave to delete it.
    {
        TUniqueFile held(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        try {
            WriteText(path, "new");
            ADD_FAILURE() << "replaced a file in use";
        } catch (const EFCreateError& e) {
            EXPECT_NE(ToUtf8(e.Message()).find("Cannot create file"), std::string::npos);
        }
    }
    EXPECT_EQ(ReadAll(path), "the old version");
    EXPECT_FALSE(Exists(ReplacementPath(path)));

    // A read-only target stays read-only and whole.
    SetFileAttributesW(W(path), FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(WriteText(path, "new"), EFCreateError);
    EXPECT_EQ(ReadAll(path), "the old version");
    EXPECT_FALSE(Exists(ReplacementPath(path)));
    SetFileAttributesW(W(path), FILE_ATTRIBUTE_NORMAL);
}

TEST(ReplacingAFile, TimesAreSetBeforeTheFileTakesItsName)
{
    TTempFolder dir;
    const WideString path = dir.Wide() + u"\\readme.txt";
    FileTimes times;
    times.LastWriteTime = EncodeDateTime({2020, 5, 17, 10, 30, 0, 0});
    ReplaceFileWith(path, [](HANDLE file) {
        DWORD n = 0;
        WriteFile(file, "text", 4, &n, nullptr);
    }, &times);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(W(path), GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20200517);
    EXPECT_EQ(st.wHour, 10);
}

// A held folder that is empty can still be made a junction, and a file opened
// by its path then lies where that leads. Here the held folder is "held" and
// the path leads to "elsewhere", as if "held" had been made a link to it:
// nothing is written or deleted there. The same file reached through
// another case and the folders' short names is its own.
TEST(ReplacingAFile, NothingIsWrittenOrDeletedOutsideTheHeldFolder)
{
    TTempFolder dir;
    const WideString held = dir.Wide() + u"\\held", elsewhere = dir.Wide() + u"\\elsewhere";
    ASSERT_TRUE(CreateDirectoryW(W(held), nullptr) && CreateDirectoryW(W(elsewhere), nullptr));
    const WideString victim = elsewhere + u"\\victim.txt";
    WriteText(victim, "victim");
    const TFolderChain chain(dir.Wide(), held + u"\\victim.txt", false);

    EXPECT_THROW(ReplaceFileWith(victim, reinterpret_cast<const uint8_t*>("x"), 1, chain), ELinkFound);
    EXPECT_THROW(ReplaceFileWith(elsewhere + u"\\new.txt", reinterpret_cast<const uint8_t*>("x"), 1, chain), ELinkFound);
    EXPECT_EQ(DeleteFileNoFollow(victim, true, chain), static_cast<DWORD>(ERROR_REPARSE_TAG_MISMATCH));
    EXPECT_EQ(ReadAll(victim), "victim");
    EXPECT_FALSE(Exists(ReplacementPath(victim)));
    EXPECT_FALSE(Exists(elsewhere + u"\\new.txt"));

    const WideString own = held + u"\\Own File.txt";
    WriteText(own, "own");
    wchar_t shortRoot[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameW(W(dir.Wide()), shortRoot, MAX_PATH), 0u);
    WideString root(reinterpret_cast<const char16_t*>(shortRoot));
    for (char16_t& c : root) c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    const WideString other = root + u"\\HELD\\own file.TXT";
    const TFolderChain otherForm(root, other, false);
    ReplaceFileWith(other, reinterpret_cast<const uint8_t*>("new"), 3, otherForm);
    EXPECT_EQ(ReadAll(own), "new");
    EXPECT_EQ(DeleteFileNoFollow(other, true, otherForm), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(Exists(own));
    // Names the file system keeps apart are apart here too, whatever text folding says.
    EXPECT_FALSE(SameNameOnDisk(u"C:\\\u212Aept\\a", u"C:\\kept\\a"));
    EXPECT_FALSE(SameNameOnDisk(u"C:\\Program File\u017F\\", u"C:\\Program Files\\"));
}
