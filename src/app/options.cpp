#include "options.h"

#include "services/AppState.h"
#include "forms/Artwork.h"
#include "services/DialogService.h"
#include "forms/FormKit.h"
#include "main.h"

#include "quorvane/project/NewProject.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QToolButton>

namespace qv::app {

namespace {

constexpr int kTabWidth = 448;

const ProjectField kLoadOrder[] = {
    ProjectField::HomePage,      ProjectField::OutputIsExe,  ProjectField::OutputPath,    ProjectField::LogoPath,
    ProjectField::BorderType,    ProjectField::ViewWidth,    ProjectField::ViewHeight,    ProjectField::Centered,
    ProjectField::ShowToolbar,   ProjectField::ShowCaptions, ProjectField::ShowStatusbar, ProjectField::EnableCopy,
    ProjectField::EnableSearch,  ProjectField::EnablePrint,  ProjectField::EnableFont,    ProjectField::Password,
    ProjectField::ExpiryEnabled, ProjectField::ExpiryDate,   ProjectField::IncludeMask,   ProjectField::DirectMask,
    ProjectField::Shadow,        ProjectField::HideScrollbars, ProjectField::CompressionLevel, ProjectField::UserAgent,
    ProjectField::ContextMenu,   ProjectField::SearchIndex,
};

const ProjectField kStoreOrder[] = {
    ProjectField::HomePage,      ProjectField::OutputIsExe,  ProjectField::OutputPath,    ProjectField::LogoPath,
    ProjectField::BorderType,    ProjectField::ViewWidth,    ProjectField::ViewHeight,    ProjectField::Centered,
    ProjectField::ShowToolbar,   ProjectField::ShowCaptions, ProjectField::ShowStatusbar, ProjectField::EnableCopy,
    ProjectField::EnableSearch,  ProjectField::EnablePrint,  ProjectField::EnableFont,    ProjectField::HideScrollbars,
    ProjectField::Shadow,        ProjectField::Password,     ProjectField::ExpiryEnabled, ProjectField::ExpiryDate,
    ProjectField::IncludeMask,   ProjectField::DirectMask,   ProjectField::UserAgent,     ProjectField::CompressionLevel,
    ProjectField::ContextMenu,   ProjectField::SearchIndex,
};

// The small picture before an edit, level with its label.
void PictureBefore(QWidget* parent, QLineEdit* edit, Picture picture)
{
    auto* label = new QLabel(parent);
    label->setObjectName(edit->objectName() + QStringLiteral("Picture"));
    label->setPixmap(CommandPicture(picture).pixmap(16, 16));
    label->setGeometry(12, edit->y() + 2, 16, 16);
}

} // namespace

OptionsDialog::OptionsDialog(MainWindow& mainform) : QWidget(nullptr, Qt::Window), mainform_(mainform)
{
    setObjectName(QStringLiteral("optionsForm"));
    setWindowTitle(QStringLiteral("Options"));
    resize(472, 354);
    setFont(FormFont());

    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Tabs"));
    Tabs->setGeometry(8, 8, kTabWidth + 8, 306);
    OkButton = FormButton(this, "OkButton", QStringLiteral("&Ok"), 300, 322, 80);
    CancelButton = FormButton(this, "CancelButton", QStringLiteral("&Cancel"), 384, 322, 80);

    OpenDialog = new FileDialog(this, "OpenDialog", {QStringLiteral("Open"), {}, {}, false, true, {}});
    SaveDialog = new FileDialog(this, "SaveDialog", {QStringLiteral("Save As"), {}, {}, false, true, {}});

    BuildTabs();

    connect(OkButton, &QPushButton::clicked, this, [this] { Guarded(this, [&] { OkButtonClick(); }); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
    connect(BrowseHomepageButton, &QToolButton::clicked, this, [this] { Guarded(this, [&] { BrowseHomepageButtonClick(); }); });
    connect(BrowseOutputButton, &QToolButton::clicked, this, [this] { Guarded(this, [&] { BrowseOutputButtonClick(); }); });
    connect(BrowseIconButton, &QToolButton::clicked, this, [this] { Guarded(this, [&] { BrowseIconButtonClick(); }); });
    connect(controls.exeformat, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            exeformatClick();
    });
    connect(controls.qpfformat, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            qpfformatClick();
    });
}

void OptionsDialog::BuildTabs()
{
    ProjectControls& c = controls;
    auto tab = [&](const char* name, const QString& caption) {
        auto* sheet = new QWidget;
        sheet->setObjectName(QString::fromLatin1(name));
        Tabs->addTab(sheet, caption);
        return sheet;
    };
    const int inner = kTabWidth - 24;

    GeneralTab = tab("GeneralTab", QStringLiteral("General"));
    {
        FormColumn top(GeneralTab, 34, 12, inner - 22);
        c.homepage = top.Edit("homepage", QStringLiteral("Please select Home Page of the project:"), "BrowseHomepageButton",
                              &BrowseHomepageButton);
        PictureBefore(GeneralTab, c.homepage, Picture::Home);
        FormColumn body(GeneralTab, 12, top.Bottom() + 6, inner);
        body.BeginGroup("OutputFormatBox", QStringLiteral("  Output Format  "));
        c.exeformat = body.Radio("exeformat", QStringLiteral("EXE-format (single file with built-in viewer)"));
        c.qpfformat = body.Radio("qpfformat", QStringLiteral("QPF-format (smaller size, but reqired stand-alone viewer)"));
        body.EndGroup();
        c.exeformat->setChecked(true);
        c.outname = body.Edit("outname", QStringLiteral("Output file name:"), "BrowseOutputButton", &BrowseOutputButton);
        body.Skip(6);
        c.iconfile = body.Edit("iconfile", QStringLiteral("Application Icon file (*.ico)"), "BrowseIconButton",
                               &BrowseIconButton);
    }

    ViewTab = tab("ViewTab", QStringLiteral("View"));
    {
        FormColumn body(ViewTab, 12, 12, inner);
        body.BeginGroup("BorderStyleBox", QStringLiteral("  Border Style  "));
        c.borderstyle = body.Combo("borderstyle", {QStringLiteral("None"), QStringLiteral("Fixed"),
                                                   QStringLiteral("Sizable"), QStringLiteral("Full Screen")},
                                   200);
        body.EndGroup();
        body.BeginGroup("SizePositionBox", QStringLiteral("  Size and Position  "));
        c.centered = body.Check("centered", QStringLiteral("Centered"));
        body.Skip(4);
        body.Column(0, 100);
        c.sizewidth = body.Edit("sizewidth", QStringLiteral("Width"));
        body.Column(120, 100);
        c.sizeheight = body.Edit("sizeheight", QStringLiteral("Height"));
        body.Row();
        body.Skip(2);
        c.scrollbars = body.Check("scrollbars", QStringLiteral("Hide Scrollbars"));
        c.shadow = body.Check("shadow", QStringLiteral("Use Shadow"));
        body.EndGroup();
    }

    AdvancedTab = tab("AdvancedTab", QStringLiteral("Advanced"));
    {
        const int half = (inner - 8) / 2;
        FormColumn left(AdvancedTab, 12, 8, half);
        left.BeginGroup("DisplayBox", QStringLiteral("  Display  "));
        c.showtoolbar = left.Check("showtoolbar", QStringLiteral("Show Toolbar"));
        c.showcaptions = left.Check("showcaptions", QStringLiteral("Show Toolbar Captions"));
        c.showstatusbar = left.Check("showstatusbar", QStringLiteral("Show Statusbar"));
        left.EndGroup();
        left.BeginGroup("PasswordBox", QStringLiteral("  Password Protection  "));
        c.password = left.Edit("password", QStringLiteral("You may protect the output file with Start Password:"));
        left.EndGroup();
        FormColumn right(AdvancedTab, 12 + half + 8, 8, half);
        right.BeginGroup("CommandsBox", QStringLiteral("  Commands  "));
        c.menuenabled = right.Check("menuenabled", QStringLiteral("Enable Context Menu"));
        c.enablecopy = right.Check("enablecopy", QStringLiteral("Enable \"Copy to Clipboard\""));
        c.enablefind = right.Check("enablefind", QStringLiteral("Enable \"Find on this page\""));
        c.enableprint = right.Check("enableprint", QStringLiteral("Enable \"Print...\""));
        c.enablefont = right.Check("enablefont", QStringLiteral("Enable selection of Font size"));
        right.EndGroup();
        FormColumn bottom(AdvancedTab, 12, std::max(left.Bottom(), right.Bottom()), inner);
        bottom.BeginGroup("ExpirationBox", QStringLiteral("  Expiration  "));
        bottom.Text("ExpirationNote", QStringLiteral("Additionally you can select a date from which the output file shall no "
                                             "longer start:"));
        bottom.Column(0, 90);
        c.expirationenabled = bottom.Check("expirationenabled", QStringLiteral("Enabled"));
        bottom.Row();
        c.expirationdate = bottom.Date("expirationdate", 100, 110);
        bottom.Skip(6);
        bottom.EndGroup();
    }

    FilesTab = tab("FilesTab", QStringLiteral("Files"));
    {
        FormColumn body(FilesTab, 12, 12, inner);
        body.BeginGroup("IncludeBox", QStringLiteral("  Include  "));
        body.Column(26, inner - 24 - 26);
        c.includemask = body.Edit("includemask", QStringLiteral("Specify files to include into output file by the "
                                                                "semicolon-separated list of file names or masks."));
        body.Row();
        body.EndGroup();
        PictureBefore(c.includemask->parentWidget(), c.includemask, Picture::Open);
        body.BeginGroup("DirectExecutionBox", QStringLiteral("  Direct Execution  "));
        body.Column(26, inner - 24 - 26);
        c.directmask = body.Edit("directmask", QStringLiteral("You can specify files that will be executed directly "
                                                              "without browser dialogs by the semicolon-separated list "
                                                              "of file names or masks. (excluded from compilation)"));
        body.Row();
        body.EndGroup();
        PictureBefore(c.directmask->parentWidget(), c.directmask, Picture::Run);
        body.BeginGroup("SearchIndexBox", QStringLiteral("  Search  "));
        c.searchindex = body.Check("searchindex", QStringLiteral("Search index"));
        body.EndGroup();
    }

    BrowserTab = tab("BrowserTab", QStringLiteral("Browser"));
    {
        FormColumn body(BrowserTab, 12, 12, inner);
        body.BeginGroup("CompressionBox", QStringLiteral("  Compression level  "));
        c.compression = body.Combo("compression",
                                   {QStringLiteral("Default"), QStringLiteral("Fastest - (bigger file size, but better speed)"),
                                    QStringLiteral("Maximum - (smaller file size, but is a little slow)"),
                                    QStringLiteral("None - (no compression, non secure)")});
        body.EndGroup();
        body.BeginGroup("UserAgentBox", QStringLiteral("  User Agent  "));
        c.useragent = body.Edit("useragent", QStringLiteral("Specify User-Agent string for built-in browser. Leave "
                                                            "blank to use default identifier from Internet Explorer."));
        body.EndGroup();
    }
    Tabs->setCurrentIndex(0);
}

void OptionsDialog::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous()) {
        move(mainform_.geometry().center() - rect().center());
        FormShow();
    }
}

