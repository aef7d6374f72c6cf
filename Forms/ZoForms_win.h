// A small window layer over plain Win32: the application object with its
// message loop, forms (top-level windows) and their controls (real child
// windows with stable control IDs, or passive labels and pictures that their
// panel draws; a form may have its panels draw its controls until it makes
// their windows). Forms dispatch to named handlers; the
// controls paint in the flat "Athen" look of ZoSkin_win.
//
// Every figure a form or control is given or reports (positions, sizes, font
// heights) is in design pixels at 96 pixels per inch; the layer scales them by
// the window's DPI and lays the window out again when that changes.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "ZoTypes.h"
#include "ZoWinHandles_win.h"

class TCustomForm;
class TPicture;

ZO_DECLARE_ERROR(EInvalidOperation, Exception);

// Modal results the layer itself sets (the close box and Esc give Cancel).
constexpr int kModalOk = 1;
constexpr int kModalCancel = 2;

// ---- Application ----------------------------------------------------------------

// Headings and big buttons are set in the display face, everything else in the text face.
enum class TFontRole : uint8_t { Display, Text };

class TApplication {
public:
    // The title the window captions and message boxes use: the executable's
    // file name without its extension unless set.
    WideString Title() const;
    void SetTitle(const WideString& title) { title_ = title; }

    bool Terminated() const { return terminated_; }
    void Terminate();
    // Handles every pending message once, then returns.
    void ProcessMessages();
    // Waits for one message and handles it.
    void HandleMessage();
    // The message loop: runs until Terminate or WM_QUIT.
    void Run();

    // The default error report: a message box with the error text, or the
    // handler set by SetExceptionHandler (the silent mode's console line).
    void HandleException(const std::exception& error);
    void SetExceptionHandler(std::function<void(const WideString&)> handler) { onException_ = std::move(handler); }

    void ModalStarted() { ++modalLevel_; }
    void ModalFinished() { --modalLevel_; }
    int ModalLevel() const { return modalLevel_; }

    TCustomForm* MainForm() const { return mainForm_; }
    void SetMainForm(TCustomForm* form) { mainForm_ = form; }

    HCURSOR HandCursor() const;

    // The faces the language's texts are set in, each a list of faces
    // separated by ";": the first one installed is used, the last one as it
    // is when none is. Until set, the display face is "微软雅黑", the text face Tahoma.
    void SetFontFaces(const WideString& displayFaces, const WideString& textFaces);
    const WideString& FontFace(TFontRole role) const { return role == TFontRole::Display ? displayFace_ : textFace_; }

private:
    bool Dispatch(MSG& msg);

    WideString title_;
    WideString displayFace_ = u"微软雅黑";
    WideString textFace_ = u"Tahoma";
    bool terminated_ = false;
    int modalLevel_ = 0;
    TCustomForm* mainForm_ = nullptr;
    std::function<void(const WideString&)> onException_;
};

extern TApplication Application;

// ---- Controls -------------------------------------------------------------------

