#pragma once
#include "quorvane/project/ProjectSettings.h"

#include <QDate>
#include <QString>

#include <span>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace qv::app {

class FileDialog;

// The controls of the project's settings that the wizard and the options
// dialog both have, under the same component names. The forms make them;
// this moves values between them and the record.
struct ProjectControls {
    QLineEdit* homepage = nullptr;
    QRadioButton* exeformat = nullptr;
    QRadioButton* qpfformat = nullptr;
    QLineEdit* outname = nullptr;
    QLineEdit* iconfile = nullptr;
    QComboBox* borderstyle = nullptr;
    QCheckBox* centered = nullptr;
    QLineEdit* sizewidth = nullptr;
    QLineEdit* sizeheight = nullptr;
    QCheckBox* scrollbars = nullptr;
    QCheckBox* shadow = nullptr;
    QCheckBox* showtoolbar = nullptr;
    QCheckBox* showcaptions = nullptr;
    QCheckBox* showstatusbar = nullptr;
    QCheckBox* menuenabled = nullptr;
    QCheckBox* enablecopy = nullptr;
    QCheckBox* enablefind = nullptr;
    QCheckBox* enableprint = nullptr;
    QCheckBox* enablefont = nullptr;
    QLineEdit* password = nullptr;
    QCheckBox* expirationenabled = nullptr;
    QDateEdit* expirationdate = nullptr;
    QLineEdit* includemask = nullptr;
    QLineEdit* directmask = nullptr;
    QComboBox* compression = nullptr;
    QLineEdit* useragent = nullptr;
    QCheckBox* searchindex = nullptr;

    std::vector<QLineEdit*> LabeledEdits() const;
    std::vector<QCheckBox*> CheckBoxes() const;
};

enum class ProjectField {
    HomePage, OutputIsExe, OutputPath, LogoPath, BorderType, ViewWidth, ViewHeight, Centered, ShowToolbar,
    ShowCaptions, ShowStatusbar, EnableCopy, EnableSearch, EnablePrint, EnableFont, Password, ExpiryEnabled,
    ExpiryDate, IncludeMask, DirectMask, HideScrollbars, Shadow, UserAgent, CompressionLevel, ContextMenu,
    SearchIndex,
};

// Controls to record, one field after the other in `order`. Texts become
// short strings (cut to 255 bytes). A width or height that is not a whole
// number throws qv::Error "'<text>' is not a valid integer value", the
// fields before it already written. A list with nothing chosen leaves its
// field as it was.
void StoreProjectFields(const ProjectControls& c, std::span<const ProjectField> order, ProjectSettingsRecord& s);

// Record to controls in `order`. The home page is shown as an absolute
// path, a relative one resolved against the current folder. Selecting a
// format button runs its handler, as a click would.
void LoadProjectFields(ProjectControls& c, std::span<const ProjectField> order, const ProjectSettingsRecord& s);

// Dates of the record (days since 30 December 1899) and of the pickers.
double DaysOfDate(const QDate& date);
QDate DateOfDays(double days);

// The format buttons' rule: the extension of `outname`'s text becomes that
// of the chosen format (appended when there is none).
void ApplyOutputFormat(QLineEdit* outname, bool exe);

// A browse button beside an edit: shows `dialog` as an open dialog with
// `filter` and no default extension, and puts the chosen file into `edit`;
// a cancelled dialog leaves the edit as it was.
void BrowseIntoEdit(FileDialog* dialog, QWidget* parent, const QString& filter, QLineEdit* edit);

} // namespace qv::app
