// The copy-failure window: its text, its buttons and its keys.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "CopyFileFailureFrm_win.h"
#include "StepsTestSupport.h"

namespace {

HWND FindDialog()
{
    for (int i = 0; i < 200; ++i) {
        HWND w = FindWindowW(ZO_COPYFILEFAILUREFORM_CLASS, nullptr);
        if (w && IsWindowVisible(w)) return w;
        Sleep(25);
    }
    return nullptr;
}

WideString TextOf(HWND w)
{
    wchar_t buf[1024] = {};
    GetWindowTextW(w, buf, 1024);
    return reinterpret_cast<const char16_t*>(buf);
}

// Shows the window on this thread while another one looks at it and acts.
int ShowAndDrive(const WideString& path, const WideString& reason, const std::function<void(HWND)>& act)
{
    std::thread driver([&] {
        if (HWND dialog = FindDialog()) act(dialog);
    });
    int result = -1;
    try {
        result = ShowCopyFileFailure(nullptr, path, reason);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    driver.join();
    return result;
}

void PressKey(HWND dialog, WORD key)
{
    HWND target = GetDlgItem(GetDlgItem(dialog, idCopyPnlClient), idLblInfo);
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

}  // namespace

TEST(CopyFileFailureWindow, ShowsPathAndReasonAndItsThreeButtons)
{
    WideString info, caption, retry, ignore, quit;
    RECT client{}, retryRect{}, ignoreRect{}, quitRect{};
    int result = ShowAndDrive(u"C:\\Prod\\bin\\x.dll", u"Cannot create file", [&](HWND dialog) {
        HWND buttons = GetDlgItem(dialog, idCopyPnlButtons);
        caption = TextOf(dialog);
        info = TextOf(GetDlgItem(GetDlgItem(dialog, idCopyPnlClient), idLblInfo));
        GetClientRect(dialog, &client);
        auto button = [&](int id, WideString& text, RECT& r) {
            HWND b = GetDlgItem(buttons, id);
            text = TextOf(b);
            GetWindowRect(b, &r);
            MapWindowPoints(nullptr, buttons, reinterpret_cast<POINT*>(&r), 2);
        };
        button(idBtnRetry, retry, retryRect);
        button(idBtnIgnore, ignore, ignoreRect);
        button(idBtnAbort, quit, quitRect);
        SendMessageW(GetDlgItem(buttons, idBtnAbort), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(result, mrAbort);
    EXPECT_EQ(caption, u"复制文件失败");
    EXPECT_EQ(info, u"文件：C:\\Prod\\bin\\x.dll\r\n\r\n失败原因：Cannot create file");
    EXPECT_EQ(client.right, 572);
    EXPECT_EQ(client.bottom, 268);
    EXPECT_EQ(retry, u"重试");
    EXPECT_EQ(ignore, u"忽略");
    EXPECT_EQ(quit, u"退出安装");
    EXPECT_EQ(retryRect.left, 9);
    EXPECT_EQ(ignoreRect.left, 121);
    EXPECT_EQ(quitRect.left, 233);
    EXPECT_EQ(quitRect.right - quitRect.left, 100);
}

TEST(CopyFileFailureWindow, EnterMeansRetryEscMeansIgnore)
{
    EXPECT_EQ(ShowAndDrive(u"a", u"b", [](HWND d) { PressKey(d, VK_RETURN); }), mrRetry);
    EXPECT_EQ(ShowAndDrive(u"a", u"b", [](HWND d) { PressKey(d, VK_ESCAPE); }), mrIgnore);
    EXPECT_EQ(ShowAndDrive(u"a", u"b",
                           [](HWND d) {
                               SendMessageW(GetDlgItem(GetDlgItem(d, idCopyPnlButtons), idBtnIgnore), BM_CLICK, 0,
                                            0);
                           }),
              mrIgnore);
}
