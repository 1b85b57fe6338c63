#include "ExeTools.h"
#include "IconFiles.h"
#include "TestSupport.h"

#include "quorvane/base/Error.h"
#include "quorvane/resources/ExecutableModule.h"
#include "quorvane/resources/ResourceDetails.h"
#include "quorvane/resources/PictureResources.h"
#include "quorvane/resources/VersionResource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <filesystem>
#include <string>
#include <vector>

using namespace qv;
using qvtest::GroupEntries;
using qvtest::GroupEntry;

namespace {

std::vector<uint8_t> Bytes(const ResourceDetails& d)
{
    return d.Data().Bytes();
}

std::vector<uint8_t> Text(const std::string& s)
{
    return {s.begin(), s.end()};
}

ResourceDetails& Add(ResourceModule& module, const std::string& type, const std::string& name,
                      const std::vector<uint8_t>& bytes, uint16_t language = 0)
{
    auto details = CreateDetailsFor(&module, language, type, name, bytes.size(), bytes.data());
    ResourceDetails& ref = *details;
    EXPECT_GE(module.AppendResource(std::move(details)), 0);
    return ref;
}

// Group data naming the given images, each entry otherwise distinct.
std::vector<uint8_t> GroupData(std::initializer_list<uint16_t> ids, uint16_t type = 1)
{
    std::vector<uint8_t> out;
    qvtest::AppendLe(out, 0, 2);
    qvtest::AppendLe(out, type, 2);
    qvtest::AppendLe(out, static_cast<uint32_t>(ids.size()), 2);
    for (uint16_t id : ids) {
        out.insert(out.end(), {static_cast<uint8_t>(id), static_cast<uint8_t>(id), 0, 0});
        qvtest::AppendLe(out, 1, 2);
        qvtest::AppendLe(out, 32, 2);
        qvtest::AppendLe(out, 1000u + id, 4);
        qvtest::AppendLe(out, id, 2);
    }
    return out;
}

std::vector<std::string> Names(const ResourceModule& module)
{
    std::vector<std::string> out;
    for (int i = 0; i < module.ResourceCount(); ++i)
        out.push_back(module.GetResourceDetails(i).ResType + "/" + module.GetResourceDetails(i).ResName);
    return out;
}

std::vector<uint8_t> BitmapFileBytes(uint32_t infoSize)
{
    std::vector<uint8_t> out = {'B', 'M'};
    out.resize(14 + std::max<uint32_t>(infoSize, 40), 0);
    qvtest::PutLe(out, 2, static_cast<uint32_t>(out.size()), 4);
    qvtest::PutLe(out, 10, 14 + infoSize, 4);
    qvtest::PutLe(out, 14, infoSize, 4);
    qvtest::PutLe(out, 18, 5, 4);
    qvtest::PutLe(out, 22, static_cast<uint32_t>(-3), 4);
    qvtest::PutLe(out, 28, 24, 2);
    return out;
}

template <class T>
bool Is(const ResourceDetails& d)
{
    return &d.DetailsClass() == &T::Class();
}

} // namespace

TEST(ResourceNames, NameToIdTakesOnlyDigitTextsThatFit)
{
    EXPECT_EQ(NameToID("7"), 7);
    EXPECT_EQ(NameToID("007"), 7);
    EXPECT_EQ(NameToID("0"), 0);
    EXPECT_EQ(NameToID("65535"), 65535);
    EXPECT_EQ(NameToID("65536"), std::nullopt);
    EXPECT_EQ(NameToID("99999999999999999999"), std::nullopt);
    EXPECT_EQ(NameToID(""), std::nullopt);
    EXPECT_EQ(NameToID("7A"), std::nullopt);
    EXPECT_EQ(NameToID("-1"), std::nullopt);
    EXPECT_EQ(NameToID(" 1"), std::nullopt);
    EXPECT_EQ(NameToID("MAINICON"), std::nullopt);
}

TEST(ResourceNames, NextResourceIdCountsNumericNamesOfOneType)
{
    ExecutableModule module;
    EXPECT_EQ(module.NextResourceID("3"), "1");
    Add(module, "3", "7", qvtest::NoiseBytes(10));
    Add(module, "3", "2", qvtest::NoiseBytes(10));
    Add(module, "3", "ICONX", qvtest::NoiseBytes(10));
    Add(module, "3", "99999", qvtest::NoiseBytes(10)); // too big to be a number
    Add(module, "6", "40", qvtest::NoiseBytes(10));
    EXPECT_EQ(module.NextResourceID("3"), "8");
    EXPECT_EQ(module.NextResourceID("6"), "41");
    EXPECT_EQ(module.NextResourceID("14"), "1");
}

