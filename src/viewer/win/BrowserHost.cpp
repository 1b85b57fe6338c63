#include "BrowserHost.h"

#include "SiteUrl.h"
#include "WinText.h"
#include "quorvane/base/Error.h"

#include <exdispid.h>
#include <mshtmcid.h>
#include <mshtmhst.h>
#include <mshtml.h>
#include <shlobj.h>
#include <urlmon.h>

namespace viewer {

namespace {

// CGID_DocHostCommandHandler, which the import libraries do not carry.
const GUID kDocHostCommands = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
// IID_IDownloadManager, also the service's id; not in the import libraries either.
const GUID kDownloadManager = {0x988934a4, 0x064b, 0x11d3, {0xbb, 0x80, 0x00, 0x10, 0x4b, 0x35, 0xe7, 0xf9}};

// CGID_MSHTML, the document's own command group.
const GUID kMshtmlCommands = {0xde4ba900, 0x59ca, 0x11cf, {0x95, 0x92, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

const VARIANT& Deref(const VARIANT& v) { return v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal ? *v.pvarVal : v; }

std::wstring Text(const VARIANT& v)
{
    const VARIANT& d = Deref(v);
    return d.vt == VT_BSTR && d.bstrVal ? std::wstring(d.bstrVal, SysStringLen(d.bstrVal)) : std::wstring();
}

void SetTrue(VARIANT& v)
{
    if (v.vt == (VT_BYREF | VT_BOOL) && v.pboolVal)
        *v.pboolVal = VARIANT_TRUE;
}

} // namespace

KeyModifiers ModifiersHeld()
{
    return {GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_MENU) < 0};
}

namespace {

// What leaves the page when copying is off: a data object with nothing in
// it, so a drag or the clipboard carries no text, picture or address.
class EmptyData final : public IDataObject, private RefCounted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        return AnswerQuery(riid == IID_IUnknown || riid == IID_IDataObject ? this : nullptr, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    HRESULT STDMETHODCALLTYPE GetData(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return DV_E_FORMATETC; }
    HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return DV_E_FORMATETC; }
    HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        if (out)
            out->ptd = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override
    {
        if (!formats)
            return E_POINTER;
        *formats = nullptr;
        return direction == DATADIR_GET ? SHCreateStdEnumFmtEtc(0, nullptr, formats) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override
    {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }
};

// The printing commands a page or the engine's own menu may start.
bool IsPrinting(DWORD command)
{
    switch (command) {
    case OLECMDID_PRINT:
    case OLECMDID_PRINT2:
    case OLECMDID_PRINTPREVIEW:
    case OLECMDID_PRINTPREVIEW2:
    case OLECMDID_PAGESETUP:
    case OLECMDID_SHOWPRINT:
    case OLECMDID_SHOWPAGESETUP: return true;
    }
    return false;
}

} // namespace

// One object for every interface the control asks of its container.
class Browser::Site final : public IOleClientSite,
                            public IOleInPlaceSite,
                            public IOleInPlaceFrame,
                            public IDocHostUIHandler,
                            public IDispatch,
                            public IOleCommandTarget,
                            public IServiceProvider,
                            public IInternetSecurityManager,
                            public IDownloadManager,
                            private RefCounted {
public:
    Site(HWND parent, const BrowserPolicy& policy, BrowserEvents& events)
        : parent_(parent), policy_(policy), events_(events)
    {
        SetRectEmpty(&bounds_);
    }

    void SetBounds(const RECT& bounds) { bounds_ = bounds; }
    RECT Bounds() const { return bounds_; }
    // The control itself, to tell its own navigations from its frames'.
    void SetControl(IUnknown* control) { control_ = control; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        IUnknown* found = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            found = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
            found = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            found = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IDocHostUIHandler)
            found = static_cast<IDocHostUIHandler*>(this);
        else if (riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2)
            found = static_cast<IDispatch*>(this);
        else if (riid == IID_IOleCommandTarget)
            found = static_cast<IOleCommandTarget*>(this);
        else if (riid == IID_IServiceProvider)
            found = static_cast<IServiceProvider*>(this);
        else if (riid == IID_IInternetSecurityManager)
            found = static_cast<IInternetSecurityManager*>(this);
        else if (riid == kDownloadManager)
            found = static_cast<IDownloadManager*>(this);
        return AnswerQuery(found, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        if (moniker)
            *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override
    {
        if (container)
            *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, for the site and the frame alike
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override
    {
        if (!window)
            return E_POINTER;
        *window = parent_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        if (!frame || !document || !position || !clip || !info)
            return E_POINTER;
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        *position = bounds_;
        *clip = bounds_;
        info->fMDIApp = FALSE;
        info->hwndFrame = parent_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow, IOleInPlaceFrame: no menus or tool space to share
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler
    // S_OK: handled, the engine shows nothing of its own. Its page menu
    // offers Print and View source whatever the settings say; an edit
    // field's (cut, copy, paste) only lets text out that the reader typed,
    // yet it is ours too when copying is off.
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD kind, POINT* at, IUnknown*, IDispatch*) override
    {
        if (!policy_.contextMenu)
            return S_OK;
        if (kind == CONTEXT_MENU_CONTROL && policy_.copy)
            return S_FALSE;
        POINT where = {};
        if (at)
            where = *at;
        else
            GetCursorPos(&where);
        try {
            events_.PageMenuRequested(where, kind == CONTEXT_MENU_TEXTSELECT);
        } catch (...) {
            // Nothing may leave through the control; no menu then.
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override
    {
        if (!info)
            return E_POINTER;
        info->cbSize = sizeof *info;
        // The engine frees these with CoTaskMemFree: nothing to hand over.
        info->pchHostCss = nullptr;
        info->pchHostNS = nullptr;
        info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_DPI_AWARE |
                        (policy_.hideScrollbars ? DOCHOSTUIFLAG_SCROLL_NO : 0);
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                     IOleInPlaceUIWindow*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE HideUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UpdateUI() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg, const GUID*, DWORD) override
    {
        if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
            return S_FALSE;
        // The window acts on the viewer's own keys before the control sees
        // them; here every key but the page's is kept from the engine.
        const auto action = ActionOfKey(policy_, static_cast<unsigned>(msg->wParam), ModifiersHeld());
        return action == KeyAction::ToPage ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD) override
    {
        if (key)
            *key = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** target) override
    {
        if (target)
            *target = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override
    {
        if (external)
            *external = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override
    {
        if (out)
            *out = nullptr;
        return S_FALSE;
    }
    // Asked for every data object the engine puts on the clipboard or
    // drags out of the page, script's execCommand("copy") included.
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (policy_.copy)
            return S_FALSE;
        *out = new EmptyData;
        return S_OK;
    }

    // IDispatch: DWebBrowserEvents2, and ambient properties (none answered)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override
    {
        if (flags & DISPATCH_PROPERTYGET)
            return DISP_E_MEMBERNOTFOUND;
        if (!params)
            return S_OK;
        VARIANT* args = params->rgvarg; // last argument first
        const UINT count = params->cArgs;
        try {
            switch (id) {
            case DISPID_TITLECHANGE:
                if (count >= 1)
                    events_.TitleChanged(Text(args[0]));
                break;
            case DISPID_STATUSTEXTCHANGE:
                if (count >= 1)
                    events_.StatusTextChanged(Text(args[0]));
                break;
            case DISPID_COMMANDSTATECHANGE:
                if (count >= 2 && Deref(args[1]).vt == VT_I4 && Deref(args[0]).vt == VT_BOOL)
                    events_.HistoryChanged(Deref(args[1]).lVal, Deref(args[0]).boolVal != VARIANT_FALSE);
                break;
            case DISPID_BEFORENAVIGATE2:
                if (count >= 7 && events_.BeforeNavigate(Text(args[5]), IsControl(Deref(args[6]))))
                    SetTrue(args[0]);
                break;
            case DISPID_NEWWINDOW3:
                if (count >= 5) {
                    SetTrue(args[3]);
                    events_.NewWindowRequested(Text(args[0]));
                }
                break;
            case DISPID_DOCUMENTCOMPLETE:
                if (count >= 2 && IsControl(Deref(args[1])))
                    events_.PageLoaded();
                break;
            case DISPID_WINDOWCLOSING:
                if (count >= 2) {
                    SetTrue(args[0]);
                    events_.CloseRequested();
                }
                break;
            }
        } catch (...) {
            // Nothing may leave through the control; the event is dropped.
        }
        return S_OK;
    }

    // IOleCommandTarget: script errors are the page's own affair, and a
    // visitor is not asked about them. Without printing, the engine's
    // request to show the print or page set-up box (a page's
    // window.print() among them) is answered as done, and nothing prints.
    HRESULT STDMETHODCALLTYPE QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) override
    {
        return OLECMDERR_E_UNKNOWNGROUP;
    }
    HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD command, DWORD, VARIANT*, VARIANT* out) override
    {
        if (!group || *group != kDocHostCommands)
            return OLECMDERR_E_UNKNOWNGROUP;
        if (!policy_.print && IsPrinting(command)) {
            if (out) {
                out->vt = VT_BOOL;
                out->boolVal = VARIANT_FALSE; // not printed
            }
            return S_OK;
        }
        if (command != OLECMDID_SHOWSCRIPTERROR)
            return OLECMDERR_E_NOTSUPPORTED;
        if (out) {
            out->vt = VT_BOOL;
            out->boolVal = VARIANT_TRUE; // keep running the page's scripts
        }
        return S_OK;
    }

    // IServiceProvider
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** object) override
    {
        if (service == SID_SInternetSecurityManager && riid == IID_IInternetSecurityManager)
            return AnswerQuery(static_cast<IInternetSecurityManager*>(this), object);
        if (service == kDownloadManager && riid == kDownloadManager)
            return AnswerQuery(static_cast<IDownloadManager*>(this), object);
        return AnswerQuery(nullptr, object);
    }

    // IDownloadManager: nothing a page offers is saved. Handled, so the
    // engine does not fall back to its own box with its "Open" button.
    HRESULT STDMETHODCALLTYPE Download(IMoniker* moniker, IBindCtx* context, DWORD, LONG, BINDINFO*, LPCOLESTR,
                                       LPCOLESTR, UINT) override
    {
        std::wstring url;
        LPOLESTR name = nullptr;
        if (moniker && SUCCEEDED(moniker->GetDisplayName(context, nullptr, &name)) && name) {
            url = name;
            CoTaskMemFree(name);
        }
        try {
            events_.DownloadRefused(url);
        } catch (...) {
            // Refused all the same.
        }
        return S_OK;
    }

    // IInternetSecurityManager: the site's pages are in the Internet zone,
    // as a file someone handed over deserves; everything else takes the
    // system's rules.
    HRESULT STDMETHODCALLTYPE SetSecuritySite(IInternetSecurityMgrSite*) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetSecuritySite(IInternetSecurityMgrSite** site) override
    {
        if (site)
            *site = nullptr;
        return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE MapUrlToZone(LPCWSTR url, DWORD* zone, DWORD) override
    {
        if (!url || !zone || !IsSiteUrl(url))
            return INET_E_DEFAULT_ACTION;
        *zone = URLZONE_INTERNET;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) override
    {
        return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE ProcessUrlAction(LPCWSTR, DWORD, BYTE*, DWORD, BYTE*, DWORD, DWORD, DWORD) override
    {
        return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE QueryCustomPolicy(LPCWSTR, REFGUID, BYTE**, DWORD*, BYTE*, DWORD, DWORD) override
    {
        return INET_E_DEFAULT_ACTION;
    }
    HRESULT STDMETHODCALLTYPE SetZoneMapping(DWORD, LPCWSTR, DWORD) override { return INET_E_DEFAULT_ACTION; }
    HRESULT STDMETHODCALLTYPE GetZoneMappings(DWORD, IEnumString**, DWORD) override { return INET_E_DEFAULT_ACTION; }

private:
    bool IsControl(const VARIANT& v) const
    {
        if (v.vt != VT_DISPATCH || !v.pdispVal || !control_)
            return false;
        ComPtr<IUnknown> identity;
        return SUCCEEDED(v.pdispVal->QueryInterface(IID_IUnknown, identity.OutVoid())) && identity.Get() == control_;
    }

    HWND parent_;
    IUnknown* control_ = nullptr; // not owned: the Browser holds the control
    BrowserPolicy policy_;
    BrowserEvents& events_;
    RECT bounds_;
};

namespace {

[[noreturn]] void Fail(const char* what, HRESULT hr)
{
    throw qv::Error(std::string("Cannot show the pages: ") + what + ". " +
                    WideToUtf8(SystemMessage(static_cast<DWORD>(hr))));
}

} // namespace

Browser::Browser(HWND parent, const BrowserPolicy& policy, BrowserEvents& events)
    : site_(new Site(parent, policy, events)), parent_(parent)
{
    RECT bounds;
    GetClientRect(parent, &bounds);
    site_->SetBounds(bounds);
    HRESULT hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, object_.OutVoid());
    if (FAILED(hr)) {
        Teardown();
        Fail("the web browser control is missing", hr);
    }
    object_->SetClientSite(static_cast<IOleClientSite*>(site_));
    // Active with its user interface, so the page has the keyboard from the
    // start; a control that will not is at least in place.
    hr = object_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, parent, &bounds);
    if (FAILED(hr))
        hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, parent,
                             &bounds);
    if (SUCCEEDED(hr))
        hr = object_->QueryInterface(IID_IWebBrowser2, browser_.OutVoid());
    ComPtr<IConnectionPointContainer> points;
    if (SUCCEEDED(hr))
        hr = browser_->QueryInterface(IID_IConnectionPointContainer, points.OutVoid());
    if (SUCCEEDED(hr))
        hr = points->FindConnectionPoint(DIID_DWebBrowserEvents2, eventPoint_.Out());
    if (SUCCEEDED(hr))
        hr = eventPoint_->Advise(static_cast<IDispatch*>(site_), &cookie_);
    if (FAILED(hr)) {
        Teardown();
        Fail("the web browser control cannot be placed", hr);
    }
    ComPtr<IUnknown> identity;
    if (SUCCEEDED(object_->QueryInterface(IID_IUnknown, identity.OutVoid())))
        site_->SetControl(identity.Get());
    ComPtr<IOleWindow> window;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleWindow, window.OutVoid())))
        window->GetWindow(&window_);
    // Files dropped on the pages would be opened in their place.
    browser_->put_RegisterAsDropTarget(VARIANT_FALSE);
}

Browser::~Browser() { Teardown(); }

void Browser::Teardown()
{
    if (site_)
        site_->SetControl(nullptr);
    if (eventPoint_ && cookie_)
        eventPoint_->Unadvise(cookie_);
    eventPoint_.Reset();
    cookie_ = 0;
    if (browser_)
        browser_->Stop();
    browser_.Reset();
    if (object_) {
        ComPtr<IOleInPlaceObject> inPlace;
        if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, inPlace.OutVoid())))
            inPlace->InPlaceDeactivate();
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
    }
    object_.Reset();
    if (site_)
        std::exchange(site_, nullptr)->Release();
}

