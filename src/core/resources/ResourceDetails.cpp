#include "quorvane/resources/ResourceDetails.h"

#include "quorvane/base/LittleEndian.h"
#include "quorvane/platform/CodePage.h"
#include "quorvane/resources/PictureResources.h"
#include "quorvane/resources/VersionResource.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <system_error>

namespace qv {

void ResourceDetails::SetUp(ResourceModule* parent, const std::string& resType, const std::string& resName,
                             uint16_t language)
{
    Parent = parent;
    ResType = resType;
    ResName = resName;
    Language = language;
    CodePage = codepage::CodePageOfLanguage(language);
}

void ResourceDetails::FillFromData(const uint8_t* data, size_t size)
{
    if (data == nullptr) {
        InitBlank();
        return;
    }
    data_.Write(data, size);
    data_.Seek(0);
}

void ResourceDetails::Rename(const std::string& newName)
{
    if (newName == ResName)
        return;
    ResName = newName;
    Dirty = true;
}

bool ResourceDetails::AcceptsRawData(const std::string&, size_t, const uint8_t*)
{
    return false;
}

bool ResourceDetails::RecognisesData(size_t, const uint8_t*)
{
    return false;
}

void ResourceDetails::ReplaceData(Stream& source)
{
    data_.Clear();
    data_.CopyFrom(source, 0);
    data_.Seek(0);
}

namespace {

bool IsTextByte(unsigned value)
{
    return (value >= 32 && value <= 127) || value == 9 || value == 10 || value == 13;
}

} // namespace

void AnsiTextResourceDetails::InitBlank()
{
    Data().Clear();
}

bool AnsiTextResourceDetails::RecognisesData(size_t size, const uint8_t* data)
{
    if (size == 0 || data == nullptr)
        return false;
    const size_t examined = std::min<size_t>(size, 1024);
    return std::all_of(data, data + examined, [](uint8_t b) { return IsTextByte(b); });
}

void Utf16TextResourceDetails::InitBlank()
{
    Data().Clear();
}

bool Utf16TextResourceDetails::RecognisesData(size_t size, const uint8_t* data)
{
    if (size <= 5 || data == nullptr)
        return false;
    const size_t units = size / 2;
    const size_t examined = units > 1024 ? 1023 : units - 2;
    const LeReader text({data, size});
    for (size_t i = 0; i < examined; ++i)
        if (!IsTextByte(text.Get<uint16_t>(2 * i)))
            return false;
    return true;
}

namespace {

[[noreturn]] void NoStreaming()
{
    throw Error("Module doesn't support streaming");
}

} // namespace

void ResourceModule::RemoveResource(int index)
{
    ResourceDetails& details = GetResourceDetails(index);
    Dirty = true;
    details.Detach();
}

void ResourceModule::InsertResource(int, std::unique_ptr<ResourceDetails>) {}

int ResourceModule::AppendResource(std::unique_ptr<ResourceDetails>)
{
    return -1;
}

void ResourceModule::WriteToStream(Stream&)
{
    NoStreaming();
}

void ResourceModule::ReadFromStream(Stream&)
{
    NoStreaming();
}

std::string BackupFileName(const std::string& fileName)
{
    std::filesystem::path path(fileName);
    std::string extension = path.extension().string();
    if (!extension.empty())
        extension.erase(0, 1);
    path.replace_extension(".~" + extension);
    return path.string();
}

void ResourceModule::SaveToFile(const std::string& fileName)
{
    namespace fs = std::filesystem;
    const std::string backup = BackupFileName(fileName);
    std::error_code ec;
    const bool hadFile = fs::exists(fileName, ec);
    if (hadFile) {
        if (fs::exists(backup, ec) && !fs::remove(backup, ec))
            RaiseOsError("Cannot delete file", backup, ec.value());
        fs::rename(fileName, backup, ec);
        if (ec)
            RaiseOsError("Cannot rename file", fileName, ec.value());
    }
    try {
        FileStream file(fileName, FileStream::Mode::Create);
        WriteToStream(file);
        file.Close();
        ClearDirty();
    } catch (...) {
        fs::remove(fileName, ec);
        if (hadFile)
            fs::rename(backup, fileName, ec);
        throw;
    }
}

void ResourceModule::LoadFromFile(const std::string& fileName)
{
    FileStream file(fileName, FileStream::Mode::OpenRead);
    ReadFromStream(file);
}

void ResourceModule::ClearDirty()
{
    Dirty = false;
    for (int i = 0; i < ResourceCount(); ++i)
        GetResourceDetails(i).Dirty = false;
}

std::string ResourceModule::NextResourceID(const std::string& resType) const
{
    uint32_t largest = 0;
    for (int i = 0; i < ResourceCount(); ++i) {
        const ResourceDetails& details = GetResourceDetails(i);
        if (details.ResType != resType)
            continue;
        if (const auto id = NameToID(details.ResName))
            largest = std::max<uint32_t>(largest, *id);
    }
    return std::to_string(largest + 1);
}

std::optional<uint16_t> NameToID(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    uint32_t value = 0;
    for (char c : name) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > 0xFFFF)
            return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

namespace {

struct Registry {
    std::shared_mutex lock;
    std::vector<const ResourceDetailsClass*> classes;

