#pragma once
#include "quorvane/base/Error.h"
#include "quorvane/base/Stream.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The resources of an executable as a list of objects: one details object per
// (type, name, language), each owning its bytes, and a module that owns the
// details. Types and names are text; a numeric identifier is its decimal text
// ("14" for icon groups, "3" for icon images).
namespace qv {

class ResourceModule;
class ResourceDetails;

// What a details class offers without an object: the operations a class can
// answer on its own, and its two ways of making an object. One constant
// descriptor exists per class (T::Class()); the registry holds pointers to them.
struct ResourceDetailsClass {
    std::string_view Name;
    std::string (*TypeKey)();
    bool (*AcceptsRawData)(const std::string& resName, size_t size, const uint8_t* data);
    bool (*RecognisesData)(size_t size, const uint8_t* data);
    std::unique_ptr<ResourceDetails> (*CreateFromData)(ResourceModule* parent, const uint8_t* data, size_t size,
                                                        const std::string& resType, const std::string& resName,
                                                        uint16_t language);
    ResourceDetails& (*CreateBlank)(ResourceModule& parent, const std::string& resName, uint16_t language);
    std::unique_ptr<ResourceDetails> (*CreateBlankDetached)(const std::string& resName, uint16_t language);
};

template <class T>
const ResourceDetailsClass& DetailsClassOf();

// Gives a details class its descriptor and lets the factories construct it.
#define QV_RESOURCE_DETAILS_CLASS(T)                                                          \
public:                                                                                       \
    static constexpr std::string_view kClassName = #T;                                        \
    static const ::qv::ResourceDetailsClass& Class() { return ::qv::DetailsClassOf<T>(); }   \
    const ::qv::ResourceDetailsClass& DetailsClass() const override { return Class(); }     \
                                                                                              \
protected:                                                                                    \
    T() = default;                                                                            \
    friend struct ::qv::DetailsFactory;                                                       \
                                                                                              \
public:

struct DetailsFactory;

// One resource. Made only through CreateFromData / CreateBlank (below), which
// run the virtual set-up steps once the object exists.
class ResourceDetails {
public:
    virtual ~ResourceDetails() = default;
    ResourceDetails(const ResourceDetails&) = delete;
    ResourceDetails& operator=(const ResourceDetails&) = delete;

    static constexpr std::string_view kClassName = "ResourceDetails";
    static const ResourceDetailsClass& Class() { return DetailsClassOf<ResourceDetails>(); }
    virtual const ResourceDetailsClass& DetailsClass() const { return Class(); }

    // Not owned; the module this resource belongs to, or none.
    ResourceModule* Parent = nullptr;
    // The default ANSI code page of Language (the system's when it has none).
    int32_t CodePage = 0;
    uint16_t Language = 0;
    std::string ResName;
    std::string ResType;
    bool Dirty = false;

    virtual void InitBlank() {}
    virtual void Rename(const std::string& newName);
    static bool AcceptsRawData(const std::string& resName, size_t size, const uint8_t* data);
    static bool RecognisesData(size_t size, const uint8_t* data);
    // The resource bytes exactly as stored in the executable.
    virtual MemoryStream& Data() { return data_; }
    const MemoryStream& Data() const { return data_; }
    static std::string TypeKey() { return "0"; }
    // Called by the module just before it removes this resource.
    virtual void Detach() {}
    virtual void ReplaceData(Stream& source);

protected:
    ResourceDetails() = default;
    friend struct DetailsFactory;

private:
    void SetUp(ResourceModule* parent, const std::string& resType, const std::string& resName, uint16_t language);
    void FillFromData(const uint8_t* data, size_t size);

    MemoryStream data_;
};

// Builds details objects for the class templates below; the set-up order is
// the one every class relies on (fields first, then the virtual InitBlank).
struct DetailsFactory {
    template <class T>
    static std::unique_ptr<T> FromData(ResourceModule* parent, const uint8_t* data, size_t size,
                                       const std::string& resType, const std::string& resName, uint16_t language)
    {
        std::unique_ptr<T> details(new T());
        ResourceDetails& base = *details;
        base.SetUp(parent, resType, resName, language);
        base.FillFromData(data, size);
        return details;
    }

    template <class T>
    static std::unique_ptr<T> Blank(ResourceModule* parent, const std::string& resName, uint16_t language)
    {
        std::unique_ptr<T> details(new T());
        static_cast<ResourceDetails&>(*details).SetUp(parent, T::TypeKey(), resName, language);
        return details;
    }
};

// A new object of class T holding a copy of `size` bytes at `data`; with no
// data (a null pointer) it is given T's blank content instead. It is not added
// to the parent: the caller appends it.
template <class T>
std::unique_ptr<T> CreateFromData(ResourceModule* parent, const uint8_t* data, size_t size,
                                  const std::string& resType, const std::string& resName, uint16_t language)
{
    return DetailsFactory::FromData<T>(parent, data, size, resType, resName, language);
}

// A new blank object of class T (type T::TypeKey()), appended to `parent`
// before its blank content is made, and owned by it. Throws qv::Error when
// the module keeps no resources of its own; when making the content fails,
// the object is removed again and the failure passed on.
template <class T>
T& CreateBlank(ResourceModule& parent, const std::string& resName, uint16_t language);

// The same without a parent: a detached object the caller owns.
template <class T>
std::unique_ptr<T> CreateBlank(const std::string& resName, uint16_t language)
{
    auto details = DetailsFactory::Blank<T>(nullptr, resName, language);
    details->InitBlank();
    return details;
}

// Plain text in a single-byte code page.
class AnsiTextResourceDetails : public ResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(AnsiTextResourceDetails)
    void InitBlank() override;
    // The first min(size, 1024) bytes are all 32..127, 9, 10 or 13.
    static bool RecognisesData(size_t size, const uint8_t* data);
};

