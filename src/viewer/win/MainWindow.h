#pragma once
#include "BrowserHost.h"
#include "ClickToken.h"
#include "LinkOpener.h"
#include "OutputFile.h"
#include "OutsideRequests.h"
#include "WindowPlacement.h"

#include <memory>
#include <string>

#include <windows.h>

#include <commctrl.h>

namespace viewer {

// The viewer's window as the output's settings describe it: outer size
// ViewWidth x ViewHeight, the border (none, fixed, sizable, full screen),
// centred or not, a drop shadow, the output's icon, the toolbar with the
// buttons the settings allow (captions or not), the status bar, and the
// pages in the browser control below them, which have the keyboard. Escape leaves full screen for a
// sizable window.
//
// The window class is "QuorvaneViewer"; its caption is the page's title,
// the output's file name until a page names itself. The toolbar's buttons
// carry the command ids below and, with captions, the texts "Back",
// "Forward", "Home", "Print", "Find", "Search", "Text size" and "Copy";
// "Search" (and Ctrl+K) only where the output has a search index.
//
// The window's client area is ViewWidth x ViewHeight at 96 dots per inch,
// scaled to the monitor's resolution, and the window keeps to the
// monitor's work area. Ctrl+W and Ctrl+Q close it, whatever its frame.
//
// Files leave the view only for a navigation that follows the reader's
// click on the page or on Back, Forward or Home (see LinkOpener). The status
// bar's second part tells what was refused; when the pages wanted the
// internet, a click on it offers "Allow once" and "Always for this file"
// (see InternetConsent).
class MainWindow final : private BrowserEvents {
public:
    enum Command : int { Back = 101, Forward, Home, Print, Find, TextSize, Copy, SelectAll, Search };

    // Makes the window and its parts, hidden. Throws qv::Error.
    MainWindow(const OutputFile& output, LinkOpener& links);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Shows the window and goes to the home page.
    void Show();
    // The message loop, until the window is closed; the exit status.
    int Run();

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void BuildParts();
    void Release();
    void CreateToolbar();
    void UseToolbarImages();
    // Size and place for the settings at the window's resolution, on its
    // monitor; the whole monitor in full screen.
    void Place(bool centred);
    ScreenBox Placement(bool centred, DWORD style) const;
    int Scaled(int pixels) const;
    // True when the key press was the viewer's, not the page's.
    bool ActOnKey(const MSG& msg);
    bool IsOwnWindow(HWND window) const;
    void Layout();
    void RunCommand(int id);
    void LeaveFullScreen();
    void ShowZoomMenu(const RECT& button);
    HMENU MakeZoomMenu() const;
    void FindAgain(bool forward);
    std::wstring HomeUrl() const;

    void TitleChanged(const std::wstring& title) override;
    void StatusTextChanged(const std::wstring& text) override;
    void HistoryChanged(long command, bool enabled) override;
    bool BeforeNavigate(const std::wstring& url, bool topLevel) override;
    void NewWindowRequested(const std::wstring& url) override;
    void CloseRequested() override;
    void DownloadRefused(const std::wstring& url) override;
    void PageMenuRequested(POINT at, bool overSelection) override;
    void PageLoaded() override;

    void ArmOnInput(const MSG& msg);
    void ShowNotice(const std::wstring& text, bool offersInternet = false);
    void ShowNoticeMenu();
    const OutputFile& output_;
    LinkOpener& links_;
    const BrowserPolicy policy_;
    UINT dpi_ = 96;
    bool canGoBack_ = false;
    bool canGoForward_ = false;
    HWND window_ = nullptr;
    HWND toolbar_ = nullptr;
    HWND status_ = nullptr;
    HIMAGELIST images_ = nullptr;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    // Before the browser, so that it goes after it.
    std::unique_ptr<OutsideRequests> requests_;
    std::unique_ptr<Browser> browser_;
    ClickToken click_;
    bool offersInternet_ = false;
    std::wstring pendingUrl_;
    std::wstring pendingWords_; // shown once the pending page has loaded
    int zoom_ = 100;
    bool fullScreen_ = false;
};

} // namespace viewer
