#pragma once
#include "Com.h"

#include <string>

#include <windows.h>

#include <docobj.h>
#include <downloadmgr.h>
#include <exdisp.h>

namespace viewer {

// What the pages may do, from the output's settings.
struct BrowserPolicy {
    bool hideScrollbars = false;
    bool contextMenu = true;
    bool copy = true;
    bool find = true;
    bool print = true;
    bool zoom = true;
};

// Whether a key press is kept from the page: copy, find, print and zoom
// keys where the policy forbids them, and the keys that would lead out of
// the viewer (a new window, opening another address) always.
bool IsBlockedKey(const BrowserPolicy& policy, WPARAM key, bool control);

// What the window hears from the browser, on the user-interface thread.
class BrowserEvents {
public:
    virtual ~BrowserEvents() = default;
    virtual void TitleChanged(const std::wstring& title) = 0;
    virtual void StatusTextChanged(const std::wstring& text) = 0;
    // Back (CSC_NAVIGATEBACK) or Forward (CSC_NAVIGATEFORWARD) became
    // possible or impossible.
    virtual void HistoryChanged(long command, bool enabled) = 0;
    // Before the browser goes to `url`, in the whole view (`topLevel`) or in
    // one of the page's frames: true when the window took care of it, and
    // the browser stays where it is.
    virtual bool BeforeNavigate(const std::wstring& url, bool topLevel) = 0;
    // A page asked for a new window; the viewer keeps to its one window.
    virtual void NewWindowRequested(const std::wstring& url) = 0;
    // A script called window.close().
    virtual void CloseRequested() = 0;
    // The engine wanted to save `url` as a file; it was not let.
    virtual void DownloadRefused(const std::wstring& url) = 0;
};

// The WebBrowser control in place inside `parent`, with the viewer's own
// client site, document host handler, event sink and security manager.
// Life cycle: construct (the control is made and activated; throws
// qv::Error when it cannot be), Navigate, and destroy before `parent`.
class Browser {
public:
    Browser(HWND parent, const BrowserPolicy& policy, BrowserEvents& events);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    void Navigate(const std::wstring& url);
    void Reload();
    // `window` is the control's own or one inside it, where the page's input goes.
    bool HasWindow(HWND window) const;
    void SetBounds(const RECT& bounds);
    void GoBack();
    void GoForward();
    // A command of the page: OLECMDID_COPY, _FIND, _PRINT, _OPTICAL_ZOOM.
    void Execute(OLECMDID command, OLECMDEXECOPT option, VARIANT* in = nullptr);
    // Gives a key message to the page first, as a control in place wants;
    // true when the page used it.
    bool TranslateKey(MSG& msg);

private:
    class Site;
    void Teardown();
    Site* site_ = nullptr;
    ComPtr<IOleObject> object_;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IConnectionPoint> eventPoint_;
    DWORD cookie_ = 0;
    HWND window_ = nullptr;
};

} // namespace viewer
