#pragma once
#include <QLabel>
#include <QWidget>

class QGroupBox;
class QPushButton;

namespace qv::app {

class Tmainform;

// A label that looks and acts like a link: blue, underlined, hand cursor.
class TLinkLabel final : public QLabel {
    Q_OBJECT
public:
    TLinkLabel(const QString& text, QWidget* parent);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The about window: the program's name and version, a link to the product's
// page and one that starts an update check. Created once; Close hides it.
class TAboutForm final : public QWidget {
    Q_OBJECT
public:
    explicit TAboutForm(Tmainform& mainform);

    QWidget* Panel1;
    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QGroupBox* GroupBox1;
    QLabel* InfoPicture;
    TLinkLabel* InfoLabel;
    QLabel* UpdatePicture;
    TLinkLabel* UpdateLabel;
    QLabel* Label6;
    QPushButton* Button1;

    void FormCreate();
    void InfoLabelClick();
    void UpdateLabelClick();
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Tmainform& mainform_;
};

// The product's page on the publisher's web site that "Product
// Information" opens.
QUrl ProductInformationAddress();

// Makes the about window for the entry sequence.
void RegisterAbout();

} // namespace qv::app