TEST(ResourceBackup, BackupNameMovesTheExtensionBehindATilde)
{
    EXPECT_EQ(BackupFileName("a.exe"), "a.~exe");
    EXPECT_EQ(BackupFileName("dir.d/viewer.exe"), "dir.d/viewer.~exe");
    EXPECT_EQ(BackupFileName("noext"), "noext.~");
}

TEST(ResourceFactory, RegistryHoldsTheSevenClassesInOrder)
{
    std::vector<std::string> names;
    std::vector<std::string> keys;
    for (const ResourceDetailsClass* c : RegisteredDetailsClasses()) {
        names.emplace_back(c->Name);
        keys.push_back(c->TypeKey());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"BitmapResourceDetails", "BitmapFileResourceDetails",
                                               "IconGroupResourceDetails", "CursorGroupResourceDetails",
                                               "IconImageResourceDetails", "CursorImageResourceDetails",
                                               "VersionInfoResourceDetails"}));
    EXPECT_EQ(keys, (std::vector<std::string>{"2", "DIB", "14", "12", "3", "1", "16"}));
}

TEST(ResourceFactory, TypeKeysPickTheirClassesAndKeepTheBytes)
{
    const auto bytes = qvtest::NoiseBytes(300, 9);
    struct Case {
        const char* type;
        const ResourceDetailsClass* cls;
    } cases[] = {{"2", &BitmapResourceDetails::Class()},      {"DIB", &BitmapFileResourceDetails::Class()},
                 {"14", &IconGroupResourceDetails::Class()},  {"12", &CursorGroupResourceDetails::Class()},
                 {"3", &IconImageResourceDetails::Class()},        {"1", &CursorImageResourceDetails::Class()},
                 {"16", &VersionInfoResourceDetails::Class()}, {"24", &ResourceDetails::Class()}};
    ExecutableModule module;
    for (const Case& c : cases) {
        auto d = CreateDetailsFor(&module, 1049, c.type, "NAME", bytes.size(), bytes.data());
        EXPECT_EQ(&d->DetailsClass(), c.cls) << c.type;
        EXPECT_EQ(Bytes(*d), bytes) << c.type;
        EXPECT_EQ(d->ResType, c.type);
        EXPECT_EQ(d->ResName, "NAME");
        EXPECT_EQ(d->Language, 1049);
        EXPECT_EQ(d->CodePage, 1251);
        EXPECT_EQ(d->Parent, &module);
        EXPECT_FALSE(d->Dirty);
    }
    EXPECT_EQ(module.ResourceCount(), 0); // made for the module, not added to it
}

TEST(ResourceFactory, RawDataAndUnknownTypesAreJudgedByContent)
{
    const auto utf16 = [](const std::string& s) {
        std::vector<uint8_t> out;
        for (char c : s)
            out.insert(out.end(), {static_cast<uint8_t>(c), 0});
        return out;
    };
    struct Case {
        const char* type;
        std::vector<uint8_t> bytes;
        const ResourceDetailsClass* cls;
    } cases[] = {
        {"10", BitmapFileBytes(40), &BitmapFileResourceDetails::Class()},
        {"10", BitmapFileBytes(108), &BitmapFileResourceDetails::Class()},
        {"10", BitmapFileBytes(124), &BitmapFileResourceDetails::Class()},
        {"10", BitmapFileBytes(12), &ResourceDetails::Class()},
        {"10", Text("Hello,\r\n\tworld"), &AnsiTextResourceDetails::Class()},
        {"10", utf16("Hello, world"), &Utf16TextResourceDetails::Class()},
        {"10", qvtest::NoiseBytes(64, 3), &ResourceDetails::Class()},
        {"10", {}, &ResourceDetails::Class()},
        {"MYDATA", BitmapFileBytes(40), &BitmapFileResourceDetails::Class()},
        {"", Text("plain"), &AnsiTextResourceDetails::Class()},
        {"23", Text("<html></html>"), &AnsiTextResourceDetails::Class()},
    };
    for (const Case& c : cases) {
        auto d = CreateDetailsFor(nullptr, 0, c.type, "X", c.bytes.size(), c.bytes.data());
        EXPECT_EQ(&d->DetailsClass(), c.cls) << c.type << " " << c.bytes.size();
        EXPECT_EQ(Bytes(*d), c.bytes);
    }

    // A bitmap file needs zero reserved words.
    auto bad = BitmapFileBytes(40);
    bad[6] = 1;
    EXPECT_FALSE(BitmapFileResourceDetails::RecognisesData(bad.size(), bad.data()));
    EXPECT_FALSE(BitmapFileResourceDetails::RecognisesData(17, BitmapFileBytes(40).data()));
}

TEST(ResourceFactory, ZeroLengthResourceStaysEmpty)
{
    // Read from a file, an empty icon image is an empty icon image, not a
    // blank picture.
    auto d = CreateDetailsFor(nullptr, 0, "3", "1", 0, nullptr);
    EXPECT_TRUE(Is<IconImageResourceDetails>(*d));
    EXPECT_EQ(d->Data().Size(), 0);
}

