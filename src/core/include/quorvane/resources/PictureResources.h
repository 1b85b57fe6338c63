#pragma once
#include "quorvane/resources/IconFile.h"
#include "quorvane/resources/ResourceDetails.h"

#include <string>

// Icon and cursor groups, their images, and bitmaps, as resource details.
// A group's data is a 6-byte header (reserved 0, type 1 icons / 2 cursors,
// entry count) and one 14-byte entry per image; entry i starts at 6 + 14 i
// and names its image by number at offset 12.
namespace qv {

class IconCursorImageResourceDetails;

class IconCursorGroupResourceDetails : public ResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(IconCursorGroupResourceDetails)

    // Set while the group removes its own images, so that losing its last one
    // does not remove the group too.
    bool Clearing = false;

    // Entries actually present: the header's count, but never more than the
    // data holds.
    int EntryCount() const;
    uint16_t EntryIdentifier(int index) const;
    // The first entry naming image `identifier`, or -1.
    int FindEntry(uint16_t identifier) const;
    // Moves the later entries down and lowers the count.
    void RemoveEntry(int index);

    // The image object entry `index` names in the module (same image type,
    // numeric name equal to the identifier; languages not compared), or none.
    // Throws "List index out of bounds (i)" for an index not below the count.
    IconCursorImageResourceDetails* GetResourceDetails(int index) const;

    // One blank 32 x 32, 16-colour image, appended to the module after the
    // group. A group without a module gets a header without entries.
    void InitBlank() override;
    // Removes every image the group names from the module. Fails with the
    // module's index error when a named image is not there.
    void Detach() override;

    // 3 for icon groups' images, 1 for cursors' ("14" - 11, "12" - 11).
    std::string ImageType() const;
};

class IconGroupResourceDetails : public IconCursorGroupResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(IconGroupResourceDetails)
    static std::string TypeKey() { return "14"; }
};

class CursorGroupResourceDetails : public IconCursorGroupResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(CursorGroupResourceDetails)
    static std::string TypeKey() { return "12"; }
};

// A resource that is a picture. The queries read the picture's header and
// throw qv::Error when it is malformed.
class PictureResourceDetails : public ResourceDetails {
public:
    virtual int GetHeight() const = 0;
    virtual PixelFormat GetPixelFormat() const = 0;
    virtual int GetWidth() const = 0;

protected:
    PictureResourceDetails() = default;
};

// One icon or cursor image: a bitmap (BITMAPINFOHEADER, colours, XOR and AND
// masks, twice the picture's height in the header) or a PNG stream. Cursor
// images start with a 4-byte hotspot.
class IconCursorImageResourceDetails : public PictureResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(IconCursorImageResourceDetails)

    // The fully transparent 32 x 32, 16-colour image (744 bytes, cursors 748).
    void InitBlank() override;
    // Takes this image's entry out of the first group that names it; that
    // group goes too when it is left empty and is not clearing itself.
    void Detach() override;

    int GetHeight() const override;
    PixelFormat GetPixelFormat() const override;
    int GetWidth() const override;

    bool IsCursor() const { return ResType == "1"; }
};

class IconImageResourceDetails : public IconCursorImageResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(IconImageResourceDetails)
    static std::string TypeKey() { return "3"; }
};

class CursorImageResourceDetails : public IconCursorImageResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(CursorImageResourceDetails)
    static std::string TypeKey() { return "1"; }
};

// RT_BITMAP: a device-independent bitmap without a file header. Kept as is.
class BitmapResourceDetails : public PictureResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(BitmapResourceDetails)
    static std::string TypeKey() { return "2"; }

    int GetHeight() const override;
    PixelFormat GetPixelFormat() const override;
    int GetWidth() const override;

protected:
    // Where the info header starts in the data.
    virtual size_t InfoHeaderOffset() const { return 0; }
};

// A bitmap file ("BM" file header, then the info header) kept as a resource.
class BitmapFileResourceDetails : public BitmapResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(BitmapFileResourceDetails)
    static std::string TypeKey() { return "DIB"; }
    // At least 18 bytes, "BM", zero words at 6 and 8, and an info header
    // size of 40, 108 or 124 at offset 14.
    static bool RecognisesData(size_t size, const uint8_t* data);

protected:
    size_t InfoHeaderOffset() const override { return 14; }
};

// The blank icon image's bytes (without a cursor's hotspot).
std::vector<uint8_t> BlankIconImage();

// Fills `group`, which must belong to a module, from an icon file: its old
// images leave the module, every image of the file becomes a new RT_ICON
// resource (language of the group, numbered above the module's largest
// numeric icon name) and an entry of the group. Failures propagate; images
// added before one stay in the module.
void ReplaceIconGroup(IconGroupResourceDetails& group, const std::string& fileName);

} // namespace qv
