#include "ZoVclUtils_win.h"

#include <shlobj.h>

#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinUtils_win.h"
#include "ZoWinText_win.h"

namespace {

// The screen cursor is the arrow while a modal window or box is up.
class TArrowCursor {
public:
    TArrowCursor() : saved_(GetCursor()) { SetCursor(LoadCursorW(nullptr, IDC_ARROW)); }
    ~TArrowCursor() { SetCursor(saved_); }
    TArrowCursor(const TArrowCursor&) = delete;
    TArrowCursor& operator=(const TArrowCursor&) = delete;

private:
    HCURSOR saved_;
};

class TModalState {
public:
    TModalState() { Application.ModalStarted(); }
    ~TModalState() { Application.ModalFinished(); }
    TModalState(const TModalState&) = delete;
    TModalState& operator=(const TModalState&) = delete;
};

// Makes a window the owner of a form for one scope.
class TOwnerSwap {
public:
    TOwnerSwap(TCustomForm* form, HWND owner) : form_(form), previous_(form->OwnerHandle())
    {
        form->SetOwnerHandle(owner);
    }
    ~TOwnerSwap() { form_->SetOwnerHandle(previous_); }
    TOwnerSwap(const TOwnerSwap&) = delete;
    TOwnerSwap& operator=(const TOwnerSwap&) = delete;

private:
    TCustomForm* form_;
    HWND previous_;
};

int CALLBACK BrowseCallback(HWND window, UINT msg, LPARAM, LPARAM data)
{
    if (msg == BFFM_INITIALIZED && data) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

int TZoVclfn::ShowModalOver(TCustomForm* window, HWND owner)
{
    if (!owner || !IsWindow(owner)) AssertFailure(u"Assertion failure", "Common/ZoVclUtils", 1070);
    HWND top = GetAncestor(owner, GA_ROOT);
    TOwnerSwap swap(window, top);
    if (window->Visible() || !IsWindowEnabled(window->Handle()) || window->IsModal())
        throw EInvalidOperation(u"Cannot make a visible window modal");
    if (HWND capture = GetCapture()) SendMessageW(capture, WM_CANCELMODE, 0, 0);
    ReleaseCapture();

    TModalState modalState;
    window->SetModal(true);
    HWND active = GetActiveWindow();
    TArrowCursor cursor;
    EnableWindow(top, FALSE);
    int result = 0;
    try {
        result = window->RunModalLoop();
    } catch (...) {
        EnableWindow(top, TRUE);
        window->Hide();
        window->SetModal(false);
        throw;
    }
    if (GetActiveWindow() != window->Handle()) active = nullptr;
    // The owner is enabled before the window hides, so that activation goes
    // back to it and not to some other program.
    EnableWindow(top, TRUE);
    window->Hide();
    if (active && IsWindow(active)) SetActiveWindow(active);
    window->SetModal(false);
    return result;
}

void TZoVclfn::ShowInfo(HWND owner, const WideString& text)
{
    TArrowCursor cursor;
    TModalState modalState;
    TZoWinfn::ShowInfoBox(owner, text, Application.Title());
}

bool TZoVclfn::SelectDirectory(HWND parent, const WideString& caption, WideString& path)
{
    TZoPathDialog dialog;
    dialog.Caption = caption;
    dialog.Root.clear();
    dialog.Path = path;
    if (!dialog.Execute(parent)) return false;
    path = dialog.Path;
    return true;
}

void TZoVclfn::EnableDoubleBuffering(TCustomForm* form)
{
    form->SetDoubleBuffered(true);
    for (auto& c : form->Components()) c->SetDoubleBuffered(true);
}

void TZoVclfn::InvalidateAll(TCustomForm* form)
{
    InvalidateRect(form->Handle(), nullptr, TRUE);
    for (auto& c : form->Components()) c->Invalidate();
}

bool TZoPathDialog::Execute(HWND parent)
{
    if (!DirExists(Path)) Path.clear();
    TUniqueCoTaskMem buffer(CoTaskMemAlloc(MAX_PATH * sizeof(wchar_t)));
    if (!buffer) return false;
    auto* display = static_cast<wchar_t*>(buffer.Get());
    display[0] = L'\0';

    TUniqueCoTaskMem root;
    if (!Root.empty()) {
        TComPtr<IShellFolder> desktop;
        if (SUCCEEDED(SHGetDesktopFolder(desktop.Put()))) {
            LPITEMIDLIST list = nullptr;
            WideString rootCopy = Root;
            if (SUCCEEDED(desktop->ParseDisplayName(parent, nullptr, reinterpret_cast<LPWSTR>(rootCopy.data()),
                                                    nullptr, &list, nullptr)))
                root.Reset(list);
        }
    }

    BROWSEINFOW info{};
    info.hwndOwner = parent;
    info.pidlRoot = static_cast<PCIDLIST_ABSOLUTE>(root.Get());
    info.pszDisplayName = display;
    info.lpszTitle = W(Caption);
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    if (!Path.empty()) {
        info.lpfn = BrowseCallback;
        info.lParam = reinterpret_cast<LPARAM>(Path.c_str());
    }
    TUniqueCoTaskMem chosen;
    {
        TModalState modalState;
        UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
        chosen.Reset(SHBrowseForFolderW(&info));
        SetErrorMode(previousMode);
    }
    bool result = false;
    if (chosen) {
        wchar_t folder[MAX_PATH] = {};
        if (SHGetPathFromIDListW(static_cast<PCIDLIST_ABSOLUTE>(chosen.Get()), folder)) {
            Path = WithTrailingBackslash(WideString(reinterpret_cast<const char16_t*>(folder)));
            result = true;
        }
    }
    Application.ProcessMessages();
    return result;
}
