#pragma once
#include "Com.h"
#include "PageKeys.h"

#include <string>

#include <windows.h>

#include <docobj.h>
#include <downloadmgr.h>
#include <exdisp.h>

namespace viewer {

// The modifier keys down now, as the thread's input has them.
KeyModifiers ModifiersHeld();

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
    // The reader asked for the page's menu at `at` (screen), over a
    // selection or not; the window shows its own, as the settings allow.
    virtual void PageMenuRequested(POINT at, bool overSelection) = 0;
    // The page in the whole view is loaded.
    virtual void PageLoaded() = 0;
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
    // A command of the page: OLECMDID_COPY, _SELECTALL, _PRINT. False
    // when the control refused it.
    bool Execute(OLECMDID command, OLECMDEXECOPT option);
    // The find box; the document's own where the control has none. False
    // when neither shows one.
    bool ShowFind();
    // The selected text's next (or previous) match selected, when there is
    // a selection; false otherwise.
    bool FindAgain(bool forward);
    // The first match of `words` on the page selected and scrolled into
    // view, as the find box would leave it; false when there is none.
    bool ShowWords(const std::wstring& words);
    // The page's zoom in percent, by the control's optical zoom or the
    // document's own; false when neither took it.
    bool SetZoom(int percent);
    // The zoom the control reports, 0 when it does not.
    int Zoom() const;
    // Gives a key message to the page first, as a control in place wants;
    // true when the page used it.
    bool TranslateKey(MSG& msg);
    // The keyboard to the page, so that it scrolls and tabs from the first
    // moment; the parent calls it when it gets the focus.
    void Focus();
    // The parent window became active or inactive (WM_ACTIVATE).
    void FrameActivated(bool active);

private:
    class Site;
    void Teardown();
    ComPtr<IOleCommandTarget> DocumentCommands() const;
    HWND DocumentWindow() const;
    Site* site_ = nullptr;
    ComPtr<IOleObject> object_;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IConnectionPoint> eventPoint_;
    DWORD cookie_ = 0;
    HWND window_ = nullptr;
    HWND parent_ = nullptr;
};

} // namespace viewer