// Plain text in UTF-16.
class Utf16TextResourceDetails : public ResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(Utf16TextResourceDetails)
    void InitBlank() override;
    // More than 5 bytes, and every examined 16-bit unit is 32..127, 9, 10 or
    // 13: the first 1023 units when there are more than 1024, else all but
    // the last two.
    static bool RecognisesData(size_t size, const uint8_t* data);
};

// A set of resources. The module owns its details objects.
class ResourceModule {
public:
    ResourceModule() = default;
    virtual ~ResourceModule() = default;
    ResourceModule(const ResourceModule&) = delete;
    ResourceModule& operator=(const ResourceModule&) = delete;

    bool Dirty = false;

    virtual int ResourceCount() const = 0;
    // Throws qv::Error "List index out of bounds (i)" outside 0..count-1.
    virtual ResourceDetails& GetResourceDetails(int index) const = 0;
    // Marks the module changed and tells the resource it is leaving; modules
    // that keep a list then free it.
    virtual void RemoveResource(int index);
    // A module that keeps no list drops what it is given; Append then returns -1.
    virtual void InsertResource(int index, std::unique_ptr<ResourceDetails> details);
    virtual int AppendResource(std::unique_ptr<ResourceDetails> details);
    // By identity; -1 when absent.
    virtual int IndexOfResource(const ResourceDetails* details) const = 0;
    // Both throw "Module doesn't support streaming" here.
    virtual void WriteToStream(Stream& stream);
    virtual void ReadFromStream(Stream& stream);
    // Writes the module through WriteToStream; an existing file is first
    // renamed to a backup whose extension gets a "~" in front (a.exe becomes
    // a.~exe) and is put back when writing fails.
    virtual void SaveToFile(const std::string& fileName);
    virtual void LoadFromFile(const std::string& fileName);
    // An extension point modules may give a meaning; nothing calls it.
    virtual void Hook() {}

    void ClearDirty();
    // One more than the largest numeric name among resources of resType, as
    // decimal text ("1" when there is none).
    std::string NextResourceID(const std::string& resType) const;
};

// The numeric identifier a name or type text stands for: a non-empty text of
// the digits 0-9 whose value fits an identifier (at most 65535). Any other
// text is a string identifier.
std::optional<uint16_t> NameToID(std::string_view name);

// The backup name SaveToFile uses for fileName.
std::string BackupFileName(const std::string& fileName);

// The ordered list of details classes the factory consults. Filled with the
// product's classes on first use; reads and changes are thread-safe.
void RegisterDetailsClass(const ResourceDetailsClass& detailsClass);
void UnregisterDetailsClass(const ResourceDetailsClass& detailsClass);
std::vector<const ResourceDetailsClass*> RegisteredDetailsClasses();

// The details object for a resource read from a file (not added to parent):
// the registered class whose TypeKey is resType (for RT_RCDATA "10" only one
// that accepts raw data), else the first registered class that recognises
// the bytes, else a text class, else ResourceDetails. A failure inside the
// first two passes falls through to the next one.
std::unique_ptr<ResourceDetails> CreateDetailsFor(ResourceModule* parent, uint16_t language,
                                                   const std::string& resType, const std::string& resName,
                                                   size_t size, const uint8_t* data);

// Implementation details below.

template <class T>
T& CreateBlank(ResourceModule& parent, const std::string& resName, uint16_t language)
{
    auto owned = DetailsFactory::Blank<T>(&parent, resName, language);
    T& details = *owned;
    if (parent.AppendResource(std::move(owned)) < 0)
        throw Error("Module doesn't keep resources");
    try {
        details.InitBlank();
    } catch (...) {
        // A half-made object does not stay behind in the module.
        if (const int index = parent.IndexOfResource(&details); index >= 0)
            parent.RemoveResource(index);
        throw;
    }
    return details;
}

template <class T>
const ResourceDetailsClass& DetailsClassOf()
{
    static const ResourceDetailsClass descriptor{
        T::kClassName,
        &T::TypeKey,
        &T::AcceptsRawData,
        &T::RecognisesData,
        [](ResourceModule* parent, const uint8_t* data, size_t size, const std::string& resType,
           const std::string& resName, uint16_t language) -> std::unique_ptr<ResourceDetails> {
            return CreateFromData<T>(parent, data, size, resType, resName, language);
        },
        [](ResourceModule& parent, const std::string& resName, uint16_t language) -> ResourceDetails& {
            return CreateBlank<T>(parent, resName, language);
        },
        [](const std::string& resName, uint16_t language) -> std::unique_ptr<ResourceDetails> {
            return CreateBlank<T>(resName, language);
        },
    };
    return descriptor;
}

} // namespace qv