TEST(ResourceText, AnsiLooksAtTheFirst1024Bytes)
{
    std::vector<uint8_t> t(2000, 'a');
    EXPECT_TRUE(AnsiTextResourceDetails::RecognisesData(t.size(), t.data()));
    EXPECT_FALSE(AnsiTextResourceDetails::RecognisesData(0, t.data()));
    t[1024] = 0x80;
    EXPECT_TRUE(AnsiTextResourceDetails::RecognisesData(t.size(), t.data()));
    t[1023] = 0x80;
    EXPECT_FALSE(AnsiTextResourceDetails::RecognisesData(t.size(), t.data()));
    for (uint8_t b : {uint8_t{9}, uint8_t{10}, uint8_t{13}, uint8_t{32}, uint8_t{127}})
        EXPECT_TRUE(AnsiTextResourceDetails::RecognisesData(1, &b)) << int(b);
    for (uint8_t b : {uint8_t{0}, uint8_t{8}, uint8_t{11}, uint8_t{31}, uint8_t{128}, uint8_t{255}})
        EXPECT_FALSE(AnsiTextResourceDetails::RecognisesData(1, &b)) << int(b);
}

TEST(ResourceText, UnicodeSkipsTheLastTwoUnitsOrLooksAt1023)
{
    auto units = [](size_t n) {
        std::vector<uint8_t> out;
        for (size_t i = 0; i < n; ++i)
            out.insert(out.end(), {'a', 0});
        return out;
    };
    auto t = units(3);
    EXPECT_FALSE(Utf16TextResourceDetails::RecognisesData(5, t.data()));
    t[0] = 1; // of three units only the first is examined
    EXPECT_FALSE(Utf16TextResourceDetails::RecognisesData(6, t.data()));
    t = units(3);
    t[2] = 1; // the last two units are not
    t[5] = 0x12;
    EXPECT_TRUE(Utf16TextResourceDetails::RecognisesData(6, t.data()));
    EXPECT_TRUE(Utf16TextResourceDetails::RecognisesData(7, t.data()));

    t = units(1025); // more than 1024 units: the first 1023
    t[2 * 1023] = 1;
    EXPECT_TRUE(Utf16TextResourceDetails::RecognisesData(t.size(), t.data()));
    t[2 * 1022 + 1] = 1; // high byte makes unit 1022 no text
    EXPECT_FALSE(Utf16TextResourceDetails::RecognisesData(t.size(), t.data()));

    t = units(1024); // exactly 1024: all but the last two
    t[2 * 1022] = 1;
    EXPECT_TRUE(Utf16TextResourceDetails::RecognisesData(t.size(), t.data()));
    t[2 * 1021] = 1;
    EXPECT_FALSE(Utf16TextResourceDetails::RecognisesData(t.size(), t.data()));
}

namespace {

// Classes that fail inside the factory's tests.
class RawDataThrows : public ResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(RawDataThrows)
    static std::string TypeKey() { return "10"; }
    static bool AcceptsRawData(const std::string& name, size_t, const uint8_t*)
    {
        if (name == "BOOM")
            throw Error("test failure");
        return name == "MINE";
    }
};

class RecogniserThrows : public ResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(RecogniserThrows)
    static bool RecognisesData(size_t size, const uint8_t*)
    {
        if (size == 7)
            throw Error("test failure");
        return false;
    }
};

struct Registered {
    const ResourceDetailsClass& c;
    explicit Registered(const ResourceDetailsClass& cls, bool front = false) : c(cls)
    {
        if (!front) {
            RegisterDetailsClass(c);
            return;
        }
        auto rest = RegisteredDetailsClasses();
        for (auto* r : rest)
            UnregisterDetailsClass(*r);
        RegisterDetailsClass(c);
        for (auto* r : rest)
            RegisterDetailsClass(*r);
    }
    ~Registered() { UnregisterDetailsClass(c); }
};

} // namespace

TEST(ResourceFactory, FailuresInATestFallThroughToTheNextPass)
{
    const auto dib = BitmapFileBytes(40);
    {
        Registered raw(RawDataThrows::Class());
        auto mine = CreateDetailsFor(nullptr, 0, "10", "MINE", dib.size(), dib.data());
        EXPECT_TRUE(Is<RawDataThrows>(*mine));
        auto boom = CreateDetailsFor(nullptr, 0, "10", "BOOM", dib.size(), dib.data());
        EXPECT_TRUE(Is<BitmapFileResourceDetails>(*boom));
        auto other = CreateDetailsFor(nullptr, 0, "10", "OTHER", dib.size(), dib.data());
        EXPECT_TRUE(Is<BitmapFileResourceDetails>(*other));
    }
    {
        // First in the list, its failure ends the second pass before the
        // bitmap class is asked: the text classes decide.
        Registered rec(RecogniserThrows::Class(), true);
        const auto text = Text("1234567");
        auto t = CreateDetailsFor(nullptr, 0, "77", "X", text.size(), text.data());
        EXPECT_TRUE(Is<AnsiTextResourceDetails>(*t));
        auto bitmap = CreateDetailsFor(nullptr, 0, "77", "X", dib.size(), dib.data());
        EXPECT_TRUE(Is<BitmapFileResourceDetails>(*bitmap));
    }
    EXPECT_EQ(RegisteredDetailsClasses().size(), 7u);
}

