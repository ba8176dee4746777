#include "ChangesDialog.h"

#include <vector>

#include "Dpi.h"
#include "OpenWindows.h"
#include "core/Messages.h"
#include "core/Update.h"
#include "resource.h"

namespace velmoor {

namespace {

constexpr COLORREF kText = RGB(0, 192, 0);
constexpr COLORREF kBackground = RGB(0, 0, 0);
constexpr int kClientWidth = 7785;  // twips
constexpr int kClientHeight = 4515;

// Not IDOK and IDCANCEL: Enter in the text box must not upgrade. Escape and the close box send
// IDCANCEL, which skips the upgrade: whoever started the launcher wants the application.
enum ControlId { kOKButton = 101, kCancelButton, kTxtChanges, kLabel1, kLabel2, kLabel3, kImage1 };

struct Place {
    int id;
    int left, top, width, height;  // twips within the client area
};
constexpr Place kPlaces[] = {
    {kOKButton, 5640, 120, 1935, 375},    {kCancelButton, 5640, 600, 1935, 375},
    {kTxtChanges, 120, 1200, 7515, 3135}, {kLabel1, 1320, 120, 4095, 255},
    {kLabel2, 1320, 480, 4095, 375},      {kLabel3, 1320, 840, 4215, 375},
    {kImage1, 240, 240, 825, 825},
};

const Place& placeOf(int id) {
    for (const Place& place : kPlaces) {
        if (place.id == id) return place;
    }
    return kPlaces[0];
}

bool isLabel(int id) {
    return id >= kLabel1 && id <= kLabel3;
}

// Wine lays out about 30,000 lines a second, and each part costs more the longer the text
// already is: the first part shows at once, and the further parts are as large as keeps the
// dialog answering within a fifth of a second.
constexpr std::size_t kFirstChangesLines = 500;
constexpr std::size_t kChangesLinesPerPart = 5000;
constexpr UINT_PTR kChangesTimer = 1;

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

// A template without controls: they are placed in twips once the dialog knows the screen's
// resolution, which dialog units cannot express.
std::vector<WORD> dialogTemplate() {
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* header = reinterpret_cast<DLGTEMPLATE*>(words.data());
    header->style = kDialogStyle;
    // Owned by the splash window, it would lose the taskbar entry an unowned dialog has.
    header->dwExtendedStyle = WS_EX_APPWINDOW;
    words.push_back(0);  // no menu
    words.push_back(0);  // the standard dialog class
    for (const wchar_t* c = L"Whats new?"; *c; ++c) words.push_back(static_cast<WORD>(*c));
    words.push_back(0);
    return words;
}

FontHandle msSansSerif(int dotsPerInch, int weight) {
    // 8.25 points
    return FontHandle(::CreateFontW(-::MulDiv(825, dotsPerInch, 7200), 0, 0, 0, weight, FALSE,
                                    FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                                    L"MS Sans Serif"));
}

}  // namespace

ChangesDialog::ChangesDialog(HINSTANCE instance, UpdateHost& owner)
    : instance_(instance), owner_(owner) {}

ChangesDialog::~ChangesDialog() {
    if (!window_) return;
    // Gone with the launcher at its end: no handler is to run for it any more.
    ::SetWindowLongPtrW(window_, DWLP_USER, 0);
    ::DestroyWindow(window_);
}

bool ChangesDialog::create(HWND ownerWindow) {
    const std::vector<WORD> form = dialogTemplate();
    const HWND window =
        ::CreateDialogIndirectParamW(instance_, reinterpret_cast<const DLGTEMPLATE*>(form.data()),
                                     ownerWindow, dialogProc, reinterpret_cast<LPARAM>(this));
    if (!window) return false;
    windowOpened();
    return true;
}

void ChangesDialog::disown() {
    if (window_) ::SetWindowLongPtrW(window_, GWLP_HWNDPARENT, 0);
}

void ChangesDialog::show() {
    ::ShowWindow(window_, SW_SHOW);
    ::SetForegroundWindow(window_);
}

void ChangesDialog::setChanges(const std::wstring& text) {
    // The box holds 32K characters unless told otherwise; a long changes file must not be cut.
    ::SendMessageW(txtChanges_, EM_SETLIMITTEXT, 0, 0);
    changesShown_ = changesPartEnd(text, 0, kFirstChangesLines);
    if (changesShown_ == text.size()) {
        ::SetWindowTextW(txtChanges_, text.c_str());
        return;
    }
    pendingChanges_ = text;
    ::SetWindowTextW(txtChanges_, pendingChanges_.substr(0, changesShown_).c_str());
    // A timer's turn comes after the user's input, so the dialog stays usable meanwhile.
    ::SetTimer(window_, kChangesTimer, USER_TIMER_MINIMUM, nullptr);
}

void ChangesDialog::appendChangesPart() {
    const std::size_t end = changesPartEnd(pendingChanges_, changesShown_, kChangesLinesPerPart);
    const std::wstring part = pendingChanges_.substr(changesShown_, end - changesShown_);
    // Appending moves the selection, and with it the view, to the end: the user's place is
    // kept, and nothing is drawn until it is back.
    DWORD selectionStart = 0;
    DWORD selectionEnd = 0;
    ::SendMessageW(txtChanges_, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
                   reinterpret_cast<LPARAM>(&selectionEnd));
    const LRESULT firstLine = ::SendMessageW(txtChanges_, EM_GETFIRSTVISIBLELINE, 0, 0);
    ::SendMessageW(txtChanges_, WM_SETREDRAW, FALSE, 0);
    const int length = ::GetWindowTextLengthW(txtChanges_);
    ::SendMessageW(txtChanges_, EM_SETSEL, length, length);
    ::SendMessageW(txtChanges_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(part.c_str()));
    ::SendMessageW(txtChanges_, EM_SETSEL, selectionStart, selectionEnd);
    ::SendMessageW(txtChanges_, EM_LINESCROLL, 0,
                   firstLine - ::SendMessageW(txtChanges_, EM_GETFIRSTVISIBLELINE, 0, 0));
    ::SendMessageW(txtChanges_, WM_SETREDRAW, TRUE, 0);
    ::RedrawWindow(txtChanges_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);

    changesShown_ = end;
    if (changesShown_ < pendingChanges_.size()) return;
    ::KillTimer(window_, kChangesTimer);
    pendingChanges_ = std::wstring();
}

void ChangesDialog::Update() {
    owner_.installUpdate(remoteName_, localName_);
}

bool ChangesDialog::isDialogMessage(MSG& message) {
    return window_ && ::IsDialogMessageW(window_, &message);
}

INT_PTR CALLBACK ChangesDialog::dialogProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<ChangesDialog*>(lParam);
        dialog->window_ = window;
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    }
    auto* dialog = reinterpret_cast<ChangesDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (!dialog) return FALSE;
    try {
        return dialog->onMessage(message, wParam, lParam);
    } catch (...) {
        // An exception must not unwind through the system's frames.
        return FALSE;
    }
}

