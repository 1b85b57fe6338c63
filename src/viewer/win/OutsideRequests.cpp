#include "OutsideRequests.h"

#include "NameSpace.h"

#include <atomic>

namespace viewer {

namespace {

// The handler's class: known to this process only, never registered.
const CLSID kOutsideClass = {0x3b8e52c1, 0x47d2, 0x4f0a, {0xb6, 0x1d, 0x92, 0x0e, 0x7c, 0x35, 0xa4, 0x58}};

} // namespace

struct OutsideRequests::Context {
    Observer observer;
    std::atomic<bool> internetAllowed{false};
};

namespace {

// Judges one request; the system's handler does the rest of an allowed one.
class Gate final : public AnsweredInStart, private RefCounted {
public:
    explicit Gate(std::shared_ptr<OutsideRequests::Context> context) : context_(std::move(context)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        const bool known = riid == IID_IUnknown || riid == IID_IInternetProtocolRoot || riid == IID_IInternetProtocol;
        return AnswerQuery(known ? static_cast<IInternetProtocol*>(this) : nullptr, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    HRESULT STDMETHODCALLTYPE Start(LPCWSTR url, IInternetProtocolSink*, IInternetBindInfo*, DWORD flags,
                                    HANDLE_PTR) override
    {
        if (!url)
            return E_POINTER;
        if (flags & PI_PARSE_URL)
            return INET_E_USE_DEFAULT_PROTOCOLHANDLER;
        const RequestVerdict verdict = qv::JudgeRequest(url, context_->internetAllowed.load());
        if (verdict == RequestVerdict::Allowed)
            return INET_E_USE_DEFAULT_PROTOCOLHANDLER;
        try {
            if (context_->observer)
                context_->observer(verdict, url);
        } catch (...) {
            // The refusal stands whether or not anyone heard of it.
        }
        return E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG* read) override
    {
        if (read)
            *read = 0;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_FAIL; }

private:
    std::shared_ptr<OutsideRequests::Context> context_;
};

} // namespace

OutsideRequests::OutsideRequests(Observer observer) : context_(std::make_shared<Context>())
{
    context_->observer = std::move(observer);
    registration_ = std::make_unique<NameSpaceRegistration>(
        ComPtr<IClassFactory>(new ProtocolFactory<Gate, Context>(context_)), kOutsideClass,
        std::vector<std::wstring>{L"http", L"https", L"ftp"}, "the guard for requests to other servers");
}

OutsideRequests::~OutsideRequests() = default;

void OutsideRequests::AllowInternet() { context_->internetAllowed = true; }

} // namespace viewer
