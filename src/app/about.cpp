#include "about.h"

#include "forms/Artwork.h"
#include "services/DialogService.h"
#include "forms/FormKit.h"
#include "services/ShellService.h"
#include "services/VersionCheckUi.h"
#include "main.h"

#include <QGroupBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>

namespace qv::app {

LinkLabel::LinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
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

void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

QUrl ProductInformationAddress()
{
    return QUrl(QStringLiteral("https://www.quorvane.example/quorvane/?ref=quorvane"));
}

AboutWindow::AboutWindow(MainWindow& mainform) : QWidget(nullptr, Qt::Dialog), mainform_(mainform)
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

    TitleBand = new QWidget(this);
    TitleBand->setObjectName(QStringLiteral("TitleBand"));
    TitleBand->setGeometry(0, 0, 500, 81);
    QPalette band = TitleBand->palette();
    band.setColor(QPalette::Window, QColor(238, 244, 249));
    TitleBand->setPalette(band);
    TitleBand->setAutoFillBackground(true);

    ProgramImage = new QLabel(TitleBand);
    ProgramImage->setObjectName(QStringLiteral("ProgramImage"));
    ProgramImage->setGeometry(12, 8, 64, 64);
    ProgramImage->setScaledContents(true);
    ProgramImage->setPixmap(ProgramPicture());

    TitleLabel = new QLabel(QStringLiteral("Quorvane Compiler"), TitleBand);
    TitleLabel->setObjectName(QStringLiteral("TitleLabel"));
    QFont title;
    title.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    title.setPixelSize(24);
    title.setBold(true);
    TitleLabel->setFont(title);
    QPalette black = TitleLabel->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    TitleLabel->setPalette(black);
    TitleLabel->setGeometry(88, 12, 400, 32);

    SubtitleLabel = new QLabel(QStringLiteral("Compiling HTML pages into an EXE file"), TitleBand);
    SubtitleLabel->setObjectName(QStringLiteral("SubtitleLabel"));
    QPalette grey = SubtitleLabel->palette();
    grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    SubtitleLabel->setPalette(grey);
    SubtitleLabel->setGeometry(90, 48, 400, 16);

    InformationBox = new QGroupBox(QStringLiteral("  Program Information  "), this);
    InformationBox->setObjectName(QStringLiteral("InformationBox"));
    InformationBox->setGeometry(12, 96, 476, 128);

    auto picture = [&](const char* name, Picture kind, int y) {
        auto* label = new QLabel(InformationBox);
        label->setObjectName(QString::fromLatin1(name));
        label->setPixmap(CommandPicture(kind).pixmap(16, 16));
        label->setGeometry(18, y, 16, 16);
        return label;
    };
    InfoPicture = picture("InfoPicture", Picture::Home, 34);
    InfoLabel = new LinkLabel(QStringLiteral("Product Information"), InformationBox);
    InfoLabel->setObjectName(QStringLiteral("InfoLabel"));
    InfoLabel->setGeometry(40, 34, 150, 16);
    VersionLabel = new QLabel(InformationBox);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    VersionLabel->setTextFormat(Qt::PlainText);
    VersionLabel->setGeometry(200, 34, 264, 16);
    UpdatePicture = picture("UpdatePicture", Picture::Build, 70);
    UpdateLabel = new LinkLabel(QStringLiteral("Check updates..."), InformationBox);
    UpdateLabel->setObjectName(QStringLiteral("UpdateLabel"));
    UpdateLabel->setGeometry(40, 70, 150, 16);

    CloseButton = FormButton(this, "CloseButton", QStringLiteral("Close"), 408, 240, 80);

    connect(InfoLabel, &LinkLabel::clicked, this, [this] { Guarded(this, [&] { InfoLabelClick(); }); });
    connect(UpdateLabel, &LinkLabel::clicked, this, [this] { Guarded(this, [&] { UpdateLabelClick(); }); });
    connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
    FormCreate();
}

void AboutWindow::FormCreate()
{
    const VersionCheck* checker = VersionChecker(mainform_);
    const QString version = checker ? QString::fromStdString(checker->FileVersion()) : QString();
    VersionLabel->setText(QStringLiteral("Product Version: ") + version + QStringLiteral(" (x86)"));
}

void AboutWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        move(mainform_.geometry().center() - rect().center());
}

void AboutWindow::InfoLabelClick()
{
    Shell().Open(ProductInformationAddress());
}

void AboutWindow::UpdateLabelClick()
{
    if (VersionCheck* checker = VersionChecker(mainform_)) {
        checker->NoUpdatesDlg = true;
        checker->CheckVersion();
    }
}

void AboutWindow::CloseButtonClick()
{
    close();
}

void RegisterAbout()
{
    RegisterAppWindow(AppWindow::About, [](MainWindow& mainform) -> QWidget* { return new AboutWindow(mainform); });
}

} // namespace qv::app
