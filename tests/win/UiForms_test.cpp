// The window layer: the dialog frame, the modal show over an owner, the
// agreement window and the folder picker, with real windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>
#include <vector>

#include "BaseDialogFrm_win.h"
#include "ControlIds.h"
#include "LicenseFrm_win.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"
#include "ZoVclUtils_win.h"

namespace {

constexpr UINT WM_PROBE = WM_APP + 7;

// A dialog that, once its modal loop runs, records what the owner looks like
// and then does what the test asks (press a key, close).
class TProbeDialog : public TBaseDialogForm {
public:
    explicit TProbeDialog(TCustomForm* owner) : TBaseDialogForm(owner, BaseDialogFormSpec()) {}
    std::function<void()> probe;

protected:
    bool HandleMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) override
    {
        if (msg != WM_PROBE) return false;
        if (probe) probe();
        result = 0;
        return true;
    }
};

class TPlainForm : public TBaseForm {
public:
    TPlainForm() : TBaseForm(nullptr, BaseFormSpec()) {}
};

void PostKey(HWND target, WPARAM vk)
{
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, LPARAM(0xC0000001));
}

}  // namespace

TEST(DialogFrame, OkAndCancelSitAtTheRightEdgeApplyIsHidden)
{
    TProbeDialog dialog(nullptr);
    EXPECT_EQ(dialog.ClientWidth(), 475);
    EXPECT_EQ(dialog.ClientHeight(), 340);
    EXPECT_EQ(dialog.btnCancel->Left(), 392);
    EXPECT_EQ(dialog.btnOk->Left(), 309);
    EXPECT_EQ(dialog.btnOk->WindowBounds().left, 309);
    EXPECT_TRUE(dialog.btnOk->Visible());
    EXPECT_TRUE(dialog.btnCancel->Visible());
    EXPECT_FALSE(dialog.btnApply->Visible());
    EXPECT_EQ(dialog.pnlButtons->WindowBounds().top, 340 - 41);
    EXPECT_EQ(dialog.Caption(), u"BaseDialogForm");
    // The client panel keeps 8 pixels free for its content.
    RECT client = dialog.pnlBkClient->WindowBounds();
    EXPECT_EQ(client.bottom - client.top, 340 - 41);
}

TEST(DialogFrame, EnterMeansOkAndEscMeansCancel)
{
    TPlainForm owner;
    owner.Show();
    for (auto [key, expected] : {std::pair{VK_RETURN, 1}, std::pair{VK_ESCAPE, 2}}) {
        TProbeDialog dialog(&owner);
        dialog.probe = [&] { PostKey(dialog.btnOk->Handle(), key); };
        PostMessageW(dialog.Handle(), WM_PROBE, 0, 0);
        EXPECT_EQ(dialog.ShowModal(), expected);
        EXPECT_FALSE(dialog.Visible());
    }
}

TEST(ModalShow, DisablesOnlyTheOwnersTopLevelWindowWhileOpen)
{
    TPlainForm owner, bystander;
    owner.Show();
    bystander.Show();
    TProbeDialog dialog(nullptr);
    bool ownerEnabledDuring = true, bystanderEnabledDuring = false;
    HWND ownerDuring = nullptr;
    dialog.probe = [&] {
        ownerEnabledDuring = IsWindowEnabled(owner.Handle());
        bystanderEnabledDuring = IsWindowEnabled(bystander.Handle());
        ownerDuring = dialog.OwnerHandle();
        dialog.Close();
    };
    PostMessageW(dialog.Handle(), WM_PROBE, 0, 0);
    // Any control of the owner will do: the walk goes up to its top-level window.
    TControl* inner = owner.AddControl({.kind = TControlKind::Panel, .id = 1, .name = "p", .width = 10, .height = 10});
    EXPECT_EQ(TZoVclfn::ShowModalOver(&dialog, inner->Handle()), 2);
    EXPECT_FALSE(ownerEnabledDuring);
    EXPECT_TRUE(bystanderEnabledDuring);
    EXPECT_EQ(ownerDuring, owner.Handle());
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    EXPECT_EQ(dialog.OwnerHandle(), nullptr);  // the previous owner is back
    EXPECT_FALSE(dialog.IsModal());
}

