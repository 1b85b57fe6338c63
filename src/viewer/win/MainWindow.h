#pragma once
#include "BrowserHost.h"
#include "ClickToken.h"
#include "LinkOpener.h"
#include "OutputFile.h"
#include "OutsideRequests.h"

#include <memory>
#include <string>

#include <windows.h>

#include <commctrl.h>

namespace viewer {

// The viewer's window as the output's settings describe it: outer size
// ViewWidth x ViewHeight, the border (none, fixed, sizable, full screen),
// centred or not, a drop shadow, the output's icon, the toolbar with the
// buttons the settings allow (captions or not), the status bar, and the
// pages in the browser control below them. Escape leaves full screen for a
// sizable window.
//
// The window class is "QuorvaneViewer"; its caption is the page's title,
// the output's file name until a page names itself. The toolbar's buttons
// carry the command ids below and, with captions, the texts "Back",
// "Forward", "Home", "Print", "Find", "Text size" and "Copy".
//
// Files leave the view only for a navigation that follows the reader's
// click on the page or on Back, Forward or Home (see LinkOpener). The status
// bar's second part tells what was refused; when the pages wanted the
// internet, a click on it offers "Allow once" and "Always for this file"
// (see InternetConsent).
class MainWindow final : private BrowserEvents {
public:
    enum Command : int { Back = 101, Forward, Home, Print, Find, TextSize, Copy };

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
    void Layout();
    void RunCommand(int id);
    void LeaveFullScreen();
    void ShowZoomMenu(const RECT& button);
    std::wstring HomeUrl() const;

    void TitleChanged(const std::wstring& title) override;
    void StatusTextChanged(const std::wstring& text) override;
    void HistoryChanged(long command, bool enabled) override;
    bool BeforeNavigate(const std::wstring& url, bool topLevel) override;
    void NewWindowRequested(const std::wstring& url) override;
    void CloseRequested() override;
    void DownloadRefused(const std::wstring& url) override;

    void ArmOnInput(const MSG& msg);
    void ShowNotice(const std::wstring& text, bool offersInternet = false);
    void ShowNoticeMenu();
    const OutputFile& output_;
    LinkOpener& links_;
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
    int zoom_ = 100;
    bool fullScreen_ = false;
};

} // namespace viewer
