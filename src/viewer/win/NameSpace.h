#pragma once
#include "Com.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include <urlmon.h>

namespace viewer {

// What urlmon may ask of a request that is answered whole in Start and
// holds no lock or state to resume.
class AnsweredInStart : public IInternetProtocol {
public:
    HRESULT STDMETHODCALLTYPE Continue(PROTOCOLDATA*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Abort(HRESULT, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Terminate(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Suspend() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resume() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRequest(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnlockRequest() override { return S_OK; }

protected:
    virtual ~AnsweredInStart() = default;
};

// Makes one `Protocol` per request urlmon starts, each given the shared
// `Context`.
template <class Protocol, class Context>
class ProtocolFactory final : public IClassFactory, private RefCounted {
public:
    explicit ProtocolFactory(std::shared_ptr<Context> context) : context_(std::move(context)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        const bool known = riid == IID_IUnknown || riid == IID_IClassFactory;
        return AnswerQuery(known ? static_cast<IClassFactory*>(this) : nullptr, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return DropReference(); }

    // urlmon asks for an aggregated object first and takes a plain one
    // when refused.
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Protocol* protocol = new (std::nothrow) Protocol(context_);
        if (!protocol)
            return E_OUTOFMEMORY;
        const HRESULT hr = protocol->QueryInterface(riid, object);
        protocol->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::shared_ptr<Context> context_;
};

// `factory` answers for `schemes` in this process only, for as long as the
// object lives; nothing reaches the registry. Throws qv::Error naming
// `what` when urlmon refuses.
class NameSpaceRegistration {
public:
    NameSpaceRegistration(ComPtr<IClassFactory> factory, const CLSID& id, std::vector<std::wstring> schemes,
                          const char* what);
    ~NameSpaceRegistration();
    NameSpaceRegistration(const NameSpaceRegistration&) = delete;
    NameSpaceRegistration& operator=(const NameSpaceRegistration&) = delete;

private:
    ComPtr<IInternetSession> session_;
    ComPtr<IClassFactory> factory_;
    std::vector<std::wstring> registered_;
};

} // namespace viewer
