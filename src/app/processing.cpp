#include "processing.h"

#include "services/AppState.h"
#include "services/DialogService.h"
#include "utils.h"

#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

namespace qv::app {

QString PathLabel::DisplayedText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void PathLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawText(contentsRect(), static_cast<int>(alignment()), DisplayedText());
}

namespace {

QGroupBox* Group(QWidget* parent, const char* name, const QString& title, QRect place)
{
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(place);
    return box;
}

template <class W> W* Place(W* widget, const char* name, QRect place)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(place);
    return widget;
}

QProgressBar* Bar(QWidget* parent, const char* name, QRect place)
{
    auto* bar = Place(new QProgressBar(parent), name, place);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, QRect place)
{
    auto* button = Place(new QPushButton(caption, parent), name, place);
    // Neither Enter nor Esc may press a button here.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

BuildProgressDialog::BuildProgressDialog(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("progressform"));
    setWindowTitle(QStringLiteral("Processing..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(557, 232);
    setModal(true);

    OutputFileBox = Group(this, "OutputFileBox", QStringLiteral("  Output File:  "), {8, 8, 386, 49});
    OutputFileLabel = Place(new PathLabel(QStringLiteral("..."), OutputFileBox), "OutputFileLabel", {16, 24, 353, 17});
    OutputSizeBox = Group(this, "OutputSizeBox", QStringLiteral("  Output File Size  "), {400, 8, 145, 49});
    OutputSizeLabel = Place(new QLabel(QStringLiteral("0"), OutputSizeBox), "OutputSizeLabel", {16, 24, 145 - 24, 17});
    ActionBox = Group(this, "ActionBox", QStringLiteral("  Action  "), {8, 63, 282, 57});
    ActionLabel = Place(new QLabel(QStringLiteral("..."), ActionBox), "ActionLabel", {16, 24, 282 - 24, 17});
    FileProgressBox = Group(this, "FileProgressBox", QStringLiteral("  Progress  "), {296, 63, 253, 57});
    FileProgress = Bar(FileProgressBox, "FileProgress", {16, 24, 217, 17});
    OverallProgressBox = Group(this, "OverallProgressBox", QStringLiteral("  Overall Progress  "), {8, 126, 541, 59});
    OverallProgress = Bar(OverallProgressBox, "OverallProgress", {16, 24, 505, 17});
    RunButton = Button(this, "RunButton", QStringLiteral("Run"), {369, 199, 85, 25});
    CloseButton = Button(this, "CloseButton", QStringLiteral("Cancel"), {464, 199, 85, 25});
    for (QLabel* label : {static_cast<QLabel*>(OutputFileLabel), OutputSizeLabel, ActionLabel})
        label->setTextFormat(Qt::PlainText);

    connect(CloseButton, &QPushButton::clicked, this, &BuildProgressDialog::CloseButtonClick);
    connect(RunButton, &QPushButton::clicked, this, &BuildProgressDialog::RunButtonClick);
}

void BuildProgressDialog::FormShow()
{
    RunButton->setEnabled(false);
    CloseButton->setText(QStringLiteral("&Cancel"));
    FileProgress->setValue(0);
}

void BuildProgressDialog::CloseButtonClick()
{
    if (CloseButton->text() != QLatin1String("Finish")) {
        ProcessState& state = State();
        state.Build.CancelRequested = true;
        if (state.BuildThread)
            state.BuildThread->Cancel();
    }
    reject();
}

void BuildProgressDialog::RunButtonClick()
{
    Guarded(this, [] { OpenOutput(); });
}

void BuildProgressDialog::UpdateProgressView(const std::string& sizeText, const std::string& statusText,
                                       int32_t filePercent, int32_t overallPercent)
{
    OutputSizeLabel->setText(QString::fromStdString(sizeText));
    ActionLabel->setText(QString::fromStdString(statusText));
    FileProgress->setValue(filePercent);
    OverallProgress->setValue(overallPercent);
}

void BuildProgressDialog::ShowErrorBox(const std::string& text)
{
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    Dialogs().ErrorBox(this, QString::fromStdString(text));
}

void BuildProgressDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void BuildProgressDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Enter:
    case Qt::Key_Return:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace qv::app