void Browser::Navigate(const std::wstring& url)
{
    BSTR address = SysAllocString(url.c_str());
    VARIANT empty;
    VariantInit(&empty);
    browser_->Navigate(address, &empty, &empty, &empty, &empty);
    SysFreeString(address);
}

void Browser::Reload() { browser_->Refresh(); }

bool Browser::HasWindow(HWND window) const
{
    return window_ && window && (window == window_ || IsChild(window_, window));
}

void Browser::SetBounds(const RECT& bounds)
{
    site_->SetBounds(bounds);
    ComPtr<IOleInPlaceObject> inPlace;
    if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, inPlace.OutVoid())))
        inPlace->SetObjectRects(&bounds, &bounds);
}

void Browser::GoBack() { browser_->GoBack(); }

void Browser::GoForward() { browser_->GoForward(); }

bool Browser::Execute(OLECMDID command, OLECMDEXECOPT option)
{
    OLECMDF status = OLECMDF(0);
    if (FAILED(browser_->QueryStatusWB(command, &status)) || !(status & OLECMDF_ENABLED))
        return false;
    return SUCCEEDED(browser_->ExecWB(command, option, nullptr, nullptr));
}

ComPtr<IOleCommandTarget> Browser::DocumentCommands() const
{
    ComPtr<IDispatch> document;
    ComPtr<IOleCommandTarget> commands;
    if (SUCCEEDED(browser_->get_Document(document.Out())) && document)
        document->QueryInterface(IID_IOleCommandTarget, commands.OutVoid());
    return commands;
}

