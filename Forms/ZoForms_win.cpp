#include "ZoForms_win.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <new>

#include "ControlIds.h"
#include "ZoGraphics_win.h"
#include "ZoLog.h"
#include "ZoSkin_win.h"
#include "ZoSysUtils.h"
#include "ZoWinText_win.h"
#include "ZoWinUtils_win.h"

TApplication Application;

namespace {

const wchar_t* const ControlClass = L"ZoControl";

// Every live form, to find the form of a message's window in the loop.
std::vector<TCustomForm*>& LiveForms()
{
    static std::vector<TCustomForm*> forms;
    return forms;
}

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

LRESULT CALLBACK ControlWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* control = reinterpret_cast<TControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!control && msg == WM_NCCREATE) {
        control = static_cast<TControl*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(control));
        control->AttachHandle(hwnd);
    }
    if (!control) return DefWindowProcW(hwnd, msg, wp, lp);
    // The window's last message: nothing may reach the object afterwards.
    if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    try {
        return control->WndProc(msg, wp, lp);
    } catch (const std::exception& e) {
        Application.HandleException(e);
        return 0;
    }
}

LRESULT CALLBACK FormWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    auto* form = reinterpret_cast<TCustomForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!form && msg == WM_NCCREATE) {
        form = static_cast<TCustomForm*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->AttachHandle(hwnd);
    }
    if (!form) return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    try {
        return form->WndProc(msg, wp, lp);
    } catch (const std::exception& e) {
        Application.HandleException(e);
        return 0;
    }
}

void RegisterFormClass(const wchar_t* name)
{
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(Instance(), name, &wc)) return;
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = FormWndProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hIcon = LoadIconW(Instance(), MAKEINTRESOURCEW(1));
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
}

bool IsSystemControl(TControlKind kind)
{
    switch (kind) {
    case TControlKind::Label:
    case TControlKind::Edit:
    case TControlKind::Memo:
    case TControlKind::Button:
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
    case TControlKind::SpinEdit:
        return true;
    default:
        return false;
    }
}

RECT ClientRect(HWND hwnd)
{
    RECT r{};
    GetClientRect(hwnd, &r);
    return r;
}

// The per-monitor DPI functions exist from Windows 10 (1607) on; before that
// the system's DPI holds for every window.
template <typename F>
F User32Function(const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int SystemDpi()
{
    static const auto getDpiForSystem = User32Function<UINT(WINAPI*)()>("GetDpiForSystem");
    if (getDpiForSystem) return static_cast<int>(getDpiForSystem());
    TWindowDC dc(nullptr);
    return dc.Get() ? GetDeviceCaps(dc.Get(), LOGPIXELSY) : 96;
}

int WindowDpi(HWND window)
{
    static const auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi ? static_cast<int>(dpi) : SystemDpi();
}

RECT WindowRectForClient(int width, int height, DWORD style, DWORD exStyle, int dpi)
{
    static const auto adjustForDpi =
        User32Function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    RECT r{0, 0, width, height};
    if (adjustForDpi)
        adjustForDpi(&r, style, FALSE, exStyle, static_cast<UINT>(dpi));
    else
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return r;
}

}  // namespace

void RegisterZoWindowClasses()
{
    static bool done = false;
    if (done) return;
    done = true;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ControlWndProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = ControlClass;
    RegisterClassExW(&wc);
}

// ---- TApplication ----------------------------------------------------------------

WideString TApplication::Title() const { return title_.empty() ? NameWithoutExt(ArgAt(0)) : title_; }

void TApplication::Terminate() { PostQuitMessage(0); }

bool TApplication::Dispatch(MSG& msg)
{
    if (msg.message == WM_QUIT) {
        terminated_ = true;
        return false;
    }
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
        if (TCustomForm* form = TCustomForm::FromWindow(msg.hwnd); form && form->PreTranslate(msg)) return true;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void TApplication::ProcessMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) Dispatch(msg);
}

void TApplication::HandleMessage()
{
    MSG msg;
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
        terminated_ = true;
        return;
    }
    Dispatch(msg);
}

void TApplication::Run()
{
    while (!terminated_) HandleMessage();
}

void TApplication::HandleException(const std::exception& error)
{
    if (IsOutOfMemory(error)) TZoWinfn::EndOutOfMemory();
    WideString text = ErrorText(error);
    LogAdd(TLogEntry::Error, text);
    if (onException_) {
        onException_(text);
        return;
    }
    MessageBoxW(GetActiveWindow(), W(text), W(Title()), MB_OK | MB_ICONSTOP);
}

namespace {

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(const WideString& face)
{
    if (face.empty() || face.size() >= LF_FACESIZE) return false;
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::copy(face.begin(), face.end(), wanted.lfFaceName);
    bool found = false;
    TWindowDC dc(nullptr);  // the screen
    EnumFontFamiliesExW(dc.Get(), &wanted, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

// The first installed face of a ";" list; the last one when none is (the
// system then substitutes its own).
WideString FirstInstalledFace(const WideString& faces)
{
    WideString last;
    size_t from = 0;
    while (from <= faces.size()) {
        size_t end = faces.find(u';', from);
        if (end == WideString::npos) end = faces.size();
        last = faces.substr(from, end - from);
        if (FontInstalled(last)) return last;
        from = end + 1;
    }
    return last;
}

}  // namespace

void TApplication::SetFontFaces(const WideString& displayFaces, const WideString& textFaces)
{
    displayFace_ = FirstInstalledFace(displayFaces);
    textFace_ = FirstInstalledFace(textFaces);
}

HCURSOR TApplication::HandCursor() const { return LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)); }

// ---- TControl ---------------------------------------------------------------------

namespace {

// The runs an edit box sets its text in.
int EditRunKind(char16_t c)
{
    if (c >= u'0' && c <= u'9') return 1;
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c >= 0x00C0) return 2;
    return 0;
}

// The system controls whose look the layer paints itself, and so can wait for their window.
bool CanWaitForWindow(const TControlSpec& desc)
{
    switch (desc.kind) {
    case TControlKind::Label:
    case TControlKind::Edit:
    case TControlKind::Button:
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
        return desc.align == TAlign::None;
    default:
        return false;
    }
}

}  // namespace

