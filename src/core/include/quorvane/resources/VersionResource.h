#pragma once
#include "quorvane/resources/ResourceDetails.h"

#include <string>
#include <vector>

namespace qv {

// RT_VERSION. The bytes stay exactly as loaded; the version values are
// parsed from them on first use and forgotten when the data is replaced.
class VersionInfoResourceDetails : public ResourceDetails {
    QV_RESOURCE_DETAILS_CLASS(VersionInfoResourceDetails)
    static std::string TypeKey() { return "16"; }

    struct StringValue {
        std::string Table; // the string table's key, e.g. "040904B0"
        std::string Name;  // e.g. "FileVersion"
        std::string Value;
    };
    struct Translation {
        uint16_t Language;
        uint16_t CodePage;
    };

    // Throw qv::Error "Invalid version information" for malformed data.
    const std::vector<StringValue>& StringValues() const;
    const std::vector<Translation>& Translations() const;

    void ReplaceData(Stream& source) override;

private:
    void Parse() const;

    mutable bool parsed_ = false;
    mutable std::vector<StringValue> strings_;
    mutable std::vector<Translation> translations_;
};

} // namespace qv
