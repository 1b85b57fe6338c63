#pragma once
#include "forms/ProjectControls.h"

#include <QWidget>

class QPushButton;
class QTabWidget;
class QToolButton;

namespace qv::app {

class TFileDialog;
class Tmainform;

// The project options: the settings of the current project on five tabs.
// Each showing loads the record; "&Ok" writes it back, refreshes the
// preview and marks the project as changed; "&Cancel" and the close box
// only hide. The tab active when it was hidden is active again.
class ToptionsForm final : public QWidget {
    Q_OBJECT
public:
    explicit ToptionsForm(Tmainform& mainform);

    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* TabSheet3;
    QWidget* TabSheet4;
    QWidget* TabSheet5;
    QPushButton* Button2; // &Ok
    QPushButton* Button1; // &Cancel
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    TFileDialog* OpenDialog1;
    TFileDialog* SaveDialog1;
    ProjectControls controls;

    void FormShow();
    void Button2Click();
    void Button1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void exeformatClick();
    void qpfformatClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildTabs();

    Tmainform& mainform_;
};

// Makes the options dialog for the entry sequence.
void RegisterOptions();

} // namespace qv::app