enum class TControlKind { Panel, Label, Image, Edit, Memo, Button, CheckBox, RadioButton, SpinEdit, ProgressBar, Bevel };
enum class TAlign { None, Top, Bottom, Client };
enum TAnchor : int { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
enum class TTextAlign { Left, Centre };

struct TFontSpec {
    TFontRole role = TFontRole::Text;  // the face: the application's for the role
    int height = 12;  // character height in pixels
    bool bold = false;
    bool underline = false;
};

constexpr COLORREF clDefault = CLR_INVALID;

class TControl;

// The design of one control; the form makes its window from it.
struct TControlSpec {
    TControlKind kind = TControlKind::Label;
    int id = 0;
    const char* name = "";
    // Passive labels and pictures on a panel: no window of their own, the panel
    // draws them and passes them its mouse (each child window costs its share
    // of the start). Never a tab stop, never aligned.
    bool windowless = false;
    TControl* parent = nullptr;  // null: the form itself
    int left = 0, top = 0, width = 0, height = 0;
    WideString text = {};
    const TFontSpec* font = nullptr;  // null: the form's font
    COLORREF color = clDefault;       // background; labels take their parent's
    COLORREF fontColor = clDefault;   // text; default the window-text colour
    bool visible = true;
    bool tabStop = false;
    TTextAlign textAlign = TTextAlign::Left;
    bool vcentre = false;   // labels: one line, centred vertically
    bool ellipsis = false;  // labels: one line ending in "..." when it does not fit
    bool autoSize = false;  // labels: width and height from the text
    bool fitText = false;   // buttons, check boxes, radio buttons: widened to their text, never narrowed
    bool link = false;      // labels: clickable, hand cursor, a tab stop with a focus mark
    bool border = false;    // panels and edits: a flat 1-pixel frame
    TAlign align = TAlign::None;
    int anchors = akLeft | akTop;
    int innerBorder = 0;  // panels: space kept free at every edge for aligned children
    bool defaultButton = false;
    bool cancelButton = false;
    int modalResult = 0;  // buttons: set on the form when clicked
};

// Paints the content of an image control without a picture (the corner
// glyphs); scale is the window's DPI over 96.
using TPainter = std::function<void(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed, float scale)>;

class TControl {
public:
    TControl(TCustomForm* form, const TControlSpec& desc);
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    HWND Handle() const { return handle_; }  // null when windowless, or until its form makes it
    bool Windowless() const { return spec_.windowless; }
    // Drawn by its panel: windowless, or a control whose window is still to come.
    bool PaintedByParent() const { return handle_ == nullptr; }
    int Id() const { return spec_.id; }
    const char* Name() const { return spec_.name; }
    TControlKind Kind() const { return spec_.kind; }
    const TControlSpec& Desc() const { return spec_; }
    TCustomForm* Form() const { return form_; }
    TControl* Parent() const { return spec_.parent; }
    HWND ParentHandle() const;

    int Left() const { return spec_.left; }
    int Top() const { return spec_.top; }
    int Width() const { return spec_.width; }
    int Height() const { return spec_.height; }
    void SetBounds(int left, int top, int width, int height);
    void SetLeft(int left) { SetBounds(left, spec_.top, spec_.width, spec_.height); }
    void SetWidth(int width) { SetBounds(spec_.left, spec_.top, width, spec_.height); }
    // Bounds within the parent's client area, from the window itself (device pixels).
    RECT WindowBounds() const;
    // The test driver's questions about a windowless control (ControlIds.h).
    LRESULT AnswerQuery(LPARAM question) const;

    bool Visible() const { return spec_.visible; }
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const;
    void SetEnabled(bool enabled);
    void SetFocus();

    WideString Text() const;
    void SetText(const WideString& text);
    // Paints the control at once, without waiting for the message loop.
    void Repaint();
    void Invalidate();

    // Check boxes and radio buttons; checking a radio button unchecks the
    // other radio buttons of the same parent.
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);
    // Spin edits: whole numbers within the range, step 1.
    void SetSpinRange(int minimum, int maximum);

    void SetMax(int maximum);
    int Max() const { return max_; }
    void SetPosition(int position);
    int Position() const { return position_; }

    void SetPicture(std::shared_ptr<TPicture> picture);
    void SetPainter(TPainter painter) { painter_ = std::move(painter); }

    COLORREF Color() const;  // own background, or the parent's
    COLORREF FontColor() const;
    HFONT Font() const { return font_; }
    bool DoubleBuffered() const { return doubleBuffered_; }
    void SetDoubleBuffered(bool on) { doubleBuffered_ = on; }
    bool Hot() const { return hot_; }
    bool IsButtonKind() const
    {
        return spec_.kind == TControlKind::Button || spec_.kind == TControlKind::CheckBox ||
               spec_.kind == TControlKind::RadioButton;
    }
    bool Pressed() const { return pressed_; }

    std::function<void()> OnClick;
    std::function<void()> OnMouseDown;

