// The proxy settings window and the download failure window as objects: what
// they show for a record, what they write back, the address check and the
// clipboard copy. (Their modal use is tested end to end.)
#include <gtest/gtest.h>

#include "DownloadFailureFrm_win.h"
#include "OnlineTestSupport.h"
#include "ProxySettingsFrm_win.h"
#include "ZoIndyUtils.h"

namespace {

std::vector<bool> FieldsEnabled(const TIndyProxySettingsForm& form)
{
    std::vector<bool> enabled;
    for (TControl* c : {form.lblProxyAddress, form.edtProxyAddress, form.lblProxyPort, form.edtProxyPort,
                        form.lblProxyUser, form.edtProxyUser, form.lblProxyPassword, form.edtProxyPassword})
        enabled.push_back(c->Enabled());
    return enabled;
}

const std::vector<bool> kAllEnabled(8, true), kAllGreyed(8, false);

WideString ClipboardText()
{
    WideString text;
    if (!OpenClipboard(nullptr)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
        if (auto* p = static_cast<const char16_t*>(GlobalLock(data))) {
            text = p;
            GlobalUnlock(data);
        }
    CloseClipboard();
    return text;
}

}  // namespace

TEST(ProxySettingsWindow, ANewRecordShowsNoProxyAndPort8080Greyed)
{
    TIndyProxySettingsForm form(nullptr);
    TZoHttpProxy fresh;
    form.LoadFromProxy(fresh);
    EXPECT_EQ(form.Caption(), u"代理服务器设置");
    EXPECT_EQ(form.ClientWidth(), 430);
    EXPECT_EQ(form.ClientHeight(), 304);
    EXPECT_TRUE(form.rbNoProxy->Checked());
    EXPECT_FALSE(form.rbUseProxy->Checked());
    EXPECT_EQ(form.edtProxyAddress->Text(), u"");
    EXPECT_EQ(form.edtProxyPort->Text(), u"8080");
    EXPECT_EQ(FieldsEnabled(form), kAllGreyed);
    EXPECT_TRUE(form.ValidateInput());  // no proxy: an empty address is fine
    EXPECT_FALSE(form.btnApply->Visible());
}

TEST(ProxySettingsWindow, NoProxyKeepsTheFieldsAndChoosingAProxyBringsThemBack)
{
    TZoHttpProxy proxy;
    proxy.Checked = true;
    proxy.Address = u"proxy.example";
    proxy.Port = 3128;
    proxy.UserName = u"u";
    proxy.Password = u"p";
    {
        TIndyProxySettingsForm form(nullptr);
        form.LoadFromProxy(proxy);
        EXPECT_EQ(FieldsEnabled(form), kAllEnabled);
        form.rbNoProxy->SetChecked(true);
        form.rbNoProxyClick();
        EXPECT_EQ(FieldsEnabled(form), kAllGreyed);
        form.SaveToProxy(proxy);
    }
    EXPECT_FALSE(proxy.Checked);
    EXPECT_EQ(proxy.Address, u"proxy.example");
    EXPECT_EQ(proxy.Port, 3128);
    EXPECT_EQ(proxy.UserName, u"u");
    EXPECT_EQ(proxy.Password, u"p");

    TIndyProxySettingsForm again(nullptr);
    again.LoadFromProxy(proxy);
    EXPECT_EQ(FieldsEnabled(again), kAllGreyed);
    EXPECT_EQ(again.edtProxyAddress->Text(), u"proxy.example");
    again.rbUseProxy->SetChecked(true);
    again.rbUseProxyClick();
    EXPECT_FALSE(again.rbNoProxy->Checked());
    EXPECT_EQ(FieldsEnabled(again), kAllEnabled);
    EXPECT_TRUE(again.ValidateInput());
}

TEST(ProxySettingsWindow, SavesTheAddressTrimmedAndTheCredentialsAsTyped)
{
    TIndyProxySettingsForm form(nullptr);
    form.rbUseProxy->SetChecked(true);
    form.edtProxyAddress->SetText(u" \t 10.0.0.1  ");
    form.edtProxyUser->SetText(u" user ");
    form.edtProxyPassword->SetText(u" pass word ");
    form.edtProxyPort->SetText(u"3128");
    TZoHttpProxy proxy;
    form.SaveToProxy(proxy);
    EXPECT_TRUE(proxy.Checked);
    EXPECT_EQ(proxy.Address, u"10.0.0.1");
    EXPECT_EQ(proxy.UserName, u" user ");
    EXPECT_EQ(proxy.Password, u" pass word ");
    EXPECT_EQ(proxy.Port, 3128);
}

TEST(ProxySettingsWindow, ThePortIsAWholeNumberWithinTheBoxsRange)
{
    TIndyProxySettingsForm form(nullptr);
    const std::pair<const char16_t*, int> cases[] = {{u"80", 80},  {u" 8081 ", 8081}, {u"", 0},
                                                     {u"99999", 65535}, {u"0", 0}, {u"12abc", 0}};
    for (const auto& [text, port] : cases) {
        form.edtProxyPort->SetText(text);
        EXPECT_EQ(form.PortValue(), port) << Narrow(text);
    }
}

TEST(DownloadFailureWindow, CopiesTheAddressToTheClipboard)
{
    TDownloadFailureForm form(nullptr);
    EXPECT_EQ(form.ClientWidth(), 534);
    EXPECT_EQ(form.ClientHeight(), 261);
    EXPECT_EQ(form.btnOk->Text(), u"退出安装");
    EXPECT_EQ(form.btnCancel->Text(), u"重试");
    form.Url = u"http://127.0.0.1/下载/Setup.exe?a=1";
    ASSERT_TRUE(form.btnCopyClick());
    EXPECT_EQ(ClipboardText(), form.Url);
    form.Url = u"";
    ASSERT_TRUE(form.btnCopyClick());
    EXPECT_EQ(ClipboardText(), u"");
}
