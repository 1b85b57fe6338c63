#pragma once
#include <QLabel>
#include <QWidget>

class QGroupBox;
class QPushButton;

namespace qv::app {

class MainWindow;

// A label that looks and acts like a link: blue, underlined, hand cursor.
class LinkLabel final : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& text, QWidget* parent);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The about window: the program's name and version, a link to the product's
// page and one that starts an update check. Created once; Close hides it.
class AboutWindow final : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindow(MainWindow& mainform);

    QWidget* TitleBand;
    QLabel* ProgramImage;
    QLabel* TitleLabel;
    QLabel* SubtitleLabel;
    QGroupBox* InformationBox;
    QLabel* InfoPicture;
    LinkLabel* InfoLabel;
    QLabel* UpdatePicture;
    LinkLabel* UpdateLabel;
    QLabel* VersionLabel;
    QPushButton* CloseButton;

    void FormCreate();
    void InfoLabelClick();
    void UpdateLabelClick();
    void CloseButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    MainWindow& mainform_;
};

// The product's page on the publisher's web site that "Product
// Information" opens.
QUrl ProductInformationAddress();

// Makes the about window for the entry sequence.
void RegisterAbout();

} // namespace qv::app
