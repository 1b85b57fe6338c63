#include "forms/ProjectControls.h"

#include "main.h"

#include "quorvane/base/Convert.h"
#include "quorvane/project/NewProject.h"
#include "quorvane/platform/FileSystem.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QRadioButton>

#include <cmath>

namespace qv::app {

namespace {

const QDate kDayZero(1899, 12, 30);

std::string Text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

QString Text(const ShortString& s)
{
    return QString::fromStdString(s.str());
}

} // namespace

std::vector<QLineEdit*> ProjectControls::LabeledEdits() const
{
    return {homepage, outname, iconfile, sizewidth, sizeheight, password, includemask, directmask, useragent};
}

std::vector<QCheckBox*> ProjectControls::CheckBoxes() const
{
    return {centered,   scrollbars, shadow,     showtoolbar, showcaptions, showstatusbar,
            menuenabled, enablecopy, enablefind, enableprint, enablefont,   expirationenabled, searchindex};
}

double DaysOfDate(const QDate& date)
{
    return static_cast<double>(kDayZero.daysTo(date));
}

QDate DateOfDays(double days)
{
    // A damaged project may hold anything; the picker shows the first day then.
    if (!std::isfinite(days) || std::fabs(days) > 3.0e6)
        return kDayZero;
    return kDayZero.addDays(static_cast<qint64>(std::floor(days)));
}

void ApplyOutputFormat(QLineEdit* outname, bool exe)
{
    outname->setText(QString::fromStdString(OutputPathFor(outname->text().toStdString(), exe)));
}

void BrowseIntoEdit(FileDialog* dialog, QWidget* parent, const QString& filter, QLineEdit* edit)
{
    FileDialogRequest request = dialog->Request();
    request.filter = filter;
    request.defaultSuffix.clear();
    dialog->SetRequest(request);
    const QStringList chosen = dialog->ExecuteOpen(parent);
    if (!chosen.isEmpty())
        edit->setText(chosen.first());
}

void StoreProjectFields(const ProjectControls& c, std::span<const ProjectField> order, ProjectSettingsRecord& s)
{
    auto index = [](const QComboBox* list, int32_t& field) {
        if (list->currentIndex() >= 0)
            field = list->currentIndex();
    };
    for (ProjectField f : order) {
        switch (f) {
        case ProjectField::HomePage: s.HomePage = Text(c.homepage); break;
        case ProjectField::OutputIsExe: s.OutputIsExe = c.exeformat->isChecked(); break;
        case ProjectField::OutputPath: s.OutputPath = Text(c.outname); break;
        case ProjectField::LogoPath: s.LogoPath = Text(c.iconfile); break;
        case ProjectField::BorderType: index(c.borderstyle, s.BorderType); break;
        case ProjectField::ViewWidth: s.ViewWidth = StrToInt(Text(c.sizewidth)); break;
        case ProjectField::ViewHeight: s.ViewHeight = StrToInt(Text(c.sizeheight)); break;
        case ProjectField::Centered: s.Centered = c.centered->isChecked(); break;
        case ProjectField::ShowToolbar: s.ShowToolbar = c.showtoolbar->isChecked(); break;
        case ProjectField::ShowCaptions: s.ShowCaptions = c.showcaptions->isChecked(); break;
        case ProjectField::ShowStatusbar: s.ShowStatusbar = c.showstatusbar->isChecked(); break;
        case ProjectField::EnableCopy: s.EnableCopy = c.enablecopy->isChecked(); break;
        case ProjectField::EnableSearch: s.EnableSearch = c.enablefind->isChecked(); break;
        case ProjectField::EnablePrint: s.EnablePrint = c.enableprint->isChecked(); break;
        case ProjectField::EnableFont: s.EnableFont = c.enablefont->isChecked(); break;
        case ProjectField::Password: s.Password = Text(c.password); break;
        case ProjectField::ExpiryEnabled: s.ExpiryEnabled = c.expirationenabled->isChecked(); break;
        case ProjectField::ExpiryDate: s.ExpiryDate = DaysOfDate(c.expirationdate->date()); break;
        case ProjectField::IncludeMask: s.IncludeMask = Text(c.includemask); break;
        case ProjectField::DirectMask: s.DirectMask = Text(c.directmask); break;
        case ProjectField::HideScrollbars: s.HideScrollbars = c.scrollbars->isChecked(); break;
        case ProjectField::Shadow: s.Shadow = c.shadow->isChecked(); break;
        case ProjectField::UserAgent: s.UserAgent = Text(c.useragent); break;
        case ProjectField::CompressionLevel: index(c.compression, s.CompressionLevel); break;
        case ProjectField::ContextMenu: s.ContextMenu = c.menuenabled->isChecked(); break;
        case ProjectField::SearchIndex: s.SearchIndex = c.searchindex->isChecked(); break;
        }
    }
}

void LoadProjectFields(ProjectControls& c, std::span<const ProjectField> order, const ProjectSettingsRecord& s)
{
    for (ProjectField f : order) {
        switch (f) {
        case ProjectField::HomePage:
            c.homepage->setText(s.HomePage.empty() ? QString()
                                                   : QString::fromStdString(fs::AbsolutePath(s.HomePage.str())));
            break;
        case ProjectField::OutputIsExe:
            // setChecked fires the button's handler only when the choice changes.
            (s.OutputIsExe ? c.exeformat : c.qpfformat)->setChecked(true);
            break;
        case ProjectField::OutputPath: c.outname->setText(Text(s.OutputPath)); break;
        case ProjectField::LogoPath: c.iconfile->setText(Text(s.LogoPath)); break;
        case ProjectField::BorderType: c.borderstyle->setCurrentIndex(s.BorderType); break;
        case ProjectField::ViewWidth: c.sizewidth->setText(QString::number(s.ViewWidth)); break;
        case ProjectField::ViewHeight: c.sizeheight->setText(QString::number(s.ViewHeight)); break;
        case ProjectField::Centered: c.centered->setChecked(s.Centered); break;
        case ProjectField::ShowToolbar: c.showtoolbar->setChecked(s.ShowToolbar); break;
        case ProjectField::ShowCaptions: c.showcaptions->setChecked(s.ShowCaptions); break;
        case ProjectField::ShowStatusbar: c.showstatusbar->setChecked(s.ShowStatusbar); break;
        case ProjectField::EnableCopy: c.enablecopy->setChecked(s.EnableCopy); break;
        case ProjectField::EnableSearch: c.enablefind->setChecked(s.EnableSearch); break;
        case ProjectField::EnablePrint: c.enableprint->setChecked(s.EnablePrint); break;
        case ProjectField::EnableFont: c.enablefont->setChecked(s.EnableFont); break;
        case ProjectField::Password: c.password->setText(Text(s.Password)); break;
        case ProjectField::ExpiryEnabled: c.expirationenabled->setChecked(s.ExpiryEnabled); break;
        case ProjectField::ExpiryDate: c.expirationdate->setDate(DateOfDays(s.ExpiryDate)); break;
        case ProjectField::IncludeMask: c.includemask->setText(Text(s.IncludeMask)); break;
        case ProjectField::DirectMask: c.directmask->setText(Text(s.DirectMask)); break;
        case ProjectField::HideScrollbars: c.scrollbars->setChecked(s.HideScrollbars); break;
        case ProjectField::Shadow: c.shadow->setChecked(s.Shadow); break;
        case ProjectField::UserAgent: c.useragent->setText(Text(s.UserAgent)); break;
        case ProjectField::CompressionLevel: c.compression->setCurrentIndex(s.CompressionLevel); break;
        case ProjectField::ContextMenu: c.menuenabled->setChecked(s.ContextMenu); break;
        case ProjectField::SearchIndex: c.searchindex->setChecked(s.SearchIndex); break;
        }
    }
}

} // namespace qv::app