bool Browser::ShowFind()
{
    if (Execute(OLECMDID_FIND, OLECMDEXECOPT_PROMPTUSER))
        return true;
    const ComPtr<IOleCommandTarget> document = DocumentCommands();
    return document && SUCCEEDED(document->Exec(&kMshtmlCommands, IDM_FIND, OLECMDEXECOPT_PROMPTUSER, nullptr,
                                                nullptr));
}

bool Browser::FindAgain(bool forward)
{
    ComPtr<IDispatch> dispatch;
    ComPtr<IHTMLDocument2> document;
    ComPtr<IHTMLSelectionObject> selection;
    ComPtr<IDispatch> rangeDispatch;
    ComPtr<IHTMLTxtRange> range;
    if (FAILED(browser_->get_Document(dispatch.Out())) || !dispatch ||
        FAILED(dispatch->QueryInterface(IID_IHTMLDocument2, document.OutVoid())) ||
        FAILED(document->get_selection(selection.Out())) || !selection ||
        FAILED(selection->createRange(rangeDispatch.Out())) || !rangeDispatch ||
        FAILED(rangeDispatch->QueryInterface(IID_IHTMLTxtRange, range.OutVoid())))
        return false;
    BSTR text = nullptr;
    if (FAILED(range->get_text(&text)) || !text || SysStringLen(text) == 0) {
        SysFreeString(text);
        return false;
    }
    // From the match's far side to the page's end, then round from the
    // other end, as a browser's find goes on.
    constexpr long kWholePage = 0x3FFFFFFF;
    const long reach = forward ? kWholePage : -kWholePage;
    VARIANT_BOOL found = VARIANT_FALSE;
    range->collapse(forward ? VARIANT_FALSE : VARIANT_TRUE);
    range->findText(text, reach, 0, &found);
    if (!found) {
        BSTR whole = SysAllocString(L"textedit");
        VARIANT_BOOL expanded = VARIANT_FALSE;
        range->expand(whole, &expanded);
        SysFreeString(whole);
        range->collapse(forward ? VARIANT_TRUE : VARIANT_FALSE);
        range->findText(text, reach, 0, &found);
    }
    SysFreeString(text);
    if (found) {
        range->select();
        range->scrollIntoView(VARIANT_TRUE);
    }
    return true;
}