TEST(ResourceFactory, LookupsRunWhileTheRegistryChanges)
{
    const auto dib = BitmapFileBytes(40);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                auto icon = CreateDetailsFor(nullptr, 0, "3", "1", dib.size(), dib.data());
                auto bitmap = CreateDetailsFor(nullptr, 0, "77", "1", dib.size(), dib.data());
                wrong += !Is<IconImageResourceDetails>(*icon) || !Is<BitmapFileResourceDetails>(*bitmap);
            }
        });
    std::thread writer([&] {
        while (!stop) {
            RegisterDetailsClass(RecogniserThrows::Class());
            UnregisterDetailsClass(RecogniserThrows::Class());
        }
    });
    for (auto& r : readers)
        r.join();
    stop = true;
    writer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(RegisteredDetailsClasses().size(), 7u);
}

TEST(ResourceFactory, UnregisterRemovesEveryOccurrence)
{
    const auto before = RegisteredDetailsClasses();
    RegisterDetailsClass(BitmapFileResourceDetails::Class());
    EXPECT_EQ(RegisteredDetailsClasses().size(), 8u);
    UnregisterDetailsClass(BitmapFileResourceDetails::Class());
    auto now = RegisteredDetailsClasses();
    EXPECT_EQ(now.size(), 6u);
    const auto dib = BitmapFileBytes(40);
    EXPECT_TRUE(Is<ResourceDetails>(*CreateDetailsFor(nullptr, 0, "10", "X", dib.size(), dib.data())));
    for (auto* c : now)
        UnregisterDetailsClass(*c);
    for (auto* c : before)
        RegisterDetailsClass(*c);
    EXPECT_EQ(RegisteredDetailsClasses(), before);
}

TEST(ResourceDetails, RenameReplaceDataAndDirtyFlags)
{
    ExecutableModule module;
    auto& d = Add(module, "6", "1", Text("abc"));
    d.Rename("1");
    EXPECT_FALSE(d.Dirty);
    d.Rename("2");
    EXPECT_TRUE(d.Dirty);
    EXPECT_EQ(d.ResName, "2");

    MemoryStream source(Text("new bytes"));
    source.Seek(4); // the whole stream counts, not what is left of it
    d.ReplaceData(source);
    EXPECT_EQ(Bytes(d), Text("new bytes"));

    module.Dirty = true;
    module.ClearDirty();
    EXPECT_FALSE(module.Dirty);
    EXPECT_FALSE(d.Dirty);
}

TEST(ResourceDetails, CreateFromDataWithoutBytesMakesBlankContent)
{
    auto image = CreateFromData<IconImageResourceDetails>(nullptr, nullptr, 0, "3", "1", 0);
    EXPECT_EQ(Bytes(*image), qvtest::ExpectedBlankPicture());
    auto text = CreateFromData<AnsiTextResourceDetails>(nullptr, nullptr, 0, "6", "1", 0);
    EXPECT_EQ(text->Data().Size(), 0);
}

TEST(ResourceBlank, BlankIconImageIsTheTransparent744BytePicture)
{
    const auto expected = qvtest::ExpectedBlankPicture();
    ASSERT_EQ(expected.size(), 744u);
    EXPECT_EQ(BlankIconImage(), expected);

    auto icon = CreateBlank<IconImageResourceDetails>("9", 0);
    EXPECT_EQ(Bytes(*icon), expected);
    EXPECT_EQ(icon->ResType, "3");
    EXPECT_EQ(icon->Parent, nullptr);
    EXPECT_EQ(icon->GetWidth(), 32);
    EXPECT_EQ(icon->GetHeight(), 32);
    EXPECT_EQ(icon->GetPixelFormat(), PixelFormat::pf4bit);

    auto cursor = CreateBlank<CursorImageResourceDetails>("9", 0);
    std::vector<uint8_t> withHotspot = {16, 0, 16, 0};
    withHotspot.insert(withHotspot.end(), expected.begin(), expected.end());
    EXPECT_EQ(Bytes(*cursor), withHotspot);
    EXPECT_EQ(cursor->ResType, "1");
    EXPECT_EQ(cursor->GetWidth(), 32);
}

