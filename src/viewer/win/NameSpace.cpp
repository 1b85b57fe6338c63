#include "NameSpace.h"

#include "WinText.h"
#include "quorvane/base/Error.h"

namespace viewer {

NameSpaceRegistration::NameSpaceRegistration(ComPtr<IClassFactory> factory, const CLSID& id,
                                             std::vector<std::wstring> schemes, const char* what)
    : factory_(std::move(factory))
{
    HRESULT hr = CoInternetGetSession(0, session_.Out(), 0);
    for (size_t i = 0; SUCCEEDED(hr) && i < schemes.size(); ++i) {
        hr = session_->RegisterNameSpace(factory_.Get(), id, schemes[i].c_str(), 0, nullptr, 0);
        if (SUCCEEDED(hr))
            registered_.push_back(schemes[i]);
    }
    if (FAILED(hr)) {
        for (const std::wstring& scheme : registered_)
            session_->UnregisterNameSpace(factory_.Get(), scheme.c_str());
        throw qv::Error(std::string("Cannot register ") + what + ". " +
                        WideToUtf8(SystemMessage(static_cast<DWORD>(hr))));
    }
}

NameSpaceRegistration::~NameSpaceRegistration()
{
    for (const std::wstring& scheme : registered_)
        session_->UnregisterNameSpace(factory_.Get(), scheme.c_str());
}

} // namespace viewer