bool Browser::ShowWords(const std::wstring& words)
{
    ComPtr<IDispatch> dispatch;
    ComPtr<IHTMLDocument2> document;
    ComPtr<IHTMLElement> body;
    ComPtr<IHTMLBodyElement> bodyElement;
    ComPtr<IHTMLTxtRange> range;
    if (words.empty() || FAILED(browser_->get_Document(dispatch.Out())) || !dispatch ||
        FAILED(dispatch->QueryInterface(IID_IHTMLDocument2, document.OutVoid())) ||
        FAILED(document->get_body(body.Out())) || !body ||
        FAILED(body->QueryInterface(IID_IHTMLBodyElement, bodyElement.OutVoid())) ||
        FAILED(bodyElement->createTextRange(range.Out())) || !range)
        return false;
    BSTR text = SysAllocString(words.c_str());
    VARIANT_BOOL found = VARIANT_FALSE;
    range->findText(text, 0x3FFFFFFF, 0, &found);
    SysFreeString(text);
    if (!found)
        return false;
    range->select();
    range->scrollIntoView(VARIANT_TRUE);
    return true;
}

bool Browser::SetZoom(int percent)
{
    VARIANT in;
    VariantInit(&in);
    in.vt = VT_I4;
    in.lVal = percent;
    if (SUCCEEDED(browser_->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &in, nullptr)))
        return true;
    const ComPtr<IOleCommandTarget> document = DocumentCommands();
    return document &&
           SUCCEEDED(document->Exec(nullptr, OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &in, nullptr));
}