    Registry()
    {
        for (const ResourceDetailsClass* c :
             {&BitmapResourceDetails::Class(), &BitmapFileResourceDetails::Class(), &IconGroupResourceDetails::Class(),
              &CursorGroupResourceDetails::Class(), &IconImageResourceDetails::Class(),
              &CursorImageResourceDetails::Class(), &VersionInfoResourceDetails::Class()})
            Add(*c);
    }

    // The list grows ten entries at a time.
    void Add(const ResourceDetailsClass& detailsClass)
    {
        if (classes.size() == classes.capacity())
            classes.reserve(classes.capacity() + 10);
        classes.push_back(&detailsClass);
    }
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

} // namespace

void RegisterDetailsClass(const ResourceDetailsClass& detailsClass)
{
    Registry& r = TheRegistry();
    std::unique_lock guard(r.lock);
    r.Add(detailsClass);
}

void UnregisterDetailsClass(const ResourceDetailsClass& detailsClass)
{
    Registry& r = TheRegistry();
    std::unique_lock guard(r.lock);
    std::erase(r.classes, &detailsClass);
}

std::vector<const ResourceDetailsClass*> RegisteredDetailsClasses()
{
    Registry& r = TheRegistry();
    std::shared_lock guard(r.lock);
    return r.classes;
}

std::unique_ptr<ResourceDetails> CreateDetailsFor(ResourceModule* parent, uint16_t language,
                                                   const std::string& resType, const std::string& resName,
                                                   size_t size, const uint8_t* data)
{
    // Resources read from a file always have data, even when it is empty: a
    // null pointer would ask for blank content instead.
    static const uint8_t kNoBytes = 0;
    if (data == nullptr) {
        if (size != 0)
            throw Error("Resource data missing");
        data = &kNoBytes;
    }
    // A snapshot, so a class test never runs under the registry's lock.
    const auto classes = RegisteredDetailsClasses();

    if (!resType.empty()) {
        try {
            for (const ResourceDetailsClass* c : classes) {
                if (c->TypeKey() != resType)
                    continue;
                if (resType == "10" && !c->AcceptsRawData(resName, size, data))
                    continue;
                return c->CreateFromData(parent, data, size, resType, resName, language);
            }
        } catch (const std::exception&) {
        }
    }

    try {
        for (const ResourceDetailsClass* c : classes)
            if (c->RecognisesData(size, data))
                return c->CreateFromData(parent, data, size, resType, resName, language);
    } catch (const std::exception&) {
    }

    if (AnsiTextResourceDetails::RecognisesData(size, data))
        return CreateFromData<AnsiTextResourceDetails>(parent, data, size, resType, resName, language);
    if (Utf16TextResourceDetails::RecognisesData(size, data))
        return CreateFromData<Utf16TextResourceDetails>(parent, data, size, resType, resName, language);
    return CreateFromData<ResourceDetails>(parent, data, size, resType, resName, language);
}

} // namespace qv