TControl::TControl(TCustomForm* form, const TControlSpec& desc) : form_(form), spec_(desc)
{
    if (desc.windowless) {
        if (!desc.parent || desc.parent->Kind() != TControlKind::Panel || desc.parent->Windowless() ||
            (desc.kind != TControlKind::Label && desc.kind != TControlKind::Image) || desc.link || desc.tabStop ||
            desc.align != TAlign::None)
            throw EInvalidOperation(u"Only a passive label or picture on a panel can be windowless");
    }
    const bool drawn = desc.windowless || (form->DefersWindows() && desc.parent &&
                                           desc.parent->Kind() == TControlKind::Panel && CanWaitForWindow(desc));
    font_ = form->FontHandle(desc.font ? *desc.font : form->Font());
    if (drawn) {
        place_ = {form->Scale(desc.left), form->Scale(desc.top), form->Scale(desc.left + desc.width),
                  form->Scale(desc.top + desc.height)};
    } else {
        MakeWindow(HWND_BOTTOM);
    }
    if (desc.kind == TControlKind::ProgressBar) SetText(ZoSkin::PercentText(position_, max_));
    if (desc.autoSize) ApplyAutoSize();
    designWidth_ = spec_.width;
    FitText();
    if (desc.anchors & akRight) rightGap_ = form->Unscale(ClientRect(ParentHandle()).right) - (spec_.left + spec_.width);
    if (drawn) Invalidate();
}

void TControl::MakeWindow(HWND insertAfter)
{
    RegisterZoWindowClasses();
    const TControlSpec& desc = spec_;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (desc.visible ? WS_VISIBLE : 0);
    DWORD exStyle = 0;
    const wchar_t* cls = ControlClass;
    switch (desc.kind) {
    case TControlKind::Panel:
        style |= WS_CLIPCHILDREN | (desc.border ? WS_BORDER : 0);
        exStyle |= WS_EX_CONTROLPARENT;
        break;
    case TControlKind::Label:
        cls = L"STATIC";
        style |= SS_NOPREFIX | (desc.link ? SS_NOTIFY | WS_TABSTOP : 0) | (desc.ellipsis ? SS_ENDELLIPSIS : 0);
        if (desc.textAlign == TTextAlign::Centre)
            style |= SS_CENTER;
        else
            style |= desc.vcentre ? SS_LEFT : SS_LEFTNOWORDWRAP;
        if (desc.vcentre) style |= SS_CENTERIMAGE;
        break;
    case TControlKind::Edit:
        cls = L"EDIT";
        style |= ES_AUTOHSCROLL | WS_TABSTOP | (desc.border ? WS_BORDER : 0);
        break;
    case TControlKind::Memo:
        cls = L"EDIT";
        style |= ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
    case TControlKind::SpinEdit:
        cls = L"EDIT";
        style |= ES_AUTOHSCROLL | ES_NUMBER | WS_TABSTOP | (desc.border ? WS_BORDER : 0);
        break;
    case TControlKind::Button:
    case TControlKind::CheckBox:
    case TControlKind::RadioButton:
        cls = L"BUTTON";
        style |= BS_OWNERDRAW | WS_TABSTOP;
        break;
    default:
        break;
    }
    if (desc.tabStop) style |= WS_TABSTOP;
    if (!enabled_) style |= WS_DISABLED;
    const TCustomForm& form = *form_;
    handle_ = CreateWindowExW(exStyle, cls, W(desc.text), style, form.Scale(desc.left), form.Scale(desc.top),
                              form.Scale(desc.left + desc.width) - form.Scale(desc.left),
                              form.Scale(desc.top + desc.height) - form.Scale(desc.top), ParentHandle(),
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(desc.id)), Instance(), this);
    if (!handle_) throw EOSError(FormatText(u"Error creating window %s (%s)", {WideOf(desc.name), IntToStr(GetLastError())}));
    if (IsSystemControl(desc.kind)) {
        SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        baseProc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlWndProc)));
    }
    // Made in order, stacked in order: the first control is the top one and
    // the first in the tab order.
    SetWindowPos(handle_, insertAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (desc.kind == TControlKind::Edit) {
        WORD margin = static_cast<WORD>(form.Scale(3));
        SendMessageW(handle_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(margin, margin));
    }
    if (desc.kind == TControlKind::Memo) SendMessageW(handle_, EM_SETLIMITTEXT, 0, 0);
    if (desc.kind == TControlKind::SpinEdit) {
        // The common controls library (its up-down control) loads with the first
        // window that has one, not before the installer's window shows.
        static const bool commonControls = [] {
            INITCOMMONCONTROLSEX cc{sizeof cc, ICC_UPDOWN_CLASS};
            return InitCommonControlsEx(&cc) != FALSE;
        }();
        (void)commonControls;
        upDown_ = CreateWindowExW(0, UPDOWN_CLASSW, nullptr,
                                  WS_CHILD | (desc.visible ? WS_VISIBLE : 0) | UDS_SETBUDDYINT | UDS_ALIGNRIGHT |
                                      UDS_ARROWKEYS | UDS_NOTHOUSANDS | UDS_HOTTRACK,
                                  0, 0, 0, 0, ParentHandle(), nullptr, Instance(), nullptr);
        SendMessageW(upDown_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(handle_), 0);
        SetSpinRange(0, 65535);
    }
}

void TControl::MakeDeferredWindow()
{
    if (handle_ || Windowless()) return;
    // Below the last sibling made before it that has its window: the order of making.
    HWND after = HWND_TOP;
    for (auto& c : form_->Components()) {
        if (c.get() == this) break;
        if (c->Parent() == Parent() && c->handle_) after = c->handle_;
    }
    MakeWindow(after);
}

HWND TControl::ParentHandle() const { return spec_.parent ? spec_.parent->Handle() : form_->Handle(); }

void TControl::SetBounds(int left, int top, int width, int height)
{
    spec_.left = left;
    spec_.top = top;
    spec_.width = width;
    spec_.height = height;
    PlaceWindow();
    if (spec_.anchors & akRight) rightGap_ = form_->Unscale(ClientRect(ParentHandle()).right) - (left + width);
}

void TControl::PlaceWindow()
{
    // Edges rather than sizes are scaled, so controls that touch keep touching.
    const TCustomForm& f = *form_;
    int left = f.Scale(spec_.left), top = f.Scale(spec_.top);
    MoveTo(left, top, f.Scale(spec_.left + spec_.width) - left, f.Scale(spec_.top + spec_.height) - top);
    // The arrows take their place at the edit's right edge again.
    if (upDown_) SendMessageW(upDown_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(handle_), 0);
}

void TControl::PlaceAligned(int left, int top, int width, int height)
{
    // The aligned side keeps its design figure; the others follow the parent.
    if (spec_.align != TAlign::Top && spec_.align != TAlign::Bottom) spec_.height = form_->Unscale(height);
    spec_.left = form_->Unscale(left);
    spec_.top = form_->Unscale(top);
    spec_.width = form_->Unscale(width);
    MoveTo(left, top, width, height);
}