TEST(ModalShow, RefusesAVisibleWindowAndANonWindowOwner)
{
    TPlainForm owner;
    TProbeDialog dialog(nullptr);
    dialog.Show();
    try {
        TZoVclfn::ShowModalOver(&dialog, owner.Handle());
        ADD_FAILURE() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), u"Cannot make a visible window modal");
    }
    EXPECT_EQ(dialog.OwnerHandle(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    dialog.Hide();
    try {
        TZoVclfn::ShowModalOver(&dialog, nullptr);
        ADD_FAILURE() << "no error";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), u"Assertion failure (Common/ZoVclUtils, line 1070)");
    }
}

TEST(LicenseWindow, ShowsTheTextReadOnlyAndGrowsWithTheWindow)
{
    TPlainForm owner;
    TLicenseForm form(&owner);
    EXPECT_EQ(form.Caption(), u"用户许可协议");
    EXPECT_EQ(form.ClientWidth(), 784);
    EXPECT_EQ(form.ClientHeight(), 461);
    LONG style = GetWindowLongW(form.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_THICKFRAME);

    LONG memo = GetWindowLongW(form.memLicense->Handle(), GWL_STYLE);
    EXPECT_TRUE(memo & ES_READONLY);
    EXPECT_TRUE(memo & WS_VSCROLL);
    EXPECT_FALSE(memo & WS_HSCROLL);  // lines wrap
    RECT r = form.memLicense->WindowBounds();
    EXPECT_EQ(r.right - r.left, 784);
    EXPECT_EQ(r.bottom - r.top, 461);

    // A long text survives whole (the edit's default limit is 32K characters).
    WideString text;
    for (int i = 0; i < 5000; ++i) text += u"第" + IntToStr(i) + u"条 许可\r\n";
    form.memLicense->SetText(text);
    EXPECT_EQ(form.memLicense->Text(), text);

    form.Show();
    ShowWindow(form.Handle(), SW_MAXIMIZE);
    r = form.memLicense->WindowBounds();
    EXPECT_EQ(r.right - r.left, form.ClientWidth());
    EXPECT_EQ(r.bottom - r.top, form.ClientHeight());
    EXPECT_GT(form.ClientWidth(), 784);
}

// Presses a button of the folder browser (a #32770 window of this process) as soon as it shows,
// and, given a folder name, once its tree has selected that folder: on a busy machine the
// selection the picker asks for at start-up lands well after the window shows.
class TBrowserPresser {
public:
    explicit TBrowserPresser(WPARAM button, WideString selected = WideString())
        : thread_([this, button, selected] {
              for (int i = 0; i < 200 && !done_; ++i) {
                  if (HWND w = FindBrowser()) {
                      Sleep(300);
                      for (int j = 0; j < 200 && !selected.empty() && !TextEquals(Selection(w), selected); ++j)
                          Sleep(50);
                      PostMessageW(w, WM_COMMAND, button, 0);
                      return;
                  }
                  Sleep(50);
              }
          })
    {
    }
    ~TBrowserPresser()
    {
        done_ = true;
        thread_.join();
    }

private:
    // The text of the tree's selected item; the tree belongs to this process.
    static WideString Selection(HWND browser)
    {
        HWND tree = FindWindowExW(browser, nullptr, L"SysTreeView32", nullptr);
        if (!tree) return WideString();
        auto item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        if (!item) return WideString();
        wchar_t text[MAX_PATH] = {};
        TVITEMW tv{};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = MAX_PATH;
        SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        return WideString(reinterpret_cast<const char16_t*>(text));
    }

    static HWND FindBrowser()
    {
        struct Search {
            DWORD pid;
            HWND found;
        } s{GetCurrentProcessId(), nullptr};
        EnumWindows(
            [](HWND w, LPARAM p) WINAPI -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                wchar_t cls[64] = {};
                GetClassNameW(w, cls, 64);
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid == s->pid && IsWindowVisible(w) && lstrcmpW(cls, L"#32770") == 0) {
                    s->found = w;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&s));
        return s.found;
    }

    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A plain folder of its own directly below C:\, removed at the end. Not one in