TEST(ResourceBlank, BlankGroupBringsOneBlankImageNumberedAboveTheOthers)
{
    ExecutableModule module;
    Add(module, "3", "1", qvtest::NoiseBytes(50));
    Add(module, "3", "5", qvtest::NoiseBytes(50));
    Add(module, "3", "NAMED", qvtest::NoiseBytes(50));
    Add(module, "1", "9", qvtest::NoiseBytes(50)); // a cursor image does not count

    auto& group = CreateBlank<IconGroupResourceDetails>(module, "MAINICON", 1031);
    EXPECT_EQ(Names(module), (std::vector<std::string>{"3/1", "3/5", "3/NAMED", "1/9", "14/MAINICON", "3/6"}));
    EXPECT_EQ(group.ResType, "14");
    EXPECT_EQ(group.Language, 1031);
    EXPECT_EQ(group.CodePage, 1252);
    EXPECT_FALSE(group.Dirty);
    const auto& image = module.GetResourceDetails(5);
    EXPECT_TRUE(Is<IconImageResourceDetails>(image));
    EXPECT_EQ(image.Language, 1031);
    EXPECT_EQ(Bytes(image), qvtest::ExpectedBlankPicture());

    EXPECT_EQ(qvtest::GetLe(Bytes(group), 0, 2), 0u);
    EXPECT_EQ(qvtest::GetLe(Bytes(group), 2, 2), 1u);
    EXPECT_EQ(GroupEntries(Bytes(group)), (std::vector<GroupEntry>{{32, 32, 16, 0, 1, 4, 744, 6}}));
    EXPECT_EQ(group.GetResourceDetails(0), &image);

    auto& cursors = CreateBlank<CursorGroupResourceDetails>(module, "POINTER", 0);
    EXPECT_EQ(qvtest::GetLe(Bytes(cursors), 2, 2), 2u);
    EXPECT_EQ(GroupEntries(Bytes(cursors)), (std::vector<GroupEntry>{{32, 32, 16, 0, 1, 4, 748, 10}}));
    EXPECT_EQ(module.GetResourceDetails(module.ResourceCount() - 1).ResType, "1");
}

