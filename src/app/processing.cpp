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

QString TPathLabel::DisplayedText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void TPathLabel::paintEvent(QPaintEvent*)
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

Tprogressform::Tprogressform(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("progressform"));
    setWindowTitle(QStringLiteral("Processing..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(557, 232);
    setModal(true);

    GroupBox1 = Group(this, "GroupBox1", QStringLiteral("  Output File:  "), {8, 8, 386, 49});
    Label1 = Place(new TPathLabel(QStringLiteral("..."), GroupBox1), "Label1", {16, 24, 353, 17});
    GroupBox2 = Group(this, "GroupBox2", QStringLiteral("  Output File Size  "), {400, 8, 145, 49});
    Label2 = Place(new QLabel(QStringLiteral("0"), GroupBox2), "Label2", {16, 24, 145 - 24, 17});
    GroupBox4 = Group(this, "GroupBox4", QStringLiteral("  Action  "), {8, 63, 282, 57});
    Label3 = Place(new QLabel(QStringLiteral("..."), GroupBox4), "Label3", {16, 24, 282 - 24, 17});
    GroupBox3 = Group(this, "GroupBox3", QStringLiteral("  Progress  "), {296, 63, 253, 57});
    ProgressBar1 = Bar(GroupBox3, "ProgressBar1", {16, 24, 217, 17});
    GroupBox5 = Group(this, "GroupBox5", QStringLiteral("  Overall Progress  "), {8, 126, 541, 59});
    ProgressBar2 = Bar(GroupBox5, "ProgressBar2", {16, 24, 505, 17});
    Button2 = Button(this, "Button2", QStringLiteral("Run"), {369, 199, 85, 25});
    Button1 = Button(this, "Button1", QStringLiteral("Cancel"), {464, 199, 85, 25});
    for (QLabel* label : {static_cast<QLabel*>(Label1), Label2, Label3})
        label->setTextFormat(Qt::PlainText);

    connect(Button1, &QPushButton::clicked, this, &Tprogressform::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tprogressform::Button2Click);
}

void Tprogressform::FormShow()
{
    Button2->setEnabled(false);
    Button1->setText(QStringLiteral("&Cancel"));
    ProgressBar1->setValue(0);
}

void Tprogressform::Button1Click()
{
    if (Button1->text() != QLatin1String("Finish")) {
        ProcessState& state = State();
        state.Build.CancelRequested = true;
        if (state.BuildThread)
            state.BuildThread->Cancel();
    }
    reject();
}

void Tprogressform::Button2Click()
{
    Guarded(this, [] { OpenOutput(); });
}

void Tprogressform::UpdateProgressView(const std::string& sizeText, const std::string& statusText,
                                       int32_t filePercent, int32_t overallPercent)
{
    Label2->setText(QString::fromStdString(sizeText));
    Label3->setText(QString::fromStdString(statusText));
    ProgressBar1->setValue(filePercent);
    ProgressBar2->setValue(overallPercent);
}

void Tprogressform::ShowErrorBox(const std::string& text)
{
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    Dialogs().ErrorBox(this, QString::fromStdString(text));
}

void Tprogressform::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void Tprogressform::keyPressEvent(QKeyEvent* event)
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