int Browser::Zoom() const
{
    VARIANT out;
    VariantInit(&out);
    if (FAILED(browser_->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, nullptr, &out)))
        return 0;
    const int percent = out.vt == VT_I4 ? static_cast<int>(out.lVal) : 0;
    VariantClear(&out);
    return percent;
}

HWND Browser::DocumentWindow() const
{
    // The document's own window ("Internet Explorer_Server") takes the
    // keys; it changes with every page.
    ComPtr<IDispatch> document;
    ComPtr<IOleWindow> oleWindow;
    HWND found = nullptr;
    if (SUCCEEDED(browser_->get_Document(document.Out())) && document &&
        SUCCEEDED(document->QueryInterface(IID_IOleWindow, oleWindow.OutVoid())))
        oleWindow->GetWindow(&found);
    if (!found) {
        ComPtr<IOleInPlaceActiveObject> active;
        if (SUCCEEDED(browser_->QueryInterface(IID_IOleInPlaceActiveObject, active.OutVoid())))
            active->GetWindow(&found);
    }
    return found;
}

void Browser::Focus()
{
    const HWND focus = GetFocus();
    if (focus && HasWindow(focus) && focus != window_)
        return;
    RECT bounds = site_->Bounds();
    object_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(site_), 0, parent_, &bounds);
    const HWND document = DocumentWindow();
    if (document)
        SetFocus(document);
}

void Browser::FrameActivated(bool active)
{
    ComPtr<IOleInPlaceActiveObject> object;
    if (SUCCEEDED(browser_->QueryInterface(IID_IOleInPlaceActiveObject, object.OutVoid())))
        object->OnFrameWindowActivate(active);
}

bool Browser::TranslateKey(MSG& msg)
{
    ComPtr<IOleInPlaceActiveObject> active;
    if (FAILED(browser_->QueryInterface(IID_IOleInPlaceActiveObject, active.OutVoid())))
        return false;
    return active->TranslateAccelerator(&msg) == S_OK;
}

} // namespace viewer
