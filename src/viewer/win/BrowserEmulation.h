#pragma once
#include <string>

namespace viewer {

// The WebBrowser control draws pages in the document mode of Internet
// Explorer 7 unless a program asks for another under its own file name.
// This asks for IE11 (11001) for `programName` ("site.exe") under the
// current user's FEATURE_BROWSER_EMULATION key, which must happen before
// the control is made. Other programs of the same name are the user's:
// a value already there is left as it is, and the value this object wrote
// goes with it, when the viewer ends. A registry that refuses leaves the
// older mode and nothing else.
class DocumentModeRequest {
public:
    explicit DocumentModeRequest(const std::wstring& programName);
    ~DocumentModeRequest();
    DocumentModeRequest(const DocumentModeRequest&) = delete;
    DocumentModeRequest& operator=(const DocumentModeRequest&) = delete;

private:
    std::wstring name_;
    bool written_ = false;
};

} // namespace viewer