// the temporary folder: that lies below the user's profile, where Wine's tree
// stops at the profile now and then (whenever its desktop process starts at the
// same moment), and on some machines below a hidden folder, which the tree never
// lists and so never selects.
class TDriveFolder {
public:
    TDriveFolder()
        : path_(L"C:\\zo-picker-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64()))
    {
        std::filesystem::create_directory(path_);
    }
    ~TDriveFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TDriveFolder(const TDriveFolder&) = delete;
    TDriveFolder& operator=(const TDriveFolder&) = delete;
    WideString Wide() const { return WideString(reinterpret_cast<const char16_t*>(path_.c_str())); }

private:
    std::filesystem::path path_;
};

TEST(FolderPicker, OpensOnAnExistingFolderAndReturnsItWithABackslash)
{
    TDriveFolder folder;
    WideString path = folder.Wide();
    ASSERT_TRUE(DirExists(path));
    WideString chosen = WithoutTrailingBackslash(path);
    bool ok;
    {
        TBrowserPresser press(IDOK, NamePart(WithoutTrailingBackslash(path)));
        ok = TZoVclfn::SelectDirectory(nullptr, u"选择安装目录", chosen);
    }
    ASSERT_TRUE(ok);
    EXPECT_TRUE(TextEquals(chosen, WithTrailingBackslash(path))) << ToUtf8(chosen);
}

TEST(FolderPicker, CancelLeavesTheCallersPathAlone)
{
    WideString path = u"C:\\keep\\";
    {
        TBrowserPresser press(IDCANCEL);
        EXPECT_FALSE(TZoVclfn::SelectDirectory(nullptr, u"x", path));
    }
    EXPECT_EQ(path, u"C:\\keep\\");

    // A path that names no folder is not handed to the browser.
    TZoPathDialog dialog;
    dialog.Path = u"C:\\no\\such\\folder";
    {
        TBrowserPresser press(IDCANCEL);
        EXPECT_FALSE(dialog.Execute(nullptr));
    }
    EXPECT_EQ(dialog.Path, u"");
}

TEST(BaseWindow, AltOrTabSchedulesARepaintOfTheWindowAndEveryControl)
{
    for (auto [message, key] : {std::pair{UINT(WM_KEYDOWN), WPARAM(VK_TAB)}, std::pair{UINT(WM_SYSKEYDOWN), WPARAM('X')}}) {
        TProbeDialog form(nullptr);
        form.Show();
        UpdateWindow(form.Handle());
        RedrawWindow(form.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        RECT r;
        ASSERT_FALSE(GetUpdateRect(form.btnOk->Handle(), &r, FALSE));
        MSG msg{form.btnCancel->Handle(), message, key, 0, 0, {}};
        form.PreTranslate(msg);
        EXPECT_TRUE(GetUpdateRect(form.Handle(), &r, FALSE));
        for (TControl* c : {form.btnOk, form.btnCancel, form.pnlButtons, form.pnlBkClient})
            EXPECT_TRUE(GetUpdateRect(c->Handle(), &r, FALSE)) << c->Name();
    }
    // Any other key leaves the window alone.
    TProbeDialog form(nullptr);
    form.Show();
    RedrawWindow(form.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    MSG msg{form.btnCancel->Handle(), WM_KEYDOWN, 'X', 0, 0, {}};
    form.PreTranslate(msg);
    RECT r;
    EXPECT_FALSE(GetUpdateRect(form.btnOk->Handle(), &r, FALSE));
}

TEST(Controls, RadioButtonsOfOneParentExcludeEachOtherAndSpinEditsStepByOne)
{
    TProbeDialog form(nullptr);
    auto radio = [&](int id, int top) {
        return form.AddControl({.kind = TControlKind::RadioButton, .id = id, .name = "rb", .parent = form.pnlBkClient,
                                .left = 40, .top = top, .width = 160, .height = 16, .text = u"选项"});
    };
    TControl* a = radio(500, 40);
    TControl* b = radio(501, 72);
    form.Show();  // hidden controls give no clicks
    a->SetChecked(true);
    SendMessageW(b->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(b->Checked());
    EXPECT_FALSE(a->Checked());
    EXPECT_EQ(SendMessageW(a->Handle(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    SendMessageW(a->Handle(), BM_CLICK, 0, 0);
    EXPECT_TRUE(a->Checked());
    EXPECT_FALSE(b->Checked());

    TControl* spin = form.AddControl({.kind = TControlKind::SpinEdit, .id = 502, .name = "spin",
                                      .parent = form.pnlBkClient, .left = 136, .top = 131, .width = 121,
                                      .height = 22, .border = true});
    spin->SetText(u"8080");
    SendMessageW(spin->Handle(), WM_KEYDOWN, VK_UP, 1);
    EXPECT_EQ(spin->Text(), u"8081");
    EXPECT_TRUE(GetWindowLongW(spin->Handle(), GWL_STYLE) & ES_NUMBER);
}

namespace {

// A borderless form with a placed button, a bottom strip with a button held
// at its right edge, and a label sized to its text.
class TScalingForm : public TBaseForm {
public:
    TScalingForm() : TBaseForm(nullptr, Description())
    {
        button = AddControl({.kind = TControlKind::Button, .id = 11, .name = "button", .left = 10, .top = 20,
                             .width = 75, .height = 25, .text = u"OK"});
        strip = AddControl({.kind = TControlKind::Panel, .id = 12, .name = "strip", .height = 41,
                            .align = TAlign::Bottom});
        right = AddControl({.kind = TControlKind::Button, .id = 13, .name = "right", .parent = strip, .left = 217,
                            .top = 8, .width = 75, .height = 25, .text = u"取消", .anchors = akTop | akRight});
        label = AddControl({.kind = TControlKind::Label, .id = 14, .name = "label", .left = 10, .top = 60,
                            .text = u"安装目录：", .autoSize = true});
    }
    TControl* button;
    TControl* strip;
    TControl* right;
    TControl* label;

private:
    static TFormSpec Description()
    {
        TFormSpec desc = BaseFormSpec();
        desc.border = TBorderStyle::None;
        desc.clientWidth = 300;
        desc.clientHeight = 200;
        return desc;
    }
};

// A move to a monitor of another DPI, as the system announces it.
void ChangeDpi(TCustomForm& form, int dpi)
{
    RECT r{};
    GetWindowRect(form.Handle(), &r);
    RECT suggested{r.left, r.top, r.left + MulDiv(300, dpi, 96), r.top + MulDiv(200, dpi, 96)};
    SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

int FontHeight(HFONT font)
{
    LOGFONTW f{};
    GetObjectW(font, sizeof f, &f);
    return -f.lfHeight;
}

}  // namespace

TEST(Scaling, ADpiChangeScalesEveryPlaceSizeAndFontAndKeepsTheDesignFigures)
{
    TScalingForm form;
    const int base = form.Dpi(), twice = 2 * base;
    auto px = [&](int design, int dpi) { return MulDiv(design, dpi, 96); };
    const RECT labelBefore = form.label->WindowBounds();

    ChangeDpi(form, twice);
    EXPECT_EQ(form.Dpi(), twice);
    EXPECT_EQ(form.ClientWidth(), 300);  // design figures do not change
    EXPECT_EQ(form.button->Left(), 10);
    RECT b = form.button->WindowBounds();
    EXPECT_EQ(b.left, px(10, twice));
    EXPECT_EQ(b.top, px(20, twice));
    EXPECT_EQ(b.right - b.left, px(75, twice));
    EXPECT_EQ(b.bottom - b.top, px(25, twice));
    // The strip still fills the bottom; the button in it keeps its right margin.
    RECT s = form.strip->WindowBounds();
    EXPECT_EQ(s.bottom, px(200, twice));
    EXPECT_EQ(s.bottom - s.top, px(41, twice));
    EXPECT_EQ(s.right, px(300, twice));
    EXPECT_EQ(form.right->WindowBounds().right, px(300 - 8, twice));
    EXPECT_EQ(FontHeight(form.button->Font()), px(12, twice));
    // The label measured its text again in the larger font.
    RECT l = form.label->WindowBounds();
    EXPECT_GT(l.right - l.left, (labelBefore.right - labelBefore.left) * 3 / 2);

    // And back, without drifting by a pixel.
    ChangeDpi(form, base);
    b = form.button->WindowBounds();
    EXPECT_EQ(b.left, px(10, base));
    EXPECT_EQ(b.right - b.left, px(75, base));
    EXPECT_EQ(form.right->WindowBounds().right, px(292, base));
    EXPECT_EQ(form.strip->WindowBounds().top, px(200, base) - px(41, base));
    EXPECT_EQ(FontHeight(form.button->Font()), px(12, base));
    RECT l2 = form.label->WindowBounds();
    EXPECT_EQ(l2.right - l2.left, labelBefore.right - labelBefore.left);
}

TEST(Controls, ALinkIsATabStopThatEnterAndSpacePress)
{
    TPlainForm form;
    TControl* edit = form.AddControl({.kind = TControlKind::Edit, .id = 21, .name = "edit", .left = 10, .top = 10,
                                      .width = 100, .height = 22});
    TControl* link = form.AddControl({.kind = TControlKind::Label, .id = 22, .name = "link", .left = 10, .top = 40,
                                      .text = u"用户许可协议", .autoSize = true, .link = true});
    int clicks = 0;
    link->OnClick = [&] { ++clicks; };
    form.Show();
    edit->SetFocus();
    MSG tab{edit->Handle(), WM_KEYDOWN, VK_TAB, 1, 0, {}};
    EXPECT_TRUE(form.PreTranslate(tab));
    EXPECT_EQ(GetFocus(), link->Handle());
    EXPECT_TRUE(form.KeyboardCues());
    for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_SPACE)}) {
        MSG press{link->Handle(), WM_KEYDOWN, key, 1, 0, {}};
        EXPECT_TRUE(form.PreTranslate(press));
    }
    EXPECT_EQ(clicks, 2);
}

TEST(Controls, WindowlessPicturesTakeTheirPanelsMouseLabelsLetItThroughAndTheFormDescribesThem)
{
    TPlainForm form;
    TControl* panel = form.AddControl({.kind = TControlKind::Panel, .id = 30, .name = "panel", .width = 300,
                                       .height = 200, .color = RGB(0, 0, 255)});
    // The first made is the top one: the button and the label lie on the picture.
    TControl* button = form.AddControl({.kind = TControlKind::Image, .id = 33, .name = "button", .windowless = true,
                                        .parent = panel, .left = 250, .top = 150, .width = 32, .height = 32});
    TControl* label = form.AddControl({.kind = TControlKind::Label, .id = 31, .name = "label", .windowless = true,
                                       .parent = panel, .left = 10, .top = 10, .width = 200, .height = 40,
                                       .text = u"标题", .textAlign = TTextAlign::Centre, .vcentre = true});
    TControl* picture = form.AddControl({.kind = TControlKind::Image, .id = 32, .name = "picture", .windowless = true,
                                         .parent = panel, .width = 300, .height = 200});
    int downs = 0, clicks = 0;
    picture->OnMouseDown = [&] { ++downs; };
    button->OnClick = [&] { ++clicks; };
    form.Show();
    EXPECT_EQ(label->Handle(), nullptr);
    EXPECT_EQ(form.ControlByHandle(nullptr), nullptr);
    auto at = [&](int x, int y) { return MAKELPARAM(form.Scale(x), form.Scale(y)); };
    auto press = [&](LPARAM down, LPARAM up) {
        SendMessageW(panel->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, down);
        SendMessageW(panel->Handle(), WM_LBUTTONUP, 0, up);
    };
    press(at(50, 20), at(50, 20));  // on the label: the picture beneath gets it
    EXPECT_EQ(downs, 1);
    press(at(260, 160), at(260, 160));
    EXPECT_EQ(clicks, 1);
    press(at(260, 160), at(100, 100));  // let go elsewhere: no click
    EXPECT_EQ(clicks, 1);
    button->Hide();
    press(at(260, 160), at(260, 160));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(downs, 2);
    EXPECT_THROW(form.AddControl({.kind = TControlKind::Label, .id = 34, .name = "link", .windowless = true,
                                  .parent = panel, .link = true}),
                 EInvalidOperation);

    // What the test driver asks the form.
    const UINT query = RegisterWindowMessageW(ZO_WINDOWLESS_QUERY);
    auto ask = [&](int id, LPARAM question) { return SendMessageW(form.Handle(), query, WPARAM(id), question); };
    EXPECT_EQ(ask(31, wqState), 1 | 2 | 4);
    EXPECT_EQ(ask(33, wqState), 1 | 4);
    EXPECT_EQ(ask(30, wqState), 0);  // a window: the driver finds it itself
    EXPECT_EQ(ask(31, wqParentId), 30);
    EXPECT_EQ(ask(31, wqLeft), form.Scale(10));
    EXPECT_EQ(ask(31, wqBottom), form.Scale(50));
    EXPECT_EQ(ask(31, wqTextLength), 2);
    EXPECT_EQ(ask(31, wqTextChar + 1), LRESULT(u'题'));
    label->SetText(u"Title");
    EXPECT_EQ(ask(31, wqTextLength), 5);
    EXPECT_EQ(label->Text(), u"Title");
}

namespace {

// The pixels of a control's place as its form's window shows them.
std::vector<uint32_t> PixelsOf(const TCustomForm& form, const TControl& control)
{
    RedrawWindow(form.Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r{};
    GetWindowRect(control.Handle(), &r);
    MapWindowPoints(nullptr, form.Handle(), reinterpret_cast<POINT*>(&r), 2);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC window = GetDC(form.Handle());
    HDC memory = CreateCompatibleDC(window);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, window, r.left, r.top, SRCCOPY);
    GdiFlush();
    std::vector<uint32_t> pixels(static_cast<const uint32_t*>(bits), static_cast<const uint32_t*>(bits) + w * h);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(form.Handle(), window);
    return pixels;
}

}  // namespace

TEST(Controls, DeferredWindowsArePaintedAsTheyWillLookThenMadeInOrderWithTheStateGivenMeanwhile)
{
    TPlainForm form;
    TControl* panel = form.AddControl({.kind = TControlKind::Panel, .id = 40, .name = "panel", .width = 400,
                                       .height = 120, .color = RGB(255, 255, 255)});
    form.DeferWindows();
    const TFontSpec big{TFontRole::Display, 20, false, false};
    TControl* button = form.AddControl({.kind = TControlKind::Button, .id = 41, .name = "button", .parent = panel,
                                        .left = 250, .top = 60, .width = 120, .height = 40, .text = u"安装",
                                        .font = &big, .fitText = true});
    TControl* edit = form.AddControl({.kind = TControlKind::Edit, .id = 42, .name = "edit", .parent = panel,
                                      .left = 10, .top = 10, .width = 230, .height = 25, .color = RGB(255, 255, 255),
                                      .fontColor = RGB(32, 32, 32), .border = true});
    TControl* link = form.AddControl({.kind = TControlKind::Label, .id = 43, .name = "link", .parent = panel,
                                      .left = 10, .top = 50, .text = u"用户许可协议", .fontColor = RGB(0, 0, 255),
                                      .autoSize = true, .link = true});
    TControl* check = form.AddControl({.kind = TControlKind::CheckBox, .id = 44, .name = "check", .parent = panel,
                                       .left = 10, .top = 80, .width = 60, .height = 16, .text = u"同意",
                                       .fitText = true});
    TControl* box = form.AddControl({.kind = TControlKind::CheckBox, .id = 45, .name = "box", .parent = panel,
                                     .left = 120, .top = 80, .width = 60, .height = 16, .text = u"Hidden"});
    // Meanwhile the controls keep what they are given; their panel paints them.
    edit->SetText(u"C:\\Program Files (x86)\\Product 2.0\\安装\\");
    link->SetEnabled(false);
    check->SetChecked(true);
    box->Hide();
    button->SetFocus();
    EXPECT_EQ(button->Handle(), nullptr);
    EXPECT_EQ(edit->Text(), u"C:\\Program Files (x86)\\Product 2.0\\安装\\");
    EXPECT_FALSE(link->Enabled());
    const UINT query = RegisterWindowMessageW(ZO_WINDOWLESS_QUERY);
    EXPECT_EQ(SendMessageW(form.Handle(), query, 0, wqWindowsToCome), 1);
    form.Show();
    const std::vector<uint32_t> painted = PixelsOf(form, *panel);
    EXPECT_EQ(GetWindow(panel->Handle(), GW_CHILD), nullptr);

    form.MakeDeferredWindows();
    EXPECT_EQ(SendMessageW(form.Handle(), query, 0, wqWindowsToCome), 0);
    // Stacked, and so tabbed, in the order they were made.
    HWND w = GetWindow(panel->Handle(), GW_CHILD);
    for (TControl* c : {button, edit, link, check, box}) {
        ASSERT_EQ(w, c->Handle()) << c->Name();
        w = GetWindow(w, GW_HWNDNEXT);
    }
    EXPECT_EQ(GetFocus(), button->Handle());
    EXPECT_EQ(edit->Text(), u"C:\\Program Files (x86)\\Product 2.0\\安装\\");
    EXPECT_FALSE(IsWindowEnabled(link->Handle()));
    EXPECT_EQ(SendMessageW(check->Handle(), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowVisible(box->Handle()));
    // The windows show what their panel painted, to the pixel.
    const std::vector<uint32_t> made = PixelsOf(form, *panel);
    ASSERT_EQ(made.size(), painted.size());
    const size_t width = static_cast<size_t>(form.Scale(400));
    for (size_t i = 0; i < made.size(); ++i)
        ASSERT_EQ(made[i], painted[i]) << "first difference at " << i % width << "," << i / width;
    // Controls made later get their windows at once.
    TControl* late = form.AddControl({.kind = TControlKind::Button, .id = 46, .name = "late", .parent = panel,
                                      .left = 250, .top = 10, .width = 60, .height = 25, .text = u"OK"});
    EXPECT_NE(late->Handle(), nullptr);
}
