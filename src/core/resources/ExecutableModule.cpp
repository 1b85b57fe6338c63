#include "quorvane/resources/ExecutableModule.h"

#include "ResourceSupport.h"
#include "quorvane/platform/pe/PeResources.h"

#include <algorithm>

namespace qv {

ResourceDetails& ExecutableModule::GetResourceDetails(int index) const
{
    if (index < 0 || index >= ResourceCount())
        ListIndexError(index);
    return *Resources[static_cast<size_t>(index)];
}

void ExecutableModule::RemoveResource(int index)
{
    ResourceDetails* details = &GetResourceDetails(index);
    ResourceModule::RemoveResource(index);
    const int now = IndexOfResource(details);
    if (now >= 0)
        Resources.erase(Resources.begin() + now);
}

void ExecutableModule::InsertResource(int index, std::unique_ptr<ResourceDetails> details)
{
    if (index < 0 || index > ResourceCount())
        ListIndexError(index);
    Resources.insert(Resources.begin() + index, std::move(details));
}

int ExecutableModule::AppendResource(std::unique_ptr<ResourceDetails> details)
{
    Resources.push_back(std::move(details));
    return ResourceCount() - 1;
}

int ExecutableModule::IndexOfResource(const ResourceDetails* details) const
{
    const auto it = std::find_if(Resources.begin(), Resources.end(),
                                 [details](const auto& owned) { return owned.get() == details; });
    return it == Resources.end() ? -1 : static_cast<int>(it - Resources.begin());
}

void ExecutableModule::LoadFromFile(const std::string& fileName)
{
    // The layer reads the whole file first, so a file that cannot be read
    // leaves the module as it was.
    std::vector<pe::ResourceEntry> entries = pe::ReadResources(fileName);
    Resources.clear();
    for (pe::ResourceEntry& entry : entries)
        Resources.push_back(
            CreateDetailsFor(this, entry.language, entry.type, entry.name, entry.data.size(), entry.data.data()));
}

void ExecutableModule::SaveToFile(const std::string& fileName)
{
    std::vector<pe::ResourceEntry> entries;
    entries.reserve(Resources.size());
    for (const auto& details : Resources) {
        const MemoryStream& data = details->Data();
        entries.push_back(pe::ResourceEntry{details->ResType, details->ResName, details->Language,
                                            std::vector<uint8_t>(data.Data(), data.Data() + data.Size())});
    }
    pe::ReplaceResources(fileName, entries);
    ClearDirty();
}

} // namespace qv
