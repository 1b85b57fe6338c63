#include "wizard.h"

#include "services/AppState.h"
#include "forms/Artwork.h"
#include "services/DialogService.h"
#include "forms/FormKit.h"
#include "main.h"

#include "quorvane/platform/FileSystem.h"
#include "quorvane/project/NewProject.h"
#include "quorvane/viewercore/ViewerSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolButton>

namespace qv::app {

namespace {

constexpr int kPages = 8;
constexpr int kLastPage = kPages - 1;
constexpr int kPageWidth = 297;
constexpr int kTextLeft = 52; // beside the page's picture

// Also the order of the opening, where the format comes before the output
// name that its button's handler rewrites.
const ProjectField kTransferOrder[] = {
    ProjectField::HomePage,      ProjectField::OutputIsExe,    ProjectField::OutputPath,   ProjectField::BorderType,
    ProjectField::ViewWidth,     ProjectField::ViewHeight,     ProjectField::LogoPath,     ProjectField::Centered,
    ProjectField::ShowToolbar,   ProjectField::ShowCaptions,   ProjectField::ShowStatusbar, ProjectField::EnableCopy,
    ProjectField::EnableSearch,  ProjectField::EnablePrint,    ProjectField::EnableFont,   ProjectField::Password,
    ProjectField::ExpiryEnabled, ProjectField::ExpiryDate,     ProjectField::IncludeMask,  ProjectField::DirectMask,
    ProjectField::HideScrollbars, ProjectField::Shadow,        ProjectField::UserAgent,    ProjectField::CompressionLevel,
    ProjectField::ContextMenu,   ProjectField::SearchIndex,
};

const Picture kPagePictures[kPages] = {Picture::Home, Picture::Save,    Picture::Options, Picture::Options,
                                       Picture::Help, Picture::Open,    Picture::Home,    Picture::Build};

const char* const kPageNames[kPages] = {"Root and Home",       "Output",  "View",           "Restrictions",
                                        "Pass and Expiration", "Files Add and Exclude", "Browser", "Build and Start"};

QLabel* PagePicture(QWidget* page, int index)
{
    auto* picture = new QLabel(page);
    picture->setObjectName(QStringLiteral("PagePicture%1").arg(index));
    picture->setPixmap(CommandPicture(kPagePictures[index]).pixmap(32, 32));
    picture->setGeometry(10, 10, 32, 32);
    return picture;
}

QLabel* Emphasis(QLabel* label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    label->setPalette(palette);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

ProjectWizard::ProjectWizard(MainWindow& mainform) : QWidget(nullptr, Qt::Window), mainform_(mainform)
{
    setObjectName(QStringLiteral("wizardForm"));
    setWindowTitle(QStringLiteral("New Project Wizard..."));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(489, 365);
    setFont(FormFont());

    SidePicture = new QLabel(this);
    SidePicture->setObjectName(QStringLiteral("SidePicture"));
    SidePicture->setGeometry(8, 8, 164, 316);
    SidePicture->setPixmap(WizardSidePicture());

    PageFrame = new QFrame(this);
    PageFrame->setObjectName(QStringLiteral("PageFrame"));
    PageFrame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PageFrame->setGeometry(180, 8, kPageWidth + 4, 316);
    Pages = new QStackedWidget(PageFrame);
    Pages->setObjectName(QStringLiteral("Pages"));
    Pages->setGeometry(2, 2, kPageWidth, 312);

    BackButton = FormButton(this, "BackButton", QStringLiteral("< Back"), 228, 333, 80);
    NextButton = FormButton(this, "NextButton", QStringLiteral("Next >"), 312, 333, 80);
    CancelButton = FormButton(this, "CancelButton", QStringLiteral("Cancel"), 401, 333, 80);

    OpenDialog = new FileDialog(this, "OpenDialog", {QStringLiteral("Open"), {}, {}, false, true, {}});
    SaveDialog = new FileDialog(this, "SaveDialog",
                                  {QStringLiteral("Save As"), QStringLiteral("Executable Files (*.exe)"),
                                   QStringLiteral("exe"), false, true, {}});

    BuildPages();

    connect(NextButton, &QPushButton::clicked, this, [this] { Guarded(this, [&] { NextButtonClick(); }); });
    connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
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
    connect(controls.borderstyle, &QComboBox::currentIndexChanged, this, [this] { borderstyleChange(); });
    ApplyButtonRule();
}

void ProjectWizard::BuildPages()
{
    ProjectControls& c = controls;
    auto page = [&](int index) {
        auto* widget = new QWidget;
        widget->setObjectName(QStringLiteral("Page%1").arg(index));
        widget->setWindowTitle(QString::fromLatin1(kPageNames[index]));
        widget->setFont(font());
        Pages->addWidget(widget);
        PagePicture(widget, index);
        return widget;
    };
    const int inner = kPageWidth - 24;

    {
        QWidget* p = page(0);
        FormColumn col(p, kTextLeft, 10, kPageWidth - kTextLeft - 12);
        col.Text("HomepageIntro", QStringLiteral("First, you must select the homepage for your project. This is the first "
                                          "page displayed to the user.The folder containing the homepage will be the"),
                 2);
        QLabel* root = Emphasis(col.Text("RootFolderWords", QStringLiteral("root folder"), 2));
        root->adjustSize();
        auto* tail = new QLabel(QStringLiteral("for your project."), p);
        tail->setObjectName(QStringLiteral("HomepageIntroEnd"));
        tail->adjustSize();
        tail->move(root->x() + root->width() + 4, root->y());
        FormColumn below(p, 12, col.Bottom() + 8, inner);
        below.Text("FolderNote", QStringLiteral("All files inside this folder will be included in your project by default."),
                   18);
        c.homepage = below.Edit("homepage", QStringLiteral("Please select Home Page of the project:"), "BrowseHomepageButton",
                                &BrowseHomepageButton);
    }
    {
        QWidget* p = page(1);
        FormColumn col(p, kTextLeft, 10, kPageWidth - kTextLeft - 12);
        col.Text("FormatIntro", QStringLiteral("Quorvane Compiler supports two formats of output files. You must specify the "
                                          "output file name and may select a custom icon for EXE files."));
        FormColumn body(p, 12, std::max(col.Bottom(), 50) + 4, inner);
        OutputFormatBox = body.BeginGroup("OutputFormatBox", QStringLiteral("  Output Format  "));
        c.exeformat = body.Radio("exeformat", QStringLiteral("EXE-format (single file with built-in viewer)"));
        c.qpfformat = body.Radio("qpfformat", QStringLiteral("QPF-format (smaller size, but reqires stand-alone viewer)"));
        body.EndGroup();
        c.outname = body.Edit("outname", QStringLiteral("Output file name:"), "BrowseOutputButton", &BrowseOutputButton);
        body.Skip(6);
        c.iconfile = body.Edit("iconfile", QStringLiteral("Application Icon for EXE file"), "BrowseIconButton",
                               &BrowseIconButton);
    }
    {
        QWidget* p = page(2);
        FormColumn col(p, kTextLeft, 10, kPageWidth - kTextLeft - 12);
        col.Text("ViewIntro", QStringLiteral("You can modify the appearance of the viewer window."));
        FormColumn body(p, 12, std::max(col.Bottom(), 50) + 4, inner);
        body.BeginGroup("BorderStyleBox", QStringLiteral("  Border Style  "));
        c.borderstyle = body.Combo("borderstyle", {QStringLiteral("None"), QStringLiteral("Fixed"),
                                                   QStringLiteral("Sizeable"), QStringLiteral("Full Screen")});
        body.EndGroup();
        SizePositionBox = body.BeginGroup("SizePositionBox", QStringLiteral("  Size and Position  "));
        c.centered = body.Check("centered", QStringLiteral("Centered"));
        body.Skip(4);
        body.Column(0, 100);
        c.sizewidth = body.Edit("sizewidth", QStringLiteral("Width"));
        body.Column(120, 100);
        c.sizeheight = body.Edit("sizeheight", QStringLiteral("Height"));
        body.Row();
        body.Skip(2);
        c.scrollbars = body.Check("scrollbars", QStringLiteral("Hide Scrollbars"));
        c.shadow = body.Check("shadow", QStringLiteral("Use Shadows "));
        body.EndGroup();
    }
    {
        QWidget* p = page(3);
        FormColumn col(p, kTextLeft, 10, kPageWidth - kTextLeft - 12);
        col.Text("LayoutIntro", QStringLiteral("Quorvane Compiler allows you to change the viewer window layout and choose "
                                          "commands available to the end user."));
        FormColumn body(p, 12, std::max(col.Bottom(), 50) + 4, inner);
        body.BeginGroup("DisplayBox", QStringLiteral("  Display  "));
        c.showtoolbar = body.Check("showtoolbar", QStringLiteral("Show Toolbar"));
        c.showcaptions = body.Check("showcaptions", QStringLiteral("Show Toolbar Captions"));
        c.showstatusbar = body.Check("showstatusbar", QStringLiteral("Show Statusbar"));
        body.EndGroup();
        body.BeginGroup("CommandsBox", QStringLiteral("  Commands  "));
        c.menuenabled = body.Check("menuenabled", QStringLiteral("Enable Context menu"));
        c.enablecopy = body.Check("enablecopy", QStringLiteral("Enable \"Copy to Clipboard\""));
        c.enablefind = body.Check("enablefind", QStringLiteral("Enable \"Find on this page\""));
        c.enableprint = body.Check("enableprint", QStringLiteral("Enable \"Print...\""));
        c.enablefont = body.Check("enablefont", QStringLiteral("Enable selection of Font size"));
        body.EndGroup();
    }
    {
        QWidget* p = page(4);
        FormColumn col(p, kTextLeft, 10, kPageWidth - kTextLeft - 12);
        col.Text("ProtectionIntro", QStringLiteral("You can protect your projects against unwanted use and select an "
                                           "expiration date."));
        FormColumn body(p, 12, std::max(col.Bottom(), 50) + 4, inner);
        body.BeginGroup("PasswordBox", QStringLiteral("  Password Protection  "));
        c.password = body.Edit("password", QStringLiteral("You may protect the output file with a Start Password:"));
        body.EndGroup();
        body.BeginGroup("ExpirationBox", QStringLiteral("  Expiration  "));
        body.Text("ExpirationNote", QStringLiteral("Additionally you can select a date from which the output file shall no "
                                           "longer start:"));
        body.Column(0, 90);
        c.expirationenabled = body.Check("expirationenabled", QStringLiteral("Enabled"));
        body.Row();
        c.expirationdate = body.Date("expirationdate", 100, 110);
        body.Skip(6);
        body.EndGroup();
    }
    {
        QWidget* p = page(5);
        FormColumn col(p, kTextLeft, 10, kPageWidth - kTextLeft - 12);
        col.Text("FilesIntro", QStringLiteral("By default, Quorvane Compiler includes all files from the root folder in "
                                           "the output file. You can specify your own file masks for the included "
                                           "files."));
        FormColumn body(p, 12, std::max(col.Bottom(), 50) + 2, inner);
        Emphasis(body.Text("MaskExample", QStringLiteral("For example: *.html;*.htm;*.bmp;*.jpg")));
        body.BeginGroup("IncludeBox", QStringLiteral("  Include  "));
        c.includemask = body.Edit("includemask", QStringLiteral("Specify files to include into output file by the "
                                                                "semicolon-separated list of file names or masks."));
        body.EndGroup();
        body.BeginGroup("DirectExecutionBox", QStringLiteral("  Direct Execution  "));
        c.directmask = body.Edit("directmask", QStringLiteral("You can specify files that will be executed directly "
                                                              "without browser dialogs by the semicolon-separated list "
                                                              "of file names or masks. (will be excluded from "
                                                              "compilation)"));
        body.EndGroup();
    }
    {
        QWidget* p = page(6);
        FormColumn col(p, kTextLeft, 10, kPageWidth - kTextLeft - 12);
        col.Text("BrowserIntro", QStringLiteral("You can customize the compression level for content and User-Agent "
                                           "identifier for built-in browser."));
        FormColumn body(p, 12, std::max(col.Bottom(), 50) + 4, inner);
        body.BeginGroup("CompressionBox", QStringLiteral("  Compression Level  "));
        c.compression = body.Combo("compression", {QStringLiteral("Normal"), QStringLiteral("Fastest"),
                                                   QStringLiteral("Maximum"), QStringLiteral("None")});
        body.EndGroup();
        body.BeginGroup("UserAgentBox", QStringLiteral("  User Agent  "));
        c.useragent = body.Edit("useragent", QStringLiteral("User Agent string for built-in browser, leave blank to "
                                                            "use default value from Internet Explorer"));
        body.EndGroup();
        body.BeginGroup("SearchIndexBox", QStringLiteral("  Search  "));
        c.searchindex = body.Check("searchindex", QStringLiteral("Search index"));
        body.EndGroup();
    }
    {
        QWidget* p = page(7);
        FormColumn col(p, kTextLeft, 14, kPageWidth - kTextLeft - 12);
        QLabel* done = col.Text("DoneTitle", QStringLiteral("The Project has been created successfully! "), 10);
        QFont bold = done->font();
        bold.setBold(true);
        done->setFont(bold);
        col.Text("DoneNote", QStringLiteral("Now the compiler is ready to start building your output file. Don't forget "
                                           "to save your project for future modifications."),
                 24);
        buildnow = col.Check("buildnow", QStringLiteral("Build Project Now"));
        col.Skip(4);
        runnow = col.Check("runnow", QStringLiteral("Run Output file after building"));
    }
    ShowProposals(ProjectSettingsRecord());
}

int ProjectWizard::PageIndex() const
{
    return Pages->currentIndex();
}

void ProjectWizard::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Coming back from minimised is no new opening.
    if (!event->spontaneous()) {
        move(mainform_.geometry().center() - rect().center());
        FormShow();
    }
}

void ProjectWizard::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void ProjectWizard::FormShow()
{
    // The compression level is the one control an opening keeps.
    ProjectSettingsRecord kept;
    kept.CompressionLevel = controls.compression->currentIndex();
    ShowProposals(kept);
    ShowPage(0);
}

void ProjectWizard::ShowProposals(const ProjectSettingsRecord& base)
{
    buildnow->setChecked(true);
    runnow->setChecked(true);
    LoadProjectFields(controls, kTransferOrder, WizardOpening(base, Today()));
    // New projects get an index; the command line's `new` asks for one.
    controls.searchindex->setChecked(true);
    borderstyleChange();
}

void ProjectWizard::FormActivate()
{
    PageFrame->setAutoFillBackground(true);
    ApplyButtonRule();
}

void ProjectWizard::ApplyButtonRule()
{
    NextButton->setText(PageIndex() == kLastPage ? QStringLiteral("Finish") : QStringLiteral("Next >"));
    BackButton->setVisible(PageIndex() != 0);
}

void ProjectWizard::ShowPage(int index)
{
    Pages->setCurrentIndex(index);
    ApplyButtonRule();
}

void ProjectWizard::NextButtonClick()
{
    const int index = PageIndex();
    if (index == 0) {
        const std::string home = controls.homepage->text().toStdString();
        if (!fs::FileExists(home)) {
            Dialogs().Information(this, QStringLiteral("Please select home page"));
            ApplyButtonRule();
            return;
        }
        controls.outname->setText(QString::fromStdString(OutputPathFor(home, true)));
        ShowPage(1);
    } else if (index < kLastPage) {
        ShowPage(index + 1);
    } else {
        Finish();
    }
    ApplyButtonRule();
}

void ProjectWizard::BackButtonClick()
{
    if (PageIndex() > 0)
        ShowPage(PageIndex() - 1);
    ApplyButtonRule();
}

void ProjectWizard::CancelButtonClick()
{
    close();
}

void ProjectWizard::Finish()
{
    ProcessState& state = State();
    StoreProjectFields(controls, kTransferOrder, state.ProjectSettings);
    mainform_.Navigate(QString::fromStdString(state.ProjectSettings.HomePage.str()));
    state.ProjectModified = true;
    mainform_.SaveAction->setEnabled(true);
    mainform_.SaveAsAction->setEnabled(true);
    mainform_.RunAction->setEnabled(false);
    mainform_.enablebuttons(true);
    mainform_.StatusPanels[0]->clear();
    close();
    if (buildnow->isChecked()) {
        mainform_.BuildActionExecute();
        if (runnow->isChecked() && !state.Build.CancelRequested)
            mainform_.RunActionExecute();
    }
}

void ProjectWizard::BrowseHomepageButtonClick()
{
    BrowseIntoEdit(OpenDialog, this, QStringLiteral("HTML Files (*.htm *.html *.shtml *.hta)"), controls.homepage);
}

void ProjectWizard::BrowseOutputButtonClick()
{
    const QString chosen = SaveDialog->ExecuteSave(this);
    if (!chosen.isEmpty())
        controls.outname->setText(chosen);
}

void ProjectWizard::BrowseIconButtonClick()
{
    BrowseIntoEdit(OpenDialog, this, QStringLiteral("Bitmap Files (.ico) (*.ico)"), controls.iconfile);
}

void ProjectWizard::exeformatClick()
{
    ApplyOutputFormat(controls.outname, true);
}

void ProjectWizard::qpfformatClick()
{
    ApplyOutputFormat(controls.outname, false);
}

void ProjectWizard::borderstyleChange()
{
    SizePositionBox->setEnabled(controls.borderstyle->currentIndex() != ViewerSettings::FullScreen);
}

void RegisterWizard()
{
    RegisterAppWindow(AppWindow::Wizard, [](MainWindow& mainform) -> QWidget* { return new ProjectWizard(mainform); });
}

} // namespace qv::app