    // Window procedure of the layer's own classes and of subclassed buttons.
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    // The window procedure learns the handle before CreateWindowExW returns it.
    void AttachHandle(HWND handle) { handle_ = handle; }
    // A control whose form made it without a window (TCustomForm::DeferWindows)
    // gets it now, as its state is (text, place, shown, enabled, checked).
    void MakeDeferredWindow();
    void Paint(HDC dc, const RECT& area);  // the content, in client coordinates (a windowless one's: its parent's)
    void ApplyAutoSize();
    void FitText();
    // The text's width in design pixels, measured in the control's font at the window's DPI.
    int TextWidth() const;
    void Realign();  // aligned and anchored children after a size change
    // After a DPI change: the font at the new size, the window at its scaled place.
    void ApplyDpi();

private:
    friend class TCustomForm;
    void TrackHot();
    void PaintBuffered(HDC dc, const RECT& area);
    void PaintLink(HDC dc, const RECT& area);
    void PaintLabel(HDC dc, const RECT& area);
    void PaintEdit(HDC dc, const RECT& area);
    // Panels: the children without a window, bottom one first.
    void PaintWindowless(HDC dc, const RECT& area);
    // The window its TControlSpec describes; insertAfter places it among its siblings.
    void MakeWindow(HWND insertAfter);
    COLORREF EditColor() const;   // edits: the box's background
    COLORREF FrameColor() const;  // bordered panels and edits: the flat frame
    // Panels: the mouse for the windowless picture under it; true when used up.
    bool WindowlessMouse(UINT msg, LPARAM lp);
    TControl* WindowlessAt(POINT pt) const;
    void SetHotChild(TControl* child);
    // The window, or a windowless control's place, to device bounds in the parent.
    void MoveTo(int left, int top, int width, int height);
    // Puts the window at its design bounds, scaled.
    void PlaceWindow();
    // Aligned controls: a place given in device pixels by the parent's layout.
    void PlaceAligned(int left, int top, int width, int height);

    TCustomForm* form_;
    TControlSpec spec_;
    HWND handle_ = nullptr;
    WNDPROC baseProc_ = nullptr;  // subclassed system controls
    HWND upDown_ = nullptr;       // a spin edit's arrows (a sibling window)
    RECT place_{};                // windowless: device bounds in the parent's client area
    bool enabled_ = true;         // windowless
    TControl* hotChild_ = nullptr;      // panels: the windowless picture under the mouse
    TControl* pressedChild_ = nullptr;  // panels: the one the left button went down on
    HFONT font_ = nullptr;
    bool checked_ = false;
    int max_ = 100;
    int position_ = 0;
    bool hot_ = false;
    bool pressed_ = false;
    bool doubleBuffered_ = false;
    int rightGap_ = 0;  // anchored right: distance to the parent's right edge
    int designWidth_ = 0;  // fitText: the narrowest the control gets
    std::shared_ptr<TPicture> picture_;
    TPainter painter_;
};

// ---- Forms ----------------------------------------------------------------------

enum class TBorderStyle { None, Sizeable, Dialog };

// How a form is made; TBaseForm fills in the common defaults.
struct TFormSpec {
    const wchar_t* className = L"TForm";  // the window class: the form's class name
    WideString caption;
    int clientWidth = 588, clientHeight = 369;
    TBorderStyle border = TBorderStyle::Sizeable;
    bool minimizeBox = true, maximizeBox = true;
    bool appWindow = false;  // a taskbar button of its own (the main window)
    TFontSpec font;
    COLORREF color = GetSysColor(COLOR_BTNFACE);
    bool keyPreview = true;
    bool screenSnap = true;
};

class TCustomForm {
public:
    TCustomForm(TCustomForm* owner, const TFormSpec& desc);
    virtual ~TCustomForm();
    TCustomForm(const TCustomForm&) = delete;
    TCustomForm& operator=(const TCustomForm&) = delete;

    HWND Handle() const { return handle_; }
    TCustomForm* Owner() const { return owner_; }
    const TFormSpec& FormSpec() const { return spec_; }

    TControl* AddControl(const TControlSpec& desc);
    TControl* ControlById(int id) const;
    TControl* ControlByHandle(HWND handle) const;
    // Every control, in the order the form made them (the ownership order).
    const std::vector<std::unique_ptr<TControl>>& Components() const { return components_; }

    int ClientWidth() const;
    int ClientHeight() const;
    int Width() const;
    COLORREF Color() const { return spec_.color; }
    // The font at the window's DPI.
    HFONT FontHandle(const TFontSpec& font);