INT_PTR ChangesDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            onInitDialog();
            return FALSE;  // the focus is set already
        case WM_COMMAND:
            onCommand(LOWORD(wParam));
            return TRUE;
        case WM_TIMER:
            if (wParam == kChangesTimer) appendChangesPart();
            return TRUE;
        case WM_DPICHANGED:
            onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
            return TRUE;
        case WM_CTLCOLORDLG:
            return reinterpret_cast<INT_PTR>(::GetStockObject(BLACK_BRUSH));
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            return onControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_NCDESTROY:
            onNcDestroy();
            return FALSE;
        default:
            return FALSE;
    }
}

void ChangesDialog::onInitDialog() {
    dotsPerInch_ = windowDpi(window_);
    const HICON icon = ::LoadIconW(instance_, MAKEINTRESOURCEW(IDI_VELMOOR));
    ::SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    labelFont_ = msSansSerif(dotsPerInch_, FW_BOLD);
    controlFont_ = msSansSerif(dotsPerInch_, FW_NORMAL);

    // Created in tab order.
    const HWND okButton = createControl(L"Button", L"Upgrade", WS_TABSTOP | BS_PUSHBUTTON,
                                        kOKButton, controlFont_.get());
    createControl(L"Button", L"Skip Upgrade", WS_TABSTOP | BS_PUSHBUTTON, kCancelButton,
                  controlFont_.get());
    txtChanges_ = createControl(
        L"Edit", L"",
        WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
        kTxtChanges, controlFont_.get());
    // The third label reaches 15 twips into the text box. The labels lie below the text box
    // and leave out what lies above them, so their opaque background keeps off its border.
    const DWORD labelStyle = SS_LEFT | WS_CLIPSIBLINGS;
    label1_ = createControl(L"Static", std::wstring(kUpdateAvailable).c_str(), labelStyle, kLabel1,
                            labelFont_.get());
    const HWND label2 = createControl(L"Static", std::wstring(kInstallNow).c_str(), labelStyle,
                                      kLabel2, labelFont_.get());
    const HWND label3 = createControl(L"Static", std::wstring(kLookBelow).c_str(), labelStyle,
                                      kLabel3, labelFont_.get());
    for (const HWND label : {label1_, label2, label3}) {
        ::SetWindowPos(label, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    // Stretched to its place, which grows with the resolution.
    const HWND image =
        createControl(L"Static", L"", SS_BITMAP | SS_REALSIZECONTROL, kImage1, nullptr);
    picture_.reset(static_cast<HBITMAP>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(IDB_CHANGES_PICTURE), IMAGE_BITMAP, 0, 0, 0)));
    ::SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));

    RECT frame{0, 0, pixels(kClientWidth), pixels(kClientHeight)};
    ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongW(window_, GWL_STYLE)), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(window_, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    ::SetWindowPos(window_, nullptr, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                   (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetFocus(okButton);
}

HWND ChangesDialog::createControl(const wchar_t* windowClass, const wchar_t* text, DWORD style,
                                  int id, HFONT font) {
    const Place& place = placeOf(id);
    const HWND control =
        ::CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, pixels(place.left),
                          pixels(place.top), pixels(place.width), pixels(place.height), window_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (control && font) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

// Moved to a monitor of another resolution: every control and font at that scale, the window
// where and as large as the system suggests.
void ChangesDialog::onDpiChanged(int dotsPerInch, const RECT& suggested) {
    dotsPerInch_ = dotsPerInch;
    FontHandle labelFont = msSansSerif(dotsPerInch_, FW_BOLD);
    FontHandle controlFont = msSansSerif(dotsPerInch_, FW_NORMAL);
    for (const Place& place : kPlaces) {
        const HWND control = ::GetDlgItem(window_, place.id);
        ::SetWindowPos(control, nullptr, pixels(place.left), pixels(place.top), pixels(place.width),
                       pixels(place.height), SWP_NOZORDER | SWP_NOACTIVATE);
        if (place.id == kImage1) continue;
        const HFONT font = isLabel(place.id) ? labelFont.get() : controlFont.get();
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    // The controls hold the new fonts before the old ones go.
    labelFont_ = std::move(labelFont);
    controlFont_ = std::move(controlFont);
    ::SetWindowPos(window_, nullptr, suggested.left, suggested.top,
                   suggested.right - suggested.left, suggested.bottom - suggested.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

int ChangesDialog::pixels(int twips) const {
    return ::MulDiv(twips, dotsPerInch_, 1440);
}

void ChangesDialog::onCommand(int id) {
    switch (id) {
        case kOKButton:
            OKButton_Click();
            break;
        case kCancelButton:
        case IDCANCEL:
            CancelButton_Click();
            break;
        default:
            break;
    }
}

INT_PTR ChangesDialog::onControlColour(HDC dc, HWND control) {
    ::SetTextColor(dc, kText);
    if (!isLabel(::GetDlgCtrlID(control))) {
        ::SetBkColor(dc, kBackground);
        return reinterpret_cast<INT_PTR>(::GetStockObject(BLACK_BRUSH));
    }
    const int systemColour = control == label1_ ? COLOR_MENUTEXT : COLOR_BTNTEXT;
    ::SetBkColor(dc, ::GetSysColor(systemColour));
    return reinterpret_cast<INT_PTR>(::GetSysColorBrush(systemColour));
}

// The splash window shows the copy's progress, and the launch follows its outcome. Neither button
// takes a second click while its work runs: a box that the work shows belongs to the splash
// window and would leave the dialog enabled.
void ChangesDialog::OKButton_Click() {
    ::EnableWindow(window_, FALSE);
    Update();
    ::DestroyWindow(window_);
}

void ChangesDialog::CancelButton_Click() {
    ::EnableWindow(window_, FALSE);
    owner_.launchApplication();
    ::DestroyWindow(window_);
}

void ChangesDialog::onNcDestroy() {
    window_ = nullptr;
    txtChanges_ = nullptr;
    owner_.changesDialogClosed();
    windowClosed();
}

}  // namespace velmoor
