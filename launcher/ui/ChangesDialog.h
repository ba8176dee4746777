#pragma once

#include <windows.h>

#include <string>

#include "WinHandles.h"
#include "core/Update.h"

namespace velmoor {

// The "Whats new?" dialog: offers the published jar with the text of its changes file. It is
// modeless and may outlive the splash window; its two buttons start the update or the launch,
// and close it, so that it takes no second click while the copy runs.
class ChangesDialog {
  public:
    // The dialog's buttons act on the launcher through the host that showed it, and tell it when
    // the dialog's window has gone, whichever way it was closed.
    ChangesDialog(HINSTANCE instance, UpdateHost& owner);
    ChangesDialog(const ChangesDialog&) = delete;
    ChangesDialog& operator=(const ChangesDialog&) = delete;
    ~ChangesDialog();

    // Creates the dialog's window, not yet shown, owned by the given window: the system and a
    // window manager keep it above its owner. False when it cannot be created.
    bool create(HWND ownerWindow);

    // Lets go of the owner, which would otherwise take the dialog along when it closes.
    void disown();

    // Shows the dialog centred on the screen and gives it the focus.
    void show();

    // Shows the first lines at once and the rest part by part while the dialog is up: the
    // text box of some systems takes seconds to lay out a text of many thousand lines.
    void setChanges(const std::wstring& text);
    void setRemoteName(std::wstring name) { remoteName_ = std::move(name); }
    void setLocalName(std::wstring name) { localName_ = std::move(name); }

    // Has the published jar copied over the installed one; the launcher shows the progress
    // and the outcome, and then launches.
    void Update();

    bool isOpen() const { return window_ != nullptr; }

    // Lets Tab, Enter and Escape work in the dialog; true when the message was the dialog's.
    bool isDialogMessage(MSG& message);

  private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void onInitDialog();
    void onDpiChanged(int dotsPerInch, const RECT& suggested);
    void onCommand(int id);
    INT_PTR onControlColour(HDC dc, HWND control);
    void onNcDestroy();
    void appendChangesPart();
    void OKButton_Click();
    void CancelButton_Click();

    HWND createControl(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id,
                       HFONT font);
    int pixels(int twips) const;

    HINSTANCE instance_;
    UpdateHost& owner_;
    HWND window_ = nullptr;
    HWND txtChanges_ = nullptr;
    HWND label1_ = nullptr;
    int dotsPerInch_ = 96;
    std::wstring pendingChanges_;
    std::size_t changesShown_ = 0;
    std::wstring remoteName_;
    std::wstring localName_;
    FontHandle labelFont_;
    FontHandle controlFont_;
    BitmapHandle picture_;
};

}  // namespace velmoor