    // Pixels per inch of the monitor the window is on; design figures are for 96.
    int Dpi() const { return dpi_; }
    int Scale(int design) const { return MulDiv(design, dpi_, 96); }
    int Unscale(int pixels) const { return MulDiv(pixels, 96, dpi_); }
    int UnscaleUp(int pixels) const;
    float ScaleFactor() const { return float(dpi_) / 96.f; }
    // Lays the window out for another DPI: fonts, controls and, unless the
    // system suggests a window rectangle (WM_DPICHANGED), the window's size.
    void ApplyDpi(int dpi, const RECT* suggested = nullptr);
    const TFontSpec& Font() const { return spec_.font; }
    WideString Caption() const;
    void SetCaption(const WideString& caption);

    bool Visible() const { return IsWindowVisible(handle_) != 0; }
    void Show();
    void Hide();
    void Close();  // modal: modal result Cancel; otherwise the close query, then hide or end
    bool DoubleBuffered() const { return doubleBuffered_; }
    void SetDoubleBuffered(bool on) { doubleBuffered_ = on; }
    // The control the window's next activation focuses (at first: the first tab stop).
    void SetActiveControl(TControl* control);
    // The system's controls on a panel (buttons, boxes, edits, labels) added
    // from now on get no window until MakeDeferredWindows: the panel paints
    // them as they will look, so a window can paint before the common controls
    // library loads and its child windows are made. Meanwhile they take no input.
    void DeferWindows() { deferWindows_ = true; }
    bool DefersWindows() const { return deferWindows_; }
    // Makes the deferred windows, in the stacking and tab order of their making,
    // and focuses the active control when the window is active.
    void MakeDeferredWindows();
    // Focus marks show once the keyboard has moved the focus, as in Windows.
    bool KeyboardCues() const { return keyboardCues_; }

    int ModalResult() const { return modalResult_; }
    void SetModalResult(int result) { modalResult_ = result; }
    bool IsModal() const { return modal_; }
    void SetModal(bool modal) { modal_ = modal; }
    HWND OwnerHandle() const;
    void SetOwnerHandle(HWND owner);

    // Shows the form modally; the modal result.
    virtual int ShowModal();
    // Asked before the form closes; false keeps it open.
    virtual bool CloseQuery() { return true; }
    // Key preview: every key press in the form comes here first.
    virtual void KeyDown(WORD key, bool alt) { (void)key, (void)alt; }
    // Tab, Enter and Esc: moving the focus, default and cancel buttons. True when handled.
    virtual bool DialogKey(const MSG& msg);
    // Form-specific messages (private messages, ...); true when handled.
    virtual bool HandleMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
    virtual void FormShow() {}
    // Places what depends on measured texts; again after every DPI change.
    virtual void LayOutTexts() {}

    // From the message loop: key preview and dialog keys; true when the
    // message was used up.
    bool PreTranslate(MSG& msg);

    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
    void AttachHandle(HWND handle) { handle_ = handle; }
    // Notifications that controls and panels pass up: WM_COMMAND, WM_DRAWITEM,
    // WM_CTLCOLOR*, WM_SETCURSOR. True when handled.
    bool ChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

    // The form that owns a window (its top-level ancestor), or null.
    static TCustomForm* FromWindow(HWND window);

    // Shows the form and handles messages until a modal result is set and
    // the close query agrees; the caller hides it. The modal result.
    int RunModalLoop();

protected:
    void CentreOnScreen();
    void Realign();

private:
    void Clicked(TControl* control);

    TCustomForm* owner_;
    TFormSpec spec_;
    HWND handle_ = nullptr;
    std::vector<std::unique_ptr<TControl>> components_;
    int dpi_ = 96;
    // A handful of each, found by a look along the list.
    struct TFontKey {
        TFontRole role;
        int height;
        bool bold, underline;
        bool operator==(const TFontKey&) const = default;
    };
    std::vector<std::pair<TFontKey, TUniqueFont>> fonts_;
    std::vector<std::pair<COLORREF, TUniqueBrush>> brushes_;
    HWND savedFocus_ = nullptr;
    TControl* activeControl_ = nullptr;  // its window may be still to come
    TUniqueBrush background_;
    int modalResult_ = 0;
    bool modal_ = false;
    bool shownOnce_ = false;
    bool doubleBuffered_ = false;
    bool destroying_ = false;
    bool keyboardCues_ = false;
    bool deferWindows_ = false;
};

// Registers the layer's window classes once; called by the first form.
void RegisterZoWindowClasses();
