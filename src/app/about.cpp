#include "about.h"

#include "forms/Artwork.h"
#include "services/DialogService.h"
#include "forms/FormArtwork.h"
#include "forms/FormKit.h"
#include "services/ShellService.h"
#include "services/VersionCheckUi.h"
#include "main.h"

#include <QGroupBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>

namespace qv::app {

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0xff));
    setPalette(p);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

QUrl ProductInformationAddress()
{
    return QUrl(QStringLiteral("https://www.quorvane.example/quorvane/?ref=quorvane"));
}

TAboutForm::TAboutForm(Tmainform& mainform) : QWidget(nullptr, Qt::Dialog), mainform_(mainform)
{
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Quorvane Compiler"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(500, 277);
    setFont(FormFont());
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Light));
    setPalette(background);
    setAutoFillBackground(true);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 500, 81);
    QPalette band = Panel1->palette();
    band.setColor(QPalette::Window, QColor(238, 244, 249));
    Panel1->setPalette(band);
    Panel1->setAutoFillBackground(true);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(12, 8, 64, 64);
    Image1->setScaledContents(true);
    Image1->setPixmap(ProgramPicture(128));

    Label1 = new QLabel(QStringLiteral("Quorvane Compiler"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont title;
    title.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    title.setPixelSize(24);
    title.setBold(true);
    Label1->setFont(title);
    QPalette black = Label1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(black);
    Label1->setGeometry(88, 12, 400, 32);

    Label2 = new QLabel(QStringLiteral("Compiling HTML pages into an EXE file"), Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    QPalette grey = Label2->palette();
    grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    Label2->setPalette(grey);
    Label2->setGeometry(90, 48, 400, 16);

    GroupBox1 = new QGroupBox(QStringLiteral("  Program Information  "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(12, 96, 476, 128);

    auto picture = [&](const char* name, Picture kind, int y) {
        auto* label = new QLabel(GroupBox1);
        label->setObjectName(QString::fromLatin1(name));
        label->setPixmap(CommandPicture(kind).pixmap(16, 16));
        label->setGeometry(18, y, 16, 16);
        return label;
    };
    InfoPicture = picture("InfoPicture", Picture::Home, 34);
    InfoLabel = new TLinkLabel(QStringLiteral("Product Information"), GroupBox1);
    InfoLabel->setObjectName(QStringLiteral("InfoLabel"));
    InfoLabel->setGeometry(40, 34, 150, 16);
    Label6 = new QLabel(GroupBox1);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label6->setTextFormat(Qt::PlainText);
    Label6->setGeometry(200, 34, 264, 16);
    UpdatePicture = picture("UpdatePicture", Picture::Build, 70);
    UpdateLabel = new TLinkLabel(QStringLiteral("Check updates..."), GroupBox1);
    UpdateLabel->setObjectName(QStringLiteral("UpdateLabel"));
    UpdateLabel->setGeometry(40, 70, 150, 16);

    Button1 = FormButton(this, "Button1", QStringLiteral("Close"), 408, 240, 80);

    connect(InfoLabel, &TLinkLabel::clicked, this, [this] { Guarded(this, [&] { InfoLabelClick(); }); });
    connect(UpdateLabel, &TLinkLabel::clicked, this, [this] { Guarded(this, [&] { UpdateLabelClick(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    FormCreate();
}

void TAboutForm::FormCreate()
{
    const VersionCheck* checker = VersionChecker(mainform_);
    const QString version = checker ? QString::fromStdString(checker->FileVersion()) : QString();
    Label6->setText(QStringLiteral("Product Version: ") + version + QStringLiteral(" (x86)"));
}

void TAboutForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        move(mainform_.geometry().center() - rect().center());
}

void TAboutForm::InfoLabelClick()
{
    Shell().Open(ProductInformationAddress());
}

void TAboutForm::UpdateLabelClick()
{
    if (VersionCheck* checker = VersionChecker(mainform_)) {
        checker->NoUpdatesDlg = true;
        checker->CheckVersion();
    }
}

void TAboutForm::Button1Click()
{
    close();
}

void RegisterAbout()
{
    RegisterAppWindow(AppWindow::About, [](Tmainform& mainform) -> QWidget* { return new TAboutForm(mainform); });
}

} // namespace qv::app