void TControl::MoveTo(int left, int top, int width, int height)
{
    if (!PaintedByParent()) {
        MoveWindow(handle_, left, top, width, height, TRUE);
        return;
    }
    Invalidate();
    place_ = {left, top, left + width, top + height};
    Invalidate();
}

void TControl::ApplyDpi()
{
    font_ = form_->FontHandle(spec_.font ? *spec_.font : form_->Font());
    if (handle_) SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    if (spec_.kind == TControlKind::Edit && handle_) {
        WORD margin = static_cast<WORD>(form_->Scale(3));
        SendMessageW(handle_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(margin, margin));
    }
    if (spec_.align == TAlign::None) PlaceWindow();
    if (spec_.autoSize) ApplyAutoSize();
    FitText();
    Invalidate();
}

RECT TControl::WindowBounds() const
{
    if (PaintedByParent()) return place_;
    RECT r{};
    GetWindowRect(handle_, &r);
    MapWindowPoints(nullptr, ParentHandle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void TControl::SetVisible(bool visible)
{
    spec_.visible = visible;
    if (PaintedByParent()) {
        InvalidateRect(ParentHandle(), &place_, TRUE);
        return;
    }
    if (!visible && (GetFocus() == handle_ || IsChild(handle_, GetFocus()))) {
        // Hiding the focused control would leave the keys nowhere.
        ::SetFocus(form_->Handle());
    }
    ShowWindow(handle_, visible ? SW_SHOWNA : SW_HIDE);
    if (upDown_) ShowWindow(upDown_, visible ? SW_SHOWNA : SW_HIDE);
}

bool TControl::Enabled() const { return PaintedByParent() ? enabled_ : IsWindowEnabled(handle_) != 0; }

void TControl::SetEnabled(bool enabled)
{
    enabled_ = enabled;
    if (handle_) EnableWindow(handle_, enabled);
    if (upDown_) EnableWindow(upDown_, enabled);
    Invalidate();
}

void TControl::SetFocus()
{
    if (handle_)
        ::SetFocus(handle_);
    else if (!Windowless())
        form_->SetActiveControl(this);  // focused as its window comes
}

WideString TControl::Text() const
{
    if (PaintedByParent()) return spec_.text;
    int n = GetWindowTextLengthW(handle_);
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
    int got = GetWindowTextW(handle_, buf.data(), n + 1);
    return WideString(reinterpret_cast<const char16_t*>(buf.data()), static_cast<size_t>(std::max(got, 0)));
}

void TControl::SetText(const WideString& text)
{
    if (PaintedByParent())
        spec_.text = text;
    else
        SetWindowTextW(handle_, W(text));
    if (spec_.autoSize) ApplyAutoSize();
    FitText();
    if (IsButtonKind() || PaintedByParent()) Invalidate();
}

void TControl::Invalidate()
{
    if (PaintedByParent())
        InvalidateRect(ParentHandle(), &place_, TRUE);
    else
        InvalidateRect(handle_, nullptr, TRUE);
}

void TControl::Repaint()
{
    if (PaintedByParent())
        RedrawWindow(ParentHandle(), &place_, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    else
        RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void TControl::SetChecked(bool checked)
{
    checked_ = checked;
    Invalidate();
    if (checked && spec_.kind == TControlKind::RadioButton)
        for (auto& c : form_->Components())
            if (c.get() != this && c->Kind() == TControlKind::RadioButton && c->Parent() == Parent() && c->checked_) {
                c->checked_ = false;
                c->Invalidate();
            }
}

void TControl::SetSpinRange(int minimum, int maximum)
{
    if (upDown_) SendMessageW(upDown_, UDM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}

void TControl::SetMax(int maximum)
{
    max_ = std::max(maximum, 0);
    position_ = std::clamp(position_, 0, max_);
    SetText(ZoSkin::PercentText(position_, max_));
    Invalidate();
}

void TControl::SetPosition(int position)
{
    position_ = std::clamp(position, 0, max_);
    SetText(ZoSkin::PercentText(position_, max_));
    Invalidate();
}

void TControl::SetPicture(std::shared_ptr<TPicture> picture)
{
    picture_ = std::move(picture);
    Repaint();
}

COLORREF TControl::Color() const
{
    if (spec_.color != clDefault) return spec_.color;
    return spec_.parent ? spec_.parent->Color() : form_->Color();
}

COLORREF TControl::FontColor() const
{
    return spec_.fontColor != clDefault ? spec_.fontColor : GetSysColor(COLOR_WINDOWTEXT);
}

void TControl::ApplyAutoSize()
{
    WideString text = Text();
    TWindowDC dc(handle_ ? handle_ : ParentHandle());
    TSelectObject select(dc.Get(), font_);
    RECT r{0, 0, 0, 0};
    DrawTextW(dc.Get(), W(text), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    // The text's own size in device pixels; the design figures round up to it.
    spec_.width = form_->UnscaleUp(r.right);
    spec_.height = form_->UnscaleUp(r.bottom);
    MoveTo(form_->Scale(spec_.left), form_->Scale(spec_.top), r.right, r.bottom);
}

int TControl::TextWidth() const
{
    WideString text = Text();
    TWindowDC dc(handle_ ? handle_ : ParentHandle());
    TSelectObject select(dc.Get(), font_);
    RECT r{0, 0, 0, 0};
    DrawTextW(dc.Get(), W(text), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    return form_->UnscaleUp(r.right);
}

void TControl::FitText()
{
    if (!spec_.fitText) return;
    // Room around the text: a button's edges; a box's mark and its gap.
    const int room = spec_.kind == TControlKind::Button ? 20 : 17;
    const int width = std::max(designWidth_, TextWidth() + room);
    if (width != spec_.width) SetBounds(spec_.left, spec_.top, width, spec_.height);
}

void TControl::Realign()
{
    // In device pixels, so aligned children fill their parent to the last pixel.
    RECT rest = ClientRect(handle_);
    int inner = form_->Scale(spec_.innerBorder);
    InflateRect(&rest, -inner, -inner);
    RECT full = ClientRect(handle_);
    for (auto& c : form_->Components()) {
        if (c->Parent() != this) continue;
        const TControlSpec& s = c->Desc();
        int height = form_->Scale(s.height);
        switch (s.align) {
        case TAlign::Top:
            c->PlaceAligned(rest.left, rest.top, rest.right - rest.left, height);
            rest.top += height;
            break;
        case TAlign::Bottom:
            c->PlaceAligned(rest.left, rest.bottom - height, rest.right - rest.left, height);
            rest.bottom -= height;
            break;
        default:
            if ((s.anchors & akRight) && !(s.anchors & akLeft)) {
                int right = full.right - form_->Scale(c->rightGap_);
                c->spec_.left = form_->Unscale(right) - s.width;
                c->PlaceWindow();
            }
            break;
        }
    }
    for (auto& c : form_->Components())
        if (c->Parent() == this && c->Desc().align == TAlign::Client)
            c->PlaceAligned(rest.left, rest.top, std::max(0L, rest.right - rest.left),
                            std::max(0L, rest.bottom - rest.top));
}

void TControl::TrackHot()
{
    if (hot_) return;
    hot_ = true;
    TRACKMOUSEEVENT t{};
    t.cbSize = sizeof t;
    t.dwFlags = TME_LEAVE;
    t.hwndTrack = handle_;
    TrackMouseEvent(&t);
    Invalidate();
}

void TControl::Paint(HDC dc, const RECT& area)
{
    const float scale = form_->ScaleFactor();
    switch (spec_.kind) {
    case TControlKind::Panel:
        ZoSkin::FillSolid(dc, area, Color());
        PaintWindowless(dc, area);
        break;
    case TControlKind::Image:
        ZoSkin::FillSolid(dc, area, Color());
        if (picture_) picture_->DrawCentred(dc, area, scale);
        if (painter_) painter_(dc, area, Color(), hot_, pressed_ && hot_, scale);
        break;
    case TControlKind::ProgressBar:
        ZoSkin::PaintProgress(dc, area, position_, max_, font_, Color(), scale);
        break;
    case TControlKind::Label:
        if (spec_.link)
            PaintLink(dc, area);
        else
            PaintLabel(dc, area);
        break;
    case TControlKind::Edit:
        PaintEdit(dc, area);  // only until its window comes: the window paints itself
        break;
    case TControlKind::Bevel: {
        ZoSkin::FillSolid(dc, area, Color());
        int line = std::max(1, form_->Scale(1));
        RECT dark{area.left, area.top, area.right, area.top + line},
            light{area.left, area.top + line, area.right, area.top + 2 * line};
        ZoSkin::FillSolid(dc, dark, GetSysColor(COLOR_BTNSHADOW));
        ZoSkin::FillSolid(dc, light, GetSysColor(COLOR_BTNHIGHLIGHT));
        break;
    }
    case TControlKind::Button:
    case TControlKind::CheckBox:
    case TControlKind::RadioButton: {
        ZoSkin::TButtonState state;
        state.hot = hot_;
        state.pressed = handle_ && (SendMessageW(handle_, BM_GETSTATE, 0, 0) & BST_PUSHED);
        state.enabled = Enabled();
        state.focused = handle_ && GetFocus() == handle_ && form_->KeyboardCues();
        if (spec_.kind == TControlKind::Button)
            ZoSkin::PaintButton(dc, area, Text(), font_, Color(), state, scale);
        else if (spec_.kind == TControlKind::CheckBox)
            ZoSkin::PaintCheckBox(dc, area, Text(), font_, Color(), FontColor(), checked_, state, scale);
        else
            ZoSkin::PaintRadioButton(dc, area, Text(), font_, Color(), FontColor(), checked_, state, scale);
        break;
    }
    default:
        break;
    }
}

void TControl::PaintLink(HDC dc, const RECT& area)
{
    // A link is a tab stop: it paints its own text so it can carry the focus mark.
    ZoSkin::FillSolid(dc, area, Color());
    WideString text = Text();
    TSelectObject select(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Enabled() ? FontColor() : GetSysColor(COLOR_GRAYTEXT));
    RECT r = area;
    DrawTextW(dc, W(text), static_cast<int>(text.size()), &r, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (handle_ && GetFocus() == handle_ && form_->KeyboardCues()) {
        SetTextColor(dc, FontColor());
        SetBkColor(dc, Color());
        DrawFocusRect(dc, &area);
    }
}

void TControl::PaintLabel(HDC dc, const RECT& area)
{
    // As the system's static control draws a label of the same styles.
    ZoSkin::FillSolid(dc, area, Color());
    UINT format = DT_EXPANDTABS | DT_NOPREFIX;
    if (spec_.textAlign == TTextAlign::Centre)
        format |= DT_CENTER | DT_WORDBREAK;
    else
        format |= spec_.vcentre ? DT_LEFT | DT_WORDBREAK : DT_LEFT;
    if (spec_.vcentre) format |= DT_SINGLELINE | DT_VCENTER;
    if (spec_.ellipsis) format |= DT_SINGLELINE | DT_END_ELLIPSIS;
    TSelectObject select(dc, font_);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, enabled_ ? FontColor() : GetSysColor(COLOR_GRAYTEXT));
    RECT r = area;
    DrawTextW(dc, W(spec_.text), static_cast<int>(spec_.text.size()), &r, format);
}

void TControl::PaintEdit(HDC dc, const RECT& area)
{
    // As the system's edit box shows its text before anyone scrolls it: it
    // draws its border itself, in the frame colour, and keeps the border's
    // width again between it and the text, then the margins.
    ZoSkin::FillSolid(dc, area, EditColor());
    RECT inner = area;
    if (spec_.border) {
        const int bx = GetSystemMetrics(SM_CXBORDER), by = GetSystemMetrics(SM_CYBORDER);
        const COLORREF frame = GetSysColor(COLOR_WINDOWFRAME);
        ZoSkin::FillSolid(dc, {area.left, area.top, area.right, area.top + by}, frame);
        ZoSkin::FillSolid(dc, {area.left, area.bottom - by, area.right, area.bottom}, frame);
        ZoSkin::FillSolid(dc, {area.left, area.top, area.left + bx, area.bottom}, frame);
        ZoSkin::FillSolid(dc, {area.right - bx, area.top, area.right, area.bottom}, frame);
        InflateRect(&inner, -2 * bx, -2 * by);
    }
    const int margin = form_->Scale(3);
    RECT r{inner.left + margin, inner.top, inner.right - margin, inner.bottom};
    TSelectObject select(dc, font_);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, EditColor());
    SetTextColor(dc, enabled_ ? FontColor() : GetSysColor(COLOR_GRAYTEXT));
    // It sets its text run by run (letters, digits, the rest), each run on its
    // own background: the next run covers what a glyph reaches past its own.
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.left, r.top, r.right, r.bottom);
    const WideString& text = spec_.text;
    int x = r.left;
    for (size_t from = 0; from < text.size() && x < r.right;) {
        size_t to = from + 1;
        while (to < text.size() && EditRunKind(text[to]) == EditRunKind(text[from])) ++to;
        SIZE size{};
        const int count = static_cast<int>(to - from);
        GetTextExtentPoint32W(dc, W(text) + from, count, &size);
        RECT run{x, r.top, x + size.cx, r.bottom};
        ExtTextOutW(dc, x, r.top, ETO_OPAQUE, &run, W(text) + from, static_cast<UINT>(count), nullptr);
        x += size.cx;
        from = to;
    }
    RestoreDC(dc, saved);
}

void TControl::PaintWindowless(HDC dc, const RECT& area)
{
    // The first made is the top one: paint from the last up, the windowless
    // ones first (a window, once there, lies on everything its panel paints).
    const auto& all = form_->Components();
    for (bool windowless : {true, false}) {
        for (auto it = all.rbegin(); it != all.rend(); ++it) {
            TControl& c = **it;
            RECT common{};
            if (c.Parent() != this || !c.PaintedByParent() || c.Windowless() != windowless || !c.Visible() ||
                !IntersectRect(&common, &area, &c.place_))
                continue;
            const int saved = SaveDC(dc);
            IntersectClipRect(dc, c.place_.left, c.place_.top, c.place_.right, c.place_.bottom);
            c.Paint(dc, c.place_);
            RestoreDC(dc, saved);
        }
    }
}

COLORREF TControl::EditColor() const { return spec_.color != clDefault ? spec_.color : GetSysColor(COLOR_WINDOW); }

COLORREF TControl::FrameColor() const
{
    return spec_.kind == TControlKind::Panel ? RGB(0, 120, 200) : RGB(171, 186, 201);
}

TControl* TControl::WindowlessAt(POINT pt) const
{
    // Labels let the mouse through, as windowed ones do; pictures take it.
    for (auto& c : form_->Components())
        if (c->Parent() == this && c->Windowless() && c->Visible() && c->Kind() == TControlKind::Image &&
            PtInRect(&c->place_, pt))
            return c.get();
    return nullptr;
}

void TControl::SetHotChild(TControl* child)
{
    if (child == hotChild_) return;
    if (hotChild_) {
        hotChild_->hot_ = false;
        hotChild_->Invalidate();
    }
    hotChild_ = child;
    if (!child) return;
    child->hot_ = true;
    child->Invalidate();
    TRACKMOUSEEVENT t{};
    t.cbSize = sizeof t;
    t.dwFlags = TME_LEAVE;
    t.hwndTrack = handle_;
    TrackMouseEvent(&t);
}

bool TControl::WindowlessMouse(UINT msg, LPARAM lp)
{
    const POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    switch (msg) {
    case WM_MOUSEMOVE:
        // While the button is down only the pressed picture lights up, and only under the mouse.
        SetHotChild(pressedChild_ ? (PtInRect(&pressedChild_->place_, pt) ? pressedChild_ : nullptr) : WindowlessAt(pt));
        return false;
    case WM_MOUSELEAVE:
        SetHotChild(nullptr);
        return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        TControl* c = WindowlessAt(pt);
        if (!c) return false;
        if (c->OnMouseDown) {
            c->OnMouseDown();
        } else if (msg == WM_LBUTTONDOWN && c->OnClick) {
            pressedChild_ = c;
            c->pressed_ = true;
            SetCapture(handle_);
            SetHotChild(c);
            c->Invalidate();
        }
        return true;
    }
    case WM_LBUTTONUP: {
        TControl* c = pressedChild_;
        if (!c) return false;
        pressedChild_ = nullptr;
        c->pressed_ = false;
        ReleaseCapture();
        c->Invalidate();
        if (PtInRect(&c->place_, pt) && c->Visible() && c->OnClick) c->OnClick();
        return true;
    }
    case WM_CAPTURECHANGED:
        if (pressedChild_ && reinterpret_cast<HWND>(lp) != handle_) {
            pressedChild_->pressed_ = false;
            pressedChild_->Invalidate();
            pressedChild_ = nullptr;
        }
        return false;
    default:
        return false;
    }
}

LRESULT TControl::AnswerQuery(LPARAM question) const
{
    switch (question) {
    case wqState:
        return 1 | (spec_.visible ? 2 : 0) | (enabled_ ? 4 : 0);
    case wqLeft:
        return place_.left;
    case wqTop:
        return place_.top;
    case wqRight:
        return place_.right;
    case wqBottom:
        return place_.bottom;
    case wqParentId:
        return spec_.parent ? spec_.parent->Id() : 0;
    case wqTextLength:
        return static_cast<LRESULT>(spec_.text.size());
    default:
        if (question >= wqTextChar && static_cast<size_t>(question - wqTextChar) < spec_.text.size())
            return spec_.text[static_cast<size_t>(question - wqTextChar)];
        return 0;
    }
}

void TControl::PaintBuffered(HDC dc, const RECT& area)
{
    if (!doubleBuffered_ || area.right <= area.left || area.bottom <= area.top) {
        Paint(dc, area);
        return;
    }
    TUniqueMemoryDC memory(CreateCompatibleDC(dc));
    TUniqueBitmap bitmap(CreateCompatibleBitmap(dc, area.right - area.left, area.bottom - area.top));
    if (!memory || !bitmap) {
        Paint(dc, area);
        return;
    }
    {
        TSelectObject select(memory.Get(), bitmap.Get());
        SetWindowOrgEx(memory.Get(), area.left, area.top, nullptr);
        Paint(memory.Get(), area);
        SetWindowOrgEx(memory.Get(), 0, 0, nullptr);
        BitBlt(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, memory.Get(), 0, 0, SRCCOPY);
    }
}

LRESULT TControl::WndProc(UINT msg, WPARAM wp, LPARAM lp)
{
    auto base = [&] {
        return baseProc_ ? CallWindowProcW(baseProc_, handle_, msg, wp, lp) : DefWindowProcW(handle_, msg, wp, lp);
    };
    if (spec_.kind == TControlKind::Panel && WindowlessMouse(msg, lp)) return 0;
    switch (msg) {
    case WM_ERASEBKGND:
        if (!baseProc_ || spec_.link) return 1;
        break;
    case WM_PAINT:
        if (!baseProc_ || spec_.link) {
            TPaintScope ps(handle_);
            PaintBuffered(ps.DC(), ClientRect(handle_));
            return 0;
        }
        break;
    case WM_NCPAINT:
        if (spec_.border) {
            // A flat frame in a soft grey-blue instead of the black default.
            LRESULT r = base();
            HDC dc = GetWindowDC(handle_);
            RECT wr{};
            GetWindowRect(handle_, &wr);
            OffsetRect(&wr, -wr.left, -wr.top);
            TUniqueBrush brush(CreateSolidBrush(FrameColor()));
            FrameRect(dc, &wr, brush.Get());
            ReleaseDC(handle_, dc);
            return r;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (OnMouseDown && !baseProc_) {
            OnMouseDown();
            return 0;
        }
        if (spec_.kind == TControlKind::Image && msg == WM_LBUTTONDOWN && OnClick) {
            pressed_ = true;
            SetCapture(handle_);
            Invalidate();
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (spec_.kind == TControlKind::Image && pressed_) {
            pressed_ = false;
            ReleaseCapture();
            Invalidate();
            POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            RECT cr = ClientRect(handle_);
            if (PtInRect(&cr, pt) && OnClick) OnClick();
            return 0;
        }
        break;
    case WM_CAPTURECHANGED:
        if (pressed_ && reinterpret_cast<HWND>(lp) != handle_) {
            pressed_ = false;
            Invalidate();
        }
        break;
    case WM_MOUSEMOVE:
        if (spec_.kind == TControlKind::Image || IsButtonKind()) TrackHot();
        break;
    case WM_MOUSELEAVE:
        hot_ = false;
        Invalidate();
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (IsButtonKind() || spec_.link) Invalidate();
        break;
    case WM_SIZE:
        if (spec_.kind == TControlKind::Panel) Realign();
        if (!baseProc_) Invalidate();
        break;
    case WM_COMMAND:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_SETCURSOR:
        if (spec_.kind == TControlKind::Panel) {
            LRESULT result = 0;
            if (form_->ChildNotify(msg, wp, lp, result)) return result;
        }
        break;
    case BM_GETCHECK:
        if (IsButtonKind() && spec_.kind != TControlKind::Button) return checked_ ? BST_CHECKED : BST_UNCHECKED;
        break;
    case BM_SETCHECK:
        if (IsButtonKind() && spec_.kind != TControlKind::Button) {
            SetChecked(wp == BST_CHECKED);
            return 0;
        }
        break;
    case PBM_SETPOS:
        if (spec_.kind == TControlKind::ProgressBar) {
            int old = position_;
            SetPosition(static_cast<int>(wp));
            return old;
        }
        break;
    case PBM_GETPOS:
        if (spec_.kind == TControlKind::ProgressBar) return position_;
        break;
    case PBM_SETRANGE32:
        if (spec_.kind == TControlKind::ProgressBar) {
            SetMax(static_cast<int>(lp));
            return 0;
        }
        break;
    case PBM_GETRANGE:
        if (spec_.kind == TControlKind::ProgressBar) return wp ? 0 : max_;
        break;
    default:
        break;
    }
    return base();
}

// ---- TCustomForm ------------------------------------------------------------------

TCustomForm::TCustomForm(TCustomForm* owner, const TFormSpec& desc) : owner_(owner), spec_(desc)
{
    RegisterZoWindowClasses();
    RegisterFormClass(desc.className);
    DWORD style = WS_CLIPCHILDREN, exStyle = WS_EX_CONTROLPARENT;
    switch (desc.border) {
    case TBorderStyle::None:
        style |= WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX;
        break;
    case TBorderStyle::Sizeable:
        style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | (desc.minimizeBox ? WS_MINIMIZEBOX : 0) |
                 (desc.maximizeBox ? WS_MAXIMIZEBOX : 0);
        break;
    case TBorderStyle::Dialog:
        style |= WS_POPUP | WS_CAPTION | WS_SYSMENU;
        exStyle |= WS_EX_DLGMODALFRAME;
        break;
    }
    if (desc.appWindow) exStyle |= WS_EX_APPWINDOW;
    // New windows open on the primary monitor, whose DPI is the system's.
    dpi_ = SystemDpi();
    RECT r = WindowRectForClient(Scale(desc.clientWidth), Scale(desc.clientHeight), style, exStyle, dpi_);
    background_.Reset(CreateSolidBrush(desc.color));
    LiveForms().push_back(this);
    handle_ = CreateWindowExW(exStyle, desc.className, W(desc.caption), style, CW_USEDEFAULT, CW_USEDEFAULT,
                              r.right - r.left, r.bottom - r.top, owner ? owner->Handle() : nullptr, nullptr,
                              Instance(), this);
    if (!handle_) {
        LiveForms().erase(std::find(LiveForms().begin(), LiveForms().end(), this));
        throw EOSError(FormatText(u"Error creating window %s (%s)",
                                  {WideString(reinterpret_cast<const char16_t*>(desc.className)), IntToStr(GetLastError())}));
    }
    if (int actual = WindowDpi(handle_); actual != dpi_) ApplyDpi(actual);
}

TCustomForm::~TCustomForm()
{
    destroying_ = true;
    if (handle_) DestroyWindow(handle_);
    auto& forms = LiveForms();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    if (Application.MainForm() == this) Application.SetMainForm(nullptr);
}

TCustomForm* TCustomForm::FromWindow(HWND window)
{
    HWND root = GetAncestor(window, GA_ROOT);
    for (TCustomForm* f : LiveForms())
        if (f->handle_ == root) return f;
    return nullptr;
}

TControl* TCustomForm::AddControl(const TControlSpec& desc)
{
    components_.push_back(std::make_unique<TControl>(this, desc));
    TControl* c = components_.back().get();
    c->SetDoubleBuffered(doubleBuffered_);
    if (desc.align != TAlign::None) {
        if (desc.parent)
            desc.parent->Realign();
        else
            Realign();
    }
    return c;
}

void TCustomForm::SetActiveControl(TControl* control)
{
    activeControl_ = control;
    savedFocus_ = control ? control->Handle() : nullptr;
}

void TCustomForm::MakeDeferredWindows()
{
    if (!deferWindows_) return;
    deferWindows_ = false;
    // Made by index: a window's creation may reach code that adds controls.
    for (size_t i = 0; i < components_.size(); ++i) components_[i]->MakeDeferredWindow();
    if (activeControl_ && !savedFocus_) savedFocus_ = activeControl_->Handle();
    // Activated meanwhile, the window kept the focus itself: the control takes it now.
    if (GetActiveWindow() != handle_) return;
    HWND focus = GetFocus();
    if (focus && focus != handle_) return;
    HWND target = savedFocus_ && IsWindowVisible(savedFocus_) ? savedFocus_ : GetNextDlgTabItem(handle_, nullptr, FALSE);
    if (target) ::SetFocus(target);
}

TControl* TCustomForm::ControlById(int id) const
{
    for (auto& c : components_)
        if (c->Id() == id) return c.get();
    return nullptr;
}

TControl* TCustomForm::ControlByHandle(HWND handle) const
{
    if (!handle) return nullptr;  // windowless controls have none
    for (auto& c : components_)
        if (c->Handle() == handle) return c.get();
    return nullptr;
}

int TCustomForm::ClientWidth() const { return Unscale(ClientRect(handle_).right); }
int TCustomForm::ClientHeight() const { return Unscale(ClientRect(handle_).bottom); }

int TCustomForm::Width() const
{
    RECT r{};
    GetWindowRect(handle_, &r);
    return Unscale(r.right - r.left);
}

int TCustomForm::UnscaleUp(int pixels) const { return (pixels * 96 + dpi_ - 1) / dpi_; }

HFONT TCustomForm::FontHandle(const TFontSpec& font)
{
    const TFontKey key{font.role, font.height, font.bold, font.underline};
    for (const auto& [known, made] : fonts_)
        if (known == key) return made.Get();
    HFONT made = CreateFontW(-Scale(font.height), 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, font.underline, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                             DEFAULT_PITCH, W(Application.FontFace(font.role)));
    fonts_.emplace_back(key, TUniqueFont(made));
    return made;
}

WideString TCustomForm::Caption() const
{
    wchar_t buf[512] = {};
    int n = GetWindowTextW(handle_, buf, 512);
    return WideString(reinterpret_cast<const char16_t*>(buf), static_cast<size_t>(std::max(n, 0)));
}

void TCustomForm::SetCaption(const WideString& caption) { SetWindowTextW(handle_, W(caption)); }

void TCustomForm::CentreOnScreen()
{
    RECT wr{};
    GetWindowRect(handle_, &wr);
    int w = wr.right - wr.left, h = wr.bottom - wr.top;
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(handle_, nullptr, (sw - w) / 2, (sh - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TCustomForm::Show()
{
    if (!shownOnce_) {
        shownOnce_ = true;
        CentreOnScreen();
    }
    ShowWindow(handle_, SW_SHOW);
    SetForegroundWindow(handle_);
    UpdateWindow(handle_);
    FormShow();
}

void TCustomForm::Hide() { ShowWindow(handle_, SW_HIDE); }

void TCustomForm::Close()
{
    if (modal_) {
        modalResult_ = kModalCancel;
        return;
    }
    if (!CloseQuery()) return;
    Hide();
    if (Application.MainForm() == this) Application.Terminate();
}

HWND TCustomForm::OwnerHandle() const { return reinterpret_cast<HWND>(GetWindowLongPtrW(handle_, GWLP_HWNDPARENT)); }

void TCustomForm::SetOwnerHandle(HWND owner)
{
    SetWindowLongPtrW(handle_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
}

void TCustomForm::Realign()
{
    RECT rest = ClientRect(handle_);
    for (auto& c : components_) {
        if (c->Parent()) continue;
        const TControlSpec& s = c->Desc();
        int height = Scale(s.height);
        if (s.align == TAlign::Top) {
            c->PlaceAligned(rest.left, rest.top, rest.right - rest.left, height);
            rest.top += height;
        } else if (s.align == TAlign::Bottom) {
            c->PlaceAligned(rest.left, rest.bottom - height, rest.right - rest.left, height);
            rest.bottom -= height;
        }
    }
    for (auto& c : components_)
        if (!c->Parent() && c->Desc().align == TAlign::Client)
            c->PlaceAligned(rest.left, rest.top, std::max(0L, rest.right - rest.left),
                            std::max(0L, rest.bottom - rest.top));
}

void TCustomForm::ApplyDpi(int dpi, const RECT* suggested)
{
    if (dpi <= 0) return;
    const int width = ClientWidth(), height = ClientHeight();
    dpi_ = dpi;
    // The controls still use the old fonts until they are handed the new ones.
    std::vector<std::pair<TFontKey, TUniqueFont>> oldFonts;
    oldFonts.swap(fonts_);
    if (suggested) {
        SetWindowPos(handle_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        DWORD style = static_cast<DWORD>(GetWindowLongW(handle_, GWL_STYLE));
        DWORD exStyle = static_cast<DWORD>(GetWindowLongW(handle_, GWL_EXSTYLE));
        RECT r = WindowRectForClient(Scale(width), Scale(height), style, exStyle, dpi_);
        SetWindowPos(handle_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (auto& c : components_) c->ApplyDpi();
    Realign();
    for (auto& c : components_)
        if (c->Kind() == TControlKind::Panel) c->Realign();
    LayOutTexts();
    RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

int TCustomForm::ShowModal()
{
    // The toolkit's own modal show: every other window of the program is disabled.
    if (Visible() || !IsWindowEnabled(handle_) || modal_)
        throw EInvalidOperation(u"Cannot make a visible window modal");
    std::vector<HWND> disabled;
    EnumThreadWindows(
        GetCurrentThreadId(),
        // WINAPI: a callback is stdcall in 32-bit code.
        [](HWND w, LPARAM list) WINAPI -> BOOL {
            if (IsWindowVisible(w) && IsWindowEnabled(w)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&disabled));
    disabled.erase(std::remove(disabled.begin(), disabled.end(), handle_), disabled.end());
    for (HWND w : disabled) EnableWindow(w, FALSE);
    HWND active = GetActiveWindow();
    modal_ = true;
    Application.ModalStarted();
    int result = 0;
    try {
        result = RunModalLoop();
    } catch (...) {
        for (HWND w : disabled) EnableWindow(w, TRUE);
        Hide();
        modal_ = false;
        Application.ModalFinished();
        throw;
    }
    for (HWND w : disabled) EnableWindow(w, TRUE);
    Hide();
    if (active && IsWindow(active)) SetActiveWindow(active);
    modal_ = false;
    Application.ModalFinished();
    return result;
}

int TCustomForm::RunModalLoop()
{
    Show();
    modalResult_ = 0;
    do {
        Application.HandleMessage();
        if (Application.Terminated()) {
            modalResult_ = kModalCancel;
        } else if (modalResult_ != 0) {
            try {
                if (!CloseQuery()) modalResult_ = 0;
            } catch (const std::exception& e) {
                modalResult_ = 0;
                Application.HandleException(e);
            }
        }
    } while (modalResult_ == 0);
    return modalResult_;
}

bool TCustomForm::PreTranslate(MSG& msg)
{
    if (spec_.keyPreview) {
        bool alt = msg.message == WM_SYSKEYDOWN || GetKeyState(VK_MENU) < 0;
        KeyDown(static_cast<WORD>(msg.wParam), alt);
    }
    return DialogKey(msg);
}

bool TCustomForm::DialogKey(const MSG& msg)
{
    if (msg.message != WM_KEYDOWN) return false;
    HWND focus = GetFocus();
    TControl* focused = ControlByHandle(focus);
    switch (msg.wParam) {
    case VK_TAB: {
        if (GetKeyState(VK_CONTROL) < 0) return false;
        keyboardCues_ = true;
        HWND next = GetNextDlgTabItem(handle_, focus && IsChild(handle_, focus) ? focus : nullptr,
                                      GetKeyState(VK_SHIFT) < 0);
        if (next) ::SetFocus(next);
        return true;
    }
    case VK_RETURN:
        if (focused && focused->Kind() == TControlKind::Memo && !(GetWindowLongW(focus, GWL_STYLE) & ES_READONLY))
            return false;
        if (focused && (focused->Kind() == TControlKind::Button || focused->Desc().link)) {
            Clicked(focused);
            return true;
        }
        for (auto& c : components_)
            if (c->Desc().defaultButton && IsWindowVisible(c->Handle()) && c->Enabled()) {
                Clicked(c.get());
                return true;
            }
        return false;
    case VK_SPACE:
        if (focused && focused->Desc().link) {
            Clicked(focused);
            return true;
        }
        return false;
    case VK_ESCAPE:
        for (auto& c : components_)
            if (c->Desc().cancelButton && IsWindowVisible(c->Handle()) && c->Enabled()) {
                Clicked(c.get());
                return true;
            }
        return false;
    default:
        return false;
    }
}

void TCustomForm::Clicked(TControl* control)
{
    // A hidden or disabled control gives no click, also not a programmatic one.
    if (!IsWindowVisible(control->Handle()) || !IsWindowEnabled(control->Handle())) return;
    if (control->Kind() == TControlKind::CheckBox) control->SetChecked(!control->Checked());
    if (control->Kind() == TControlKind::RadioButton) control->SetChecked(true);
    if (control->Desc().modalResult) modalResult_ = control->Desc().modalResult;
    if (control->OnClick) {
        try {
            control->OnClick();
        } catch (const std::exception& e) {
            Application.HandleException(e);
        }
    }
}

bool TCustomForm::ChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result)
{
    switch (msg) {
    case WM_COMMAND: {
        TControl* c = ControlByHandle(reinterpret_cast<HWND>(lp));
        if (!c) return false;
        WORD code = HIWORD(wp);
        bool button = c->IsButtonKind();
        if ((button && code == BN_CLICKED) || (c->Kind() == TControlKind::Label && code == STN_CLICKED)) {
            Clicked(c);
            result = 0;
            return true;
        }
        return false;
    }
    case WM_DRAWITEM: {
        auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        TControl* c = ControlByHandle(item->hwndItem);
        if (!c) return false;
        c->PaintBuffered(item->hDC, item->rcItem);
        result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
        TControl* c = ControlByHandle(reinterpret_cast<HWND>(lp));
        if (!c) return false;
        HDC dc = reinterpret_cast<HDC>(wp);
        COLORREF back = c->Kind() == TControlKind::Memo || c->Kind() == TControlKind::Edit ||
                                c->Kind() == TControlKind::SpinEdit
                            ? c->EditColor()
                            : c->Color();
        SetTextColor(dc, c->FontColor());
        SetBkColor(dc, back);
        auto found = std::find_if(brushes_.begin(), brushes_.end(), [back](const auto& b) { return b.first == back; });
        if (found == brushes_.end()) found = brushes_.emplace(brushes_.end(), back, TUniqueBrush(CreateSolidBrush(back)));
        result = reinterpret_cast<LRESULT>(found->second.Get());
        return true;
    }
    case WM_SETCURSOR: {
        TControl* c = ControlByHandle(reinterpret_cast<HWND>(wp));
        if (c && c->Desc().link && LOWORD(lp) == HTCLIENT) {
            SetCursor(Application.HandCursor());
            result = TRUE;
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

bool TCustomForm::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT TCustomForm::WndProc(UINT msg, WPARAM wp, LPARAM lp)
{
    LRESULT result = 0;
    if (HandleMessage(msg, wp, lp, result)) return result;
    static const UINT windowlessQuery = RegisterWindowMessageW(ZO_WINDOWLESS_QUERY);
    if (msg == windowlessQuery && windowlessQuery) {
        if (wp == 0 && lp == wqWindowsToCome) return deferWindows_ ? 1 : 0;
        for (auto& c : components_)
            if (c->Windowless() && c->Id() == static_cast<int>(wp)) return c->AnswerQuery(lp);
        return 0;
    }
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r = ClientRect(handle_);
        FillRect(reinterpret_cast<HDC>(wp), &r, background_.Get());
        return 1;
    }
    case WM_COMMAND:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_SETCURSOR:
        if (ChildNotify(msg, wp, lp, result)) return result;
        break;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_SYSCOMMAND:
        // A window without a caption has no menu to show: Alt must not enter
        // an invisible menu mode that eats the next keys.
        if ((wp & 0xFFF0) == SC_KEYMENU && spec_.border == TBorderStyle::None) return 0;
        break;
    case WM_SIZE:
        Realign();
        break;
    case WM_DPICHANGED:
        // The window moved to a monitor of another DPI, or the user changed the scale.
        ApplyDpi(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(handle_, focus)) savedFocus_ = focus;
        } else if (!deferWindows_) {
            // Activation gives the focus back to the control that had it, or
            // to the first control in the tab order. (While the controls'
            // windows are still to come, the window keeps it.)
            HWND target = savedFocus_ && IsWindow(savedFocus_) && IsChild(handle_, savedFocus_) &&
                                  IsWindowVisible(savedFocus_)
                              ? savedFocus_
                              : GetNextDlgTabItem(handle_, nullptr, FALSE);
            if (target) {
                ::SetFocus(target);
                return 0;
            }
        }
        break;
    case WM_WINDOWPOSCHANGING:
        if (spec_.screenSnap) {
            // Snap to the work area's edges within 10 pixels.
            auto* pos = reinterpret_cast<WINDOWPOS*>(lp);
            RECT wr{};
            GetWindowRect(handle_, &wr);
            int w = wr.right - wr.left, h = wr.bottom - wr.top;
            bool moveOnly = (pos->flags & SWP_NOSIZE) || (pos->cx == w && pos->cy == h);
            if (!(pos->flags & SWP_NOMOVE) && moveOnly && IsWindowVisible(handle_)) {
                RECT wa{};
                SystemParametersInfoW(SPI_GETWORKAREA, 0, &wa, 0);
                if (std::abs(pos->x - wa.left) < 10) pos->x = wa.left;
                if (std::abs(pos->x + w - wa.right) < 10) pos->x = wa.right - w;
                if (std::abs(pos->y - wa.top) < 10) pos->y = wa.top;
                if (std::abs(pos->y + h - wa.bottom) < 10) pos->y = wa.bottom - h;
            }
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(handle_, msg, wp, lp);
}
