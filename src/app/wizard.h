#pragma once
#include "forms/ProjectControls.h"

#include <QWidget>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace qv::app {

class TFileDialog;
class Tmainform;

// The new-project wizard: eight pages that cover every setting a user
// edits; Finish writes them all into the project's record, readies the main
// window for the new, untitled project and may build and open it at once.
// Created once, hidden when closed; each showing starts from the opening
// values (only the compression level is kept). Nothing reaches the record
// before Finish.
class TwizardForm final : public QWidget {
    Q_OBJECT
public:
    explicit TwizardForm(Tmainform& mainform);

    QLabel* Image1;
    QFrame* Panel1;
    QStackedWidget* Notebook1;
    QPushButton* Button3; // < Back
    QPushButton* Button2; // Next > / Finish
    QPushButton* Button1; // Cancel
    QToolButton* SpeedButton2;
    QToolButton* SpeedButton3;
    QToolButton* SpeedButton4;
    QGroupBox* RadioGroup1;
    QGroupBox* GroupBox3;
    QCheckBox* buildnow;
    QCheckBox* runnow;
    TFileDialog* OpenDialog1;
    TFileDialog* SaveDialog1;
    ProjectControls controls;

    void FormShow();
    void FormActivate();
    void Button2Click();
    void Button3Click();
    void Button1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void exeformatClick();
    void qpfformatClick();
    void borderstyleChange();

    int PageIndex() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildPages();
    // Fills every control with the new project's proposals on top of `base`.
    void ShowProposals(const TProjectSettings& base);
    void ApplyButtonRule();
    void ShowPage(int index);
    void Finish();

    Tmainform& mainform_;
};

// Makes the wizard for the entry sequence.
void RegisterWizard();

} // namespace qv::app