TEST(ResourceBlank, DetachedGroupHasNoEntries)
{
    auto group = CreateBlank<IconGroupResourceDetails>("MAINICON", 0);
    EXPECT_EQ(Bytes(*group), (std::vector<uint8_t>{0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(group->EntryCount(), 0);
}

namespace {

// A module that keeps no list of its own.
class ListlessModule : public ResourceModule {
public:
    int ResourceCount() const override { return 0; }
    ResourceDetails& GetResourceDetails(int index) const override { throw Error("no " + std::to_string(index)); }
    int IndexOfResource(const ResourceDetails*) const override { return -1; }
};

// A module that writes its resources' bytes one after another.
class ConcatModule : public ListlessModule {
public:
    std::vector<uint8_t> content;
    bool fail = false;
    void WriteToStream(Stream& stream) override
    {
        stream.Write(content.data(), content.size() / 2);
        if (fail)
            throw Error("disk full");
        stream.Write(content.data() + content.size() / 2, content.size() - content.size() / 2);
    }
};

} // namespace

TEST(ResourceModuleBase, StreamingAndAddingAreRefused)
{
    ListlessModule module;
    MemoryStream s;
    try {
        module.WriteToStream(s);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Module doesn't support streaming");
    }
    EXPECT_THROW(module.ReadFromStream(s), Error);
    EXPECT_EQ(module.AppendResource(CreateBlank<AnsiTextResourceDetails>("1", 0)), -1);
    EXPECT_THROW(CreateBlank<IconGroupResourceDetails>(module, "G", 0), Error);

    qvtest::TempDir dir;
    qvtest::WriteFile(dir / "m.res", Text("xyz"));
    try {
        module.LoadFromFile((dir / "m.res").string());
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Module doesn't support streaming");
    }
    EXPECT_THROW(module.LoadFromFile((dir / "absent.res").string()), OsError);
}

TEST(ResourceModuleBase, SaveToFileKeepsABackupAndRestoresItOnFailure)
{
    qvtest::TempDir dir;
    const auto file = dir / "a.exe";
    const auto backup = dir / "a.~exe";
    ConcatModule module;
    module.content = Text("first version");
    module.Dirty = true;
    module.SaveToFile(file.string()); // no file yet: no backup
    EXPECT_EQ(qvtest::ReadFile(file), Text("first version"));
    EXPECT_FALSE(std::filesystem::exists(backup));
    EXPECT_FALSE(module.Dirty);

    qvtest::WriteFile(backup, Text("stale backup"));
    module.content = Text("second version");
    module.SaveToFile(file.string());
    EXPECT_EQ(qvtest::ReadFile(file), Text("second version"));
    EXPECT_EQ(qvtest::ReadFile(backup), Text("first version"));

    module.content = Text("third version");
    module.fail = true;
    module.Dirty = true;
    try {
        module.SaveToFile(file.string());
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    EXPECT_EQ(qvtest::ReadFile(file), Text("second version"));
    EXPECT_FALSE(std::filesystem::exists(backup));
    EXPECT_TRUE(module.Dirty);
}

TEST(ResourceModule, ListMaintenanceAndIndexErrors)
{
    ExecutableModule module;
    auto& a = Add(module, "6", "1", Text("a"));
    auto& c = Add(module, "6", "3", Text("c"));
    module.InsertResource(1, CreateFromData<AnsiTextResourceDetails>(&module, Text("b").data(), 1, "6", "2", 0));
    EXPECT_EQ(Names(module), (std::vector<std::string>{"6/1", "6/2", "6/3"}));
    EXPECT_EQ(module.IndexOfResource(&a), 0);
    EXPECT_EQ(module.IndexOfResource(&c), 2);
    EXPECT_EQ(&module.GetResourceDetails(2), &c);
    auto stray = CreateBlank<AnsiTextResourceDetails>("9", 0);
    EXPECT_EQ(module.IndexOfResource(stray.get()), -1);
    try {
        module.GetResourceDetails(3);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (3)");
    }
    EXPECT_THROW(module.RemoveResource(-1), Error);
    EXPECT_THROW(module.InsertResource(5, CreateBlank<AnsiTextResourceDetails>("9", 0)), Error);

    module.RemoveResource(0);
    EXPECT_TRUE(module.Dirty);
    EXPECT_EQ(Names(module), (std::vector<std::string>{"6/2", "6/3"}));
}

TEST(ResourceGroups, RemovingAnImageTakesItsEntryFromTheFirstGroupOnly)
{
    ExecutableModule module;
    for (const char* name : {"1", "2", "3"})
        Add(module, "3", name, qvtest::NoiseBytes(40));
    auto& first = Add(module, "14", "A", GroupData({1, 2}));
    auto& second = Add(module, "14", "B", GroupData({2, 3}));
    auto& cursorGroup = Add(module, "12", "C", GroupData({2}, 2));
    ASSERT_TRUE(Is<IconGroupResourceDetails>(first));

    module.RemoveResource(1); // image 2
    EXPECT_EQ(Names(module), (std::vector<std::string>{"3/1", "3/3", "14/A", "14/B", "12/C"}));
    EXPECT_EQ(GroupEntries(Bytes(first)), GroupEntries(GroupData({1})));
    EXPECT_EQ(GroupEntries(Bytes(second)), GroupEntries(GroupData({2, 3})));
    EXPECT_EQ(GroupEntries(Bytes(cursorGroup)), GroupEntries(GroupData({2}, 2)));

    // The group's last image takes the group with it.
    module.RemoveResource(0);
    EXPECT_EQ(Names(module), (std::vector<std::string>{"3/3", "14/B", "12/C"}));
}

TEST(ResourceGroups, RemovingAGroupRemovesItsImagesAndNothingElse)
{
    ExecutableModule module;
    for (const char* name : {"1", "2", "3", "4"})
        Add(module, "3", name, qvtest::NoiseBytes(40));
    Add(module, "14", "A", GroupData({3, 1}));
    Add(module, "14", "B", GroupData({4}));
    module.ClearDirty();
    module.RemoveResource(4);
    EXPECT_EQ(Names(module), (std::vector<std::string>{"3/2", "3/4", "14/B"}));
    EXPECT_TRUE(module.Dirty);
}

TEST(ResourceGroups, GroupFindsImagesByNumberWhateverTheirLanguage)
{
    ExecutableModule module;
    auto& group = Add(module, "14", "G", GroupData({7, 8}));
    Add(module, "1", "7", qvtest::NoiseBytes(10));        // a cursor, not an icon
    auto& icon7 = Add(module, "3", "7", qvtest::NoiseBytes(10), 1033);
    Add(module, "3", "007", qvtest::NoiseBytes(10), 0);   // also 7, but later
    auto* g = dynamic_cast<IconGroupResourceDetails*>(&group);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetResourceDetails(0), &icon7);
    EXPECT_EQ(g->GetResourceDetails(1), nullptr);
    try {
        g->GetResourceDetails(2);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (2)");
    }
}

TEST(ResourceGroups, MissingImageFailsTheGroupsDetachWithTheIndexError)
{
    ExecutableModule module;
    Add(module, "3", "1", qvtest::NoiseBytes(10));
    auto& group = dynamic_cast<IconGroupResourceDetails&>(Add(module, "14", "G", GroupData({1, 5})));
    try {
        group.Detach();
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (-1)");
    }
    EXPECT_FALSE(group.Clearing);
    EXPECT_EQ(Names(module), (std::vector<std::string>{"14/G"}));
    EXPECT_EQ(GroupEntries(Bytes(group)), GroupEntries(GroupData({5})));
}

TEST(ResourceGroups, ShortOrOverstatedGroupDataIsReadOnlyAsFarAsItGoes)
{
    ExecutableModule module;
    Add(module, "3", "1", qvtest::NoiseBytes(10));
    auto data = GroupData({1});
    data[4] = 9; // claims nine entries, holds one
    auto& group = dynamic_cast<IconGroupResourceDetails&>(Add(module, "14", "G", data));
    EXPECT_EQ(group.EntryCount(), 1);
    EXPECT_THROW(group.GetResourceDetails(1), Error);
    auto& tiny = dynamic_cast<IconGroupResourceDetails&>(Add(module, "14", "T", {0, 0, 1}));
    EXPECT_EQ(tiny.EntryCount(), 0);
    module.RemoveResource(module.IndexOfResource(&tiny));
    module.RemoveResource(module.IndexOfResource(&group));
    EXPECT_EQ(module.ResourceCount(), 0);
}

TEST(ResourceGraphics, BitmapQueriesReadTheInfoHeader)
{
    auto bmp = BitmapFileBytes(40);
    auto dib = CreateFromData<BitmapFileResourceDetails>(nullptr, bmp.data(), bmp.size(), "DIB", "X", 0);
    EXPECT_EQ(dib->GetWidth(), 5);
    EXPECT_EQ(dib->GetHeight(), 3); // top-down bitmaps have a negative height
    EXPECT_EQ(dib->GetPixelFormat(), PixelFormat::pf24bit);
    const std::vector<uint8_t> info(bmp.begin() + 14, bmp.end());
    auto plain = CreateFromData<BitmapResourceDetails>(nullptr, info.data(), info.size(), "2", "X", 0);
    EXPECT_EQ(plain->GetWidth(), 5);
    auto cut = CreateFromData<BitmapResourceDetails>(nullptr, info.data(), 39, "2", "X", 0);
    EXPECT_THROW(cut->GetWidth(), Error);
}

namespace {

// A version block: length, value length, type, key, value, children.
std::vector<uint8_t> VersionBlock(const std::u16string& key, const std::vector<uint8_t>& value, bool text,
                                  const std::vector<std::vector<uint8_t>>& children)
{
    std::vector<uint8_t> out(6, 0);
    for (char16_t c : key + u'\0')
        qvtest::AppendLe(out, c, 2);
    while (out.size() % 4)
        out.push_back(0);
    out.insert(out.end(), value.begin(), value.end());
    for (const auto& child : children) {
        while (out.size() % 4)
            out.push_back(0);
        out.insert(out.end(), child.begin(), child.end());
    }
    qvtest::PutLe(out, 0, static_cast<uint32_t>(out.size()), 2);
    qvtest::PutLe(out, 2, static_cast<uint32_t>(text ? value.size() / 2 : value.size()), 2);
    qvtest::PutLe(out, 4, text ? 1 : 0, 2);
    return out;
}

std::vector<uint8_t> Utf16z(const std::u16string& s)
{
    std::vector<uint8_t> out;
    for (char16_t c : s + u'\0')
        qvtest::AppendLe(out, c, 2);
    return out;
}

} // namespace

TEST(ResourceVersionInfo, KeepsBytesParsesValuesAndForgetsThemOnReplace)
{
    std::vector<uint8_t> fixed(52, 0);
    qvtest::PutLe(fixed, 0, 0xFEEF04BD, 4);
    const auto info = VersionBlock(
        u"VS_VERSION_INFO", fixed, false,
        {VersionBlock(u"StringFileInfo", {}, true,
                      {VersionBlock(u"040904B0", {}, true,
                                    {VersionBlock(u"FileVersion", Utf16z(u"4.5.0.0"), true, {}),
                                     VersionBlock(u"ProductName", Utf16z(u"Qu\u00f6rvane"), true, {})})}),
         VersionBlock(u"VarFileInfo", {}, false, {VersionBlock(u"Translation", {0x09, 0x04, 0xB0, 0x04}, false, {})})});
    auto d = CreateDetailsFor(nullptr, 0, "16", "1", info.size(), info.data());
    auto& version = dynamic_cast<VersionInfoResourceDetails&>(*d);
    EXPECT_EQ(Bytes(version), info);
    ASSERT_EQ(version.StringValues().size(), 2u);
    EXPECT_EQ(version.StringValues()[0].Table, "040904B0");
    EXPECT_EQ(version.StringValues()[0].Name, "FileVersion");
    EXPECT_EQ(version.StringValues()[0].Value, "4.5.0.0");
    EXPECT_EQ(version.StringValues()[1].Value, "Qu\xc3\xb6rvane");
    ASSERT_EQ(version.Translations().size(), 1u);
    EXPECT_EQ(version.Translations()[0].Language, 0x0409);
    EXPECT_EQ(version.Translations()[0].CodePage, 0x04B0);
    EXPECT_EQ(Bytes(version), info);

    MemoryStream empty;
    version.ReplaceData(empty);
    EXPECT_EQ(version.Data().Size(), 0);
    EXPECT_THROW(version.StringValues(), Error);

    auto cut = info;
    cut.resize(info.size() - 10);
    MemoryStream shorter(cut);
    version.ReplaceData(shorter);
    EXPECT_THROW(version.Translations(), Error);
    EXPECT_EQ(Bytes(version), cut);
}

namespace {

// A copy of one of wine's Windows programs, or a skip when it is missing.
class RealExecutable : public ::testing::Test {
protected:
    qvtest::TempDir dir;
    std::filesystem::path exe;

    void SetUp() override
    {
        const auto source = qvtest::WineProgram("notepad.exe");
        if (source.empty() || !qvtest::HaveTool("wrestool"))
            GTEST_SKIP() << "needs wine's notepad.exe and icoutils' wrestool";
        exe = dir / "notepad.exe";
        std::filesystem::copy_file(source, exe);
    }
};

} // namespace

TEST_F(RealExecutable, LoadAndSaveKeepEveryResourceByteForByte)
{
    const auto listed = qvtest::WrestoolList(exe);
    const auto original = qvtest::WrestoolExtractAll(exe);
    ASSERT_GT(listed.size(), 300u);
    ASSERT_EQ(original.size(), listed.size());

    ExecutableModule module;
    module.LoadFromFile(exe.string());
    ASSERT_EQ(static_cast<size_t>(module.ResourceCount()), listed.size());
    size_t groups = 0, icons = 0;
    for (int i = 0; i < module.ResourceCount(); ++i) {
        const auto& d = module.GetResourceDetails(i);
        const std::string key = d.ResType + "/" + d.ResName + "/" + std::to_string(d.Language);
        ASSERT_EQ(original.count(key), 1u) << key;
        EXPECT_EQ(Bytes(d), original.at(key)) << key;
        EXPECT_EQ(d.Parent, &module);
        groups += Is<IconGroupResourceDetails>(d);
        icons += Is<IconImageResourceDetails>(d);
    }
    EXPECT_EQ(groups, 1u);
    EXPECT_EQ(icons, 10u);

    module.GetResourceDetails(0).Dirty = true;
    module.Dirty = true;
    module.SaveToFile(exe.string());
    EXPECT_FALSE(module.Dirty);
    EXPECT_FALSE(module.GetResourceDetails(0).Dirty);
    EXPECT_EQ(qvtest::WrestoolExtractAll(exe), original);
}

TEST_F(RealExecutable, ChangesAndDigitOnlyNamesReachTheFile)
{
    ExecutableModule module;
    module.LoadFromFile(exe.string());
    const int before = module.ResourceCount();
    const auto payload = qvtest::NoiseBytes(777, 5);
    Add(module, "MYDATA", "0042", payload);
    Add(module, "10", "CONFIG", Text("key=value"), 1031);
    module.RemoveResource(module.IndexOfResource(&module.GetResourceDetails(0))); // an icon image
    module.SaveToFile(exe.string());

    const auto listed = qvtest::WrestoolList(exe);
    EXPECT_EQ(listed.size(), static_cast<size_t>(before + 1));
    const auto extracted = qvtest::WrestoolExtractAll(exe);
    EXPECT_EQ(extracted.at("MYDATA/42/0"), payload);
    EXPECT_EQ(extracted.at("10/CONFIG/1031"), Text("key=value"));

    ExecutableModule again;
    again.LoadFromFile(exe.string());
    EXPECT_EQ(again.ResourceCount(), before + 1);
    bool found = false;
    for (int i = 0; i < again.ResourceCount(); ++i)
        found |= again.GetResourceDetails(i).ResType == "MYDATA" && again.GetResourceDetails(i).ResName == "42";
    EXPECT_TRUE(found);
}

TEST_F(RealExecutable, FailedLoadKeepsTheModuleAndFailedSaveTheFile)
{
    ExecutableModule module;
    module.LoadFromFile(exe.string());
    const int count = module.ResourceCount();
    EXPECT_THROW(module.LoadFromFile((dir / "absent.exe").string()), Error);
    qvtest::WriteFile(dir / "text.exe", Text("not an executable at all"));
    EXPECT_THROW(module.LoadFromFile((dir / "text.exe").string()), Error);
    EXPECT_EQ(module.ResourceCount(), count);

    module.Dirty = true;
    EXPECT_THROW(module.SaveToFile((dir / "text.exe").string()), Error);
    EXPECT_EQ(qvtest::ReadFile(dir / "text.exe"), Text("not an executable at all"));
    EXPECT_TRUE(module.Dirty);
}
