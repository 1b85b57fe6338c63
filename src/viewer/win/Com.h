#pragma once
#include <atomic>
#include <utility>

#include <windows.h>

#include <unknwn.h>

// The little COM plumbing the viewer's objects share.
namespace viewer {

// Holds one reference to a COM interface.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes over a reference the caller holds.
    explicit ComPtr(T* p) : p_(p) {}
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        Reset();
        p_ = std::exchange(other.p_, nullptr);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset()
    {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For functions that hand out a new reference.
    T** Out()
    {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }

private:
    T* p_ = nullptr;
};

// The end of every QueryInterface: `found`, the object as the interface
// asked for, with a reference added; E_NOINTERFACE when it is null.
inline HRESULT AnswerQuery(IUnknown* found, void** object)
{
    if (!object)
        return E_POINTER;
    *object = found;
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

// The reference count of an object made with new, which deletes itself at
// zero; objects start with the one reference their creator holds.
class RefCounted {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

protected:
    virtual ~RefCounted() = default;
    ULONG AddReference() { return ++refs_; }
    ULONG DropReference()
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    std::atomic<ULONG> refs_{1};
};

} // namespace viewer