void OptionsDialog::FormShow()
{
    LoadProjectFields(controls, kLoadOrder, State().ProjectSettings);
}

void OptionsDialog::OkButtonClick()
{
    ProcessState& state = State();
    StoreProjectFields(controls, kStoreOrder, state.ProjectSettings);
    mainform_.Navigate(QString::fromStdString(state.ProjectSettings.HomePage.str()));
    state.ProjectModified = true;
    mainform_.RunAction->setEnabled(false);
    mainform_.SaveAction->setEnabled(true);
    mainform_.SaveAsAction->setEnabled(true);
    close();
}

void OptionsDialog::CancelButtonClick()
{
    close();
}

void OptionsDialog::BrowseHomepageButtonClick()
{
    BrowseIntoEdit(OpenDialog, this, QStringLiteral("HTML Files (*.htm *.html *.shtml *.hta)"), controls.homepage);
}

void OptionsDialog::BrowseOutputButtonClick()
{
    FileDialogRequest request = SaveDialog->Request();
    request.filter = QStringLiteral("Executable Files (*.exe)");
    SaveDialog->SetRequest(request);
    const QString chosen = SaveDialog->ExecuteSave(this);
    if (!chosen.isEmpty())
        controls.outname->setText(QString::fromStdString(OutputPathFor(chosen.toStdString(), true)));
}

void OptionsDialog::BrowseIconButtonClick()
{
    BrowseIntoEdit(OpenDialog, this, QStringLiteral("Bitmap Files (.ico) (*.ico)"), controls.iconfile);
}

void OptionsDialog::exeformatClick()
{
    ApplyOutputFormat(controls.outname, true);
}

void OptionsDialog::qpfformatClick()
{
    ApplyOutputFormat(controls.outname, false);
}

void RegisterOptions()
{
    RegisterAppWindow(AppWindow::Options, [](MainWindow& mainform) -> QWidget* { return new OptionsDialog(mainform); });
}

} // namespace qv::app
