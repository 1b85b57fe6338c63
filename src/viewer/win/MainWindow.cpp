#include "MainWindow.h"

#include "InternetConsent.h"
#include "OutputIcon.h"
#include "SearchPages.h"
#include "SiteUrl.h"
#include "ToolbarImages.h"
#include "WinText.h"
#include "WindowPlacement.h"
#include "quorvane/base/Error.h"
#include "quorvane/viewercore/SearchPage.h"

#include <algorithm>
#include <utility>

#include <commctrl.h>

namespace viewer {

namespace {

constexpr wchar_t kClassName[] = L"QuorvaneViewer";
constexpr UINT kNavigatePending = WM_APP + 1;
constexpr UINT kRequestRefused = WM_APP + 2; // wParam: the RequestVerdict
constexpr int kAllowOnceCommand = 900;
constexpr int kAllowAlwaysCommand = 901;
constexpr int kZoomSteps[] = {50, 75, 100, 125, 150, 200};
constexpr int kZoomCommand = 1000; // + the percentage

struct ToolButton {
    MainWindow::Command id;
    ToolbarImage image;
    const wchar_t* text;
};

constexpr ToolButton kButtons[] = {
    {MainWindow::Back, ToolbarImage::Back, L"Back"},
    {MainWindow::Forward, ToolbarImage::Forward, L"Forward"},
    {MainWindow::Home, ToolbarImage::Home, L"Home"},
    {MainWindow::Print, ToolbarImage::Print, L"Print"},
    {MainWindow::Find, ToolbarImage::Find, L"Find"},
    {MainWindow::Search, ToolbarImage::Search, L"Search"},
    {MainWindow::TextSize, ToolbarImage::TextSize, L"Text size"},
    {MainWindow::Copy, ToolbarImage::Copy, L"Copy"},
};

const wchar_t* ButtonText(int id)
{
    for (const ToolButton& b : kButtons)
        if (b.id == id)
            return b.text;
    return L"";
}

bool Allowed(const BrowserPolicy& p, MainWindow::Command id)
{
    switch (id) {
    case MainWindow::Print: return p.print;
    case MainWindow::Find: return p.find;
    case MainWindow::Search: return p.search;
    case MainWindow::TextSize: return p.zoom;
    case MainWindow::Copy: return p.copy;
    default: return true;
    }
}

BrowserPolicy PolicyOf(const qv::SiteArchive& site)
{
    const qv::ViewerSettings& s = site.Settings();
    BrowserPolicy p;
    p.hideScrollbars = s.HideScrollbars;
    p.contextMenu = s.ContextMenu;
    p.copy = s.EnableCopy;
    p.find = s.EnableSearch;
    p.print = s.EnablePrint;
    p.zoom = s.EnableFont;
    p.search = qv::OffersSearch(site);
    return p;
}

// A function of a newer Windows than the viewer needs, or null.
template <class Function>
Function NewerUserFunction(const char* name)
{
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// The window's resolution: its monitor's where Windows 10 tells it, the
// system's otherwise.
UINT DpiOf(HWND window)
{
    using DpiForWindow = UINT(WINAPI*)(HWND);
    static const auto forWindow = NewerUserFunction<DpiForWindow>("GetDpiForWindow");
    if (forWindow)
        if (const UINT dpi = forWindow(window))
            return dpi;
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// `client` grown by a frame of `style` at `dpi`.
RECT WithFrame(RECT client, DWORD style, DWORD exStyle, UINT dpi)
{
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = NewerUserFunction<AdjustForDpi>("AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&client, style, FALSE, exStyle, dpi))
        AdjustWindowRectEx(&client, style, FALSE, exStyle);
    return client;
}

ScreenBox BoxOf(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

void Register(bool shadow, WNDPROC procedure)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | (shadow ? CS_DROPSHADOW : 0);
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc))
        throw qv::Error("Cannot make the viewer's window. " + WideToUtf8(SystemMessage(GetLastError())));
}

} // namespace

MainWindow::MainWindow(const OutputFile& output, LinkOpener& links)
    : output_(output), links_(links), policy_(PolicyOf(*output.Site))
{
    const qv::ViewerSettings& s = output_.Site->Settings();
    const auto border = s.BorderKind();
    Register(s.Shadow && border != qv::ViewerSettings::FullScreen, &MainWindow::Procedure);

    DWORD style = WS_CLIPCHILDREN;
    switch (border) {
    case qv::ViewerSettings::NoBorder: style |= WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX; break;
    case qv::ViewerSettings::Fixed: style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; break;
    case qv::ViewerSettings::Sizable: style |= WS_OVERLAPPEDWINDOW; break;
    case qv::ViewerSettings::FullScreen: style |= WS_POPUP | WS_SYSMENU; break;
    }
    fullScreen_ = border == qv::ViewerSettings::FullScreen;
    // Where the system would put it first: the size and place follow from
    // the monitor and resolution it is on.
    CreateWindowExW(0, kClassName, output_.FileName().c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                    CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    if (!window_)
        throw qv::Error("Cannot make the viewer's window. " + WideToUtf8(SystemMessage(GetLastError())));
    try {
        dpi_ = DpiOf(window_);
        Place(s.Centered);
        BuildParts();
    } catch (...) {
        // The window forgets this half-made object before it goes.
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
        window_ = nullptr;
        Release();
        throw;
    }
}

void MainWindow::BuildParts()
{
    const qv::ViewerSettings& s = output_.Site->Settings();
    bigIcon_ = LoadOutputIcon(output_, GetSystemMetrics(SM_CXICON));
    smallIcon_ = LoadOutputIcon(output_, GetSystemMetrics(SM_CXSMICON));
    SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    if (s.ShowToolbar)
        CreateToolbar();
    if (s.ShowStatusbar) {
        const DWORD grip = s.BorderKind() == qv::ViewerSettings::Sizable ? SBARS_SIZEGRIP : 0;
        status_ = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | grip, 0, 0, 0, 0, window_,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    // Heard on whichever thread the engine asks from: the window takes it
    // up on its own.
    requests_ = std::make_unique<OutsideRequests>([window = window_](RequestVerdict verdict, const std::wstring&) {
        PostMessageW(window, kRequestRefused, static_cast<WPARAM>(verdict), 0);
    });
    if (InternetConsent(output_.Path).Remembered())
        requests_->AllowInternet();
    browser_ = std::make_unique<Browser>(window_, policy_, static_cast<BrowserEvents&>(*this));
    Layout();
}

MainWindow::~MainWindow()
{
    browser_.reset();
    if (window_ && IsWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    Release();
}

void MainWindow::Release()
{
    if (images_)
        ImageList_Destroy(images_);
    images_ = nullptr;
    for (HICON* icon : {&bigIcon_, &smallIcon_})
        if (*icon)
            DestroyIcon(std::exchange(*icon, nullptr));
}

void MainWindow::CreateToolbar()
{
    const qv::ViewerSettings& s = output_.Site->Settings();
    toolbar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0,
                               window_, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!toolbar_)
        throw qv::Error("Cannot make the toolbar. " + WideToUtf8(SystemMessage(GetLastError())));
    SendMessageW(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolbar_, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    UseToolbarImages();
    for (const ToolButton& tool : kButtons) {
        if (!Allowed(policy_, tool.id))
            continue;
        TBBUTTON button = {};
        button.iBitmap = static_cast<int>(tool.image);
        button.idCommand = tool.id;
        // Back and Forward wait for a history to go to.
        button.fsState = tool.id == Back || tool.id == Forward ? 0 : TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | (tool.id == TextSize ? BTNS_WHOLEDROPDOWN : 0);
        // Without captions a button has no text; its tip still names it.
        button.iString = s.ShowCaptions ? reinterpret_cast<INT_PTR>(tool.text) : -1;
        SendMessageW(toolbar_, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
    }
    SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
}

void MainWindow::UseToolbarImages()
{
    const HIMAGELIST old = std::exchange(images_, MakeToolbarImages(Scaled(20)));
    SendMessageW(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
    if (old)
        ImageList_Destroy(old);
}

int MainWindow::Scaled(int pixels) const { return ScaledToDpi(pixels, dpi_); }

void MainWindow::Place(bool centred)
{
    const ScreenBox target = Placement(centred, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)));
    SetWindowPos(window_, nullptr, target.left, target.top, target.Width(), target.Height(),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

ScreenBox MainWindow::Placement(bool centred, DWORD style) const
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    ScreenBox target = BoxOf(monitor.rcMonitor);
    if (!fullScreen_) {
        const qv::ViewerSettings& s = output_.Site->Settings();
        const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE));
        const RECT outer =
            WithFrame(RECT{0, 0, Scaled(s.ClientWidth()), Scaled(s.ClientHeight())}, style, exStyle, dpi_);
        RECT now;
        GetWindowRect(window_, &now);
        const ScreenBox wanted = {now.left, now.top, now.left + outer.right - outer.left,
                                  now.top + outer.bottom - outer.top};
        target = FitToWorkArea(wanted, BoxOf(monitor.rcWork), centred);
    }
    return target;
}

void MainWindow::Show()
{
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    browser_->Navigate(HomeUrl());
}

int MainWindow::Run()
{
    MSG msg = {};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        const bool own = IsOwnWindow(msg.hwnd);
        if (own && (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && ActOnKey(msg))
            continue;
        // Ctrl+wheel is the engine's zoom.
        if (own && msg.message == WM_MOUSEWHEEL && (GET_KEYSTATE_WPARAM(msg.wParam) & MK_CONTROL) && !policy_.zoom)
            continue;
        ArmOnInput(msg);
        const bool key = msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST;
        if (key && browser_ && msg.hwnd != toolbar_ && IsChild(window_, msg.hwnd) && browser_->TranslateKey(msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool MainWindow::IsOwnWindow(HWND window) const
{
    return window && (window == window_ || IsChild(window_, window));
}

bool MainWindow::ActOnKey(const MSG& msg)
{
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && fullScreen_) {
        LeaveFullScreen();
        return true;
    }
    switch (ActionOfKey(policy_, static_cast<unsigned>(msg.wParam), ModifiersHeld())) {
    case KeyAction::ToPage: return false;
    case KeyAction::Blocked: return true;
    case KeyAction::CloseViewer: PostMessageW(window_, WM_CLOSE, 0, 0); return true;
    case KeyAction::FindNext: FindAgain(true); return true;
    case KeyAction::FindPrevious: FindAgain(false); return true;
    case KeyAction::Search: RunCommand(Search); return true;
    }
    return false;
}

void MainWindow::FindAgain(bool forward)
{
    // Without a match selected there is nothing to go on from: the box asks.
    if (browser_ && !browser_->FindAgain(forward))
        browser_->ShowFind();
}

void MainWindow::ArmOnInput(const MSG& msg)
{
    // Seen before the page sees it: whatever the page does with the click,
    // the reader made it.
    const bool click = msg.message == WM_LBUTTONUP;
    const bool press = msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_SPACE);
    if ((click || press) && browser_ && browser_->HasWindow(msg.hwnd))
        click_.Arm(GetTickCount());
}

void MainWindow::LeaveFullScreen()
{
    // Escape is the way out of a window that has no frame to close.
    fullScreen_ = false;
    constexpr DWORD kSizable = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE;
    const ScreenBox target = Placement(true, kSizable);
    SetWindowPos(window_, nullptr, target.left, target.top, target.Width(), target.Height(), SWP_NOZORDER);
    // The frame last: whoever sees the new style sees the new place too.
    SetWindowLongPtrW(window_, GWL_STYLE, kSizable);
    SetWindowPos(window_, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE | SWP_FRAMECHANGED);
}

std::wstring MainWindow::HomeUrl() const
{
    const qv::SiteArchive& site = *output_.Site;
    std::string home = site.HomeAddress();
    // A home page the archive does not hold still has its address: a
    // program DirectMask kept beside the output opens from there (after a
    // click on Home), anything else meets the "Not found" page.
    if (home.empty() && !site.Settings().HomePage.empty())
        home = qv::AddressPathOf(site.Settings().HomePage, site.Codec());
    return SiteUrlOf(Utf8ToWide(home));
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    try {
        return self->Handle(message, wParam, lParam);
    } catch (const std::exception& e) {
        MessageBoxW(window, Utf8ToWide(qv::ErrorBoxText(e.what())).c_str(), L"Quorvane Viewer",
                    MB_OK | MB_ICONERROR);
        return 0;
    }
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: Layout(); return 0;
    case WM_ACTIVATE:
        // The control hears of it as a frame's document would, and the
        // keyboard goes back to the page (through WM_SETFOCUS) after Alt+Tab.
        if (browser_)
            browser_->FrameActivated(LOWORD(wParam) != WA_INACTIVE);
        break;
    case WM_SETFOCUS:
        if (browser_)
            browser_->Focus();
        return 0;
    case WM_DPICHANGED: {
        dpi_ = HIWORD(wParam);
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        if (toolbar_)
            UseToolbarImages();
        Layout();
        return 0;
    }
    case WM_COMMAND:
        RunCommand(LOWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == toolbar_ && header->code == TBN_DROPDOWN) {
            const auto* drop = reinterpret_cast<const NMTOOLBARW*>(lParam);
            ShowZoomMenu(drop->rcButton);
            return TBDDRET_DEFAULT;
        }
        if (header->hwndFrom == status_ && header->code == NM_CLICK && offersInternet_) {
            ShowNoticeMenu();
            return 0;
        }
        if (header->hwndFrom == toolbar_ && header->code == TBN_GETINFOTIPW) {
            auto* tip = reinterpret_cast<NMTBGETINFOTIPW*>(lParam);
            lstrcpynW(tip->pszText, ButtonText(tip->iItem), tip->cchTextMax);
            return 0;
        }
        break;
    }
    case kNavigatePending:
        if (browser_ && !pendingUrl_.empty())
            browser_->Navigate(std::exchange(pendingUrl_, std::wstring()));
        return 0;
    case kRequestRefused:
        if (static_cast<RequestVerdict>(wParam) == RequestVerdict::InternetRefused)
            ShowNotice(L"This file wants to load content from the internet.", true);
        else if (!offersInternet_)
            ShowNotice(L"Pages of this file may not reach this computer or its network.");
        return 0;
    case WM_CLOSE: DestroyWindow(window_); return 0;
    case WM_DESTROY:
        // The control goes while its window still stands.
        browser_.reset();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::Layout()
{
    if (!browser_)
        return;
    RECT client;
    GetClientRect(window_, &client);
    RECT part;
    if (toolbar_) {
        SendMessageW(toolbar_, TB_AUTOSIZE, 0, 0);
        GetWindowRect(toolbar_, &part);
        client.top += part.bottom - part.top;
    }
    if (status_) {
        SendMessageW(status_, WM_SIZE, 0, 0);
        GetWindowRect(status_, &part);
        client.bottom -= part.bottom - part.top;
        // The page's own texts on the left, the viewer's notices on the right.
        const int width = client.right - client.left;
        int parts[2] = {width - std::min(width / 2, Scaled(420)), -1};
        SendMessageW(status_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    }
    if (client.bottom < client.top)
        client.bottom = client.top;
    browser_->SetBounds(client);
}

void MainWindow::RunCommand(int id)
{
    if (!browser_)
        return;
    if (id == Back || id == Forward || id == Home)
        click_.Arm(GetTickCount()); // the reader's own click
    switch (id) {
    case Back: browser_->GoBack(); return;
    case Forward: browser_->GoForward(); return;
    case Home: browser_->Navigate(HomeUrl()); return;
    case Print:
        if (policy_.print)
            browser_->Execute(OLECMDID_PRINT, OLECMDEXECOPT_PROMPTUSER);
        return;
    case Find:
        if (policy_.find)
            browser_->ShowFind();
        return;
    case Search:
        // The empty results page: its form has the keyboard once it loads.
        if (policy_.search)
            browser_->Navigate(SiteUrlOf(L"-search-"));
        return;
    case Copy:
        if (policy_.copy)
            browser_->Execute(OLECMDID_COPY, OLECMDEXECOPT_DODEFAULT);
        return;
    case SelectAll:
        if (policy_.copy)
            browser_->Execute(OLECMDID_SELECTALL, OLECMDEXECOPT_DODEFAULT);
        return;
    case TextSize: {
        RECT button = {};
        SendMessageW(toolbar_, TB_GETRECT, TextSize, reinterpret_cast<LPARAM>(&button));
        ShowZoomMenu(button);
        return;
    }
    }
    // The check mark shows what the page took, not what was asked.
    if (id > kZoomCommand && policy_.zoom && browser_->SetZoom(id - kZoomCommand))
        zoom_ = id - kZoomCommand;
}

HMENU MainWindow::MakeZoomMenu() const
{
    const int reported = browser_ ? browser_->Zoom() : 0;
    const int shown = reported > 0 ? reported : zoom_;
    const HMENU menu = CreatePopupMenu();
    for (const int step : kZoomSteps) {
        const std::wstring text = std::to_wstring(step) + L" %";
        AppendMenuW(menu, MF_STRING | (step == shown ? MF_CHECKED : 0), kZoomCommand + step, text.c_str());
    }
    return menu;
}

void MainWindow::ShowZoomMenu(const RECT& button)
{
    const HMENU menu = MakeZoomMenu();
    POINT corner = {button.left, button.bottom};
    ClientToScreen(toolbar_, &corner);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, corner.x, corner.y, 0, window_, nullptr);
    DestroyMenu(menu);
}

void MainWindow::TitleChanged(const std::wstring& title)
{
    // Without a <title> the browser reports the address; the file's name
    // says more.
    const bool named = !title.empty() && !IsSiteUrl(title) && UrlScheme(title) != L"about";
    SetWindowTextW(window_, named ? title.c_str() : output_.FileName().c_str());
}

void MainWindow::StatusTextChanged(const std::wstring& text)
{
    if (status_)
        SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::HistoryChanged(long command, bool enabled)
{
    if (command == CSC_NAVIGATEBACK)
        canGoBack_ = enabled;
    else if (command == CSC_NAVIGATEFORWARD)
        canGoForward_ = enabled;
    else
        return;
    if (toolbar_)
        SendMessageW(toolbar_, TB_ENABLEBUTTON, command == CSC_NAVIGATEBACK ? Back : Forward, MAKELONG(enabled, 0));
}

void MainWindow::PageMenuRequested(POINT at, bool overSelection)
{
    // Only what the settings allow, and nothing that shows the page's source.
    const HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING | (canGoBack_ ? 0 : MF_GRAYED), Back, ButtonText(Back));
    AppendMenuW(menu, MF_STRING | (canGoForward_ ? 0 : MF_GRAYED), Forward, ButtonText(Forward));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    if (policy_.copy) {
        AppendMenuW(menu, MF_STRING | (overSelection ? 0 : MF_GRAYED), Copy, ButtonText(Copy));
        AppendMenuW(menu, MF_STRING, SelectAll, L"Select all");
    }
    if (policy_.find)
        AppendMenuW(menu, MF_STRING, Find, ButtonText(Find));
    if (policy_.search)
        AppendMenuW(menu, MF_STRING, Search, ButtonText(Search));
    if (policy_.print)
        AppendMenuW(menu, MF_STRING, Print, ButtonText(Print));
    if (policy_.zoom)
        AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(MakeZoomMenu()), ButtonText(TextSize));
    const int chosen =
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, window_, nullptr);
    DestroyMenu(menu); // with the submenu
    if (chosen)
        RunCommand(chosen);
}

void MainWindow::PageLoaded()
{
    // A new document has a new window; the keys follow the reader's eyes.
    if (browser_ && GetActiveWindow() == window_)
        browser_->Focus();
    if (browser_ && !pendingWords_.empty())
        browser_->ShowWords(std::exchange(pendingWords_, std::wstring()));
}

bool MainWindow::BeforeNavigate(const std::wstring& url, bool topLevel)
{
    // Any navigation uses up the click, so a page cannot keep one for later.
    const bool clicked = click_.Take(GetTickCount());
    // A search result's link names the words to show on its page: they come
    // off the address before the page loads, so its scripts never see them.
    const auto path = topLevel ? AddressPathOfUrl(url) : std::nullopt;
    if (const auto find = path ? qv::FindRequestOf(WideToUtf8(*path)) : std::nullopt) {
        pendingWords_ = Utf8ToWide(find->words);
        pendingUrl_ = SiteUrlOf(Utf8ToWide(find->address));
        PostMessageW(window_, kNavigatePending, 0, 0);
        return true;
    }
    // A frame of a page may show a document in place (the engine saves
    // nothing, and other servers pass the request guard); only where the
    // reader goes may leave the view, and a scheme of another program never.
    const std::wstring scheme = UrlScheme(url);
    if (!topLevel && scheme != L"mailto" && IsShownScheme(scheme))
        return false;
    const LinkOpener::Result result = links_.Open(url, window_, clicked);
    switch (result.outcome) {
    case LinkOpener::Outcome::InView: return false;
    case LinkOpener::Outcome::Foreign: ShowNotice(L"Not opened: " + result.shown); return true;
    case LinkOpener::Outcome::Program:
        ShowNotice(L"\"" + result.shown + L"\" is a program or a script: it stays closed.");
        return false; // the page protocol shows why
    case LinkOpener::Outcome::NeedsClick: ShowNotice(L"Not opened without a click: " + result.shown); return true;
    case LinkOpener::Outcome::Handled: return true;
    }
    return true;
}

void MainWindow::NewWindowRequested(const std::wstring& url)
{
    if (!click_.Take(GetTickCount())) {
        ShowNotice(L"No new window without a click: " + url);
        return;
    }
    const LinkOpener::Result result = links_.Open(url, window_, true);
    if (result.outcome == LinkOpener::Outcome::Handled)
        return;
    // The viewer keeps to its one window: taken in place once the event has
    // returned.
    pendingUrl_ = url;
    PostMessageW(window_, kNavigatePending, 0, 0);
}

void MainWindow::CloseRequested() { PostMessageW(window_, WM_CLOSE, 0, 0); }

void MainWindow::DownloadRefused(const std::wstring& url)
{
    ShowNotice(L"Pages of this file cannot save files: " + url);
}

void MainWindow::ShowNotice(const std::wstring& text, bool offersInternet)
{
    offersInternet_ = offersInternet;
    if (status_)
        SendMessageW(status_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::ShowNoticeMenu()
{
    const HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kAllowOnceCommand, L"Allow once");
    AppendMenuW(menu, MF_STRING, kAllowAlwaysCommand, L"Always for this file");
    POINT at;
    GetCursorPos(&at);
    const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_BOTTOMALIGN, at.x, at.y, 0, window_, nullptr);
    DestroyMenu(menu);
    if ((chosen != kAllowOnceCommand && chosen != kAllowAlwaysCommand) || !requests_ || !browser_)
        return;
    if (chosen == kAllowAlwaysCommand)
        InternetConsent(output_.Path).Remember(); // a failure's box names the file
    requests_->AllowInternet();
    ShowNotice(chosen == kAllowAlwaysCommand ? L"Content from the internet is allowed for this file."
                                             : L"Content from the internet is allowed until the viewer closes.");
    browser_->Reload();
}

} // namespace viewer
