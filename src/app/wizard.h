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

class FileDialog;
class MainWindow;

// The new-project wizard: eight pages that cover every setting a user
// edits; Finish writes them all into the project's record, readies the main
// window for the new, untitled project and may build and open it at once.
// Created once, hidden when closed; each showing starts from the opening
// values (only the compression level is kept). Nothing reaches the record
// before Finish.
class ProjectWizard final : public QWidget {
    Q_OBJECT
public:
    explicit ProjectWizard(MainWindow& mainform);

    QLabel* SidePicture;
    QFrame* PageFrame;
    QStackedWidget* Pages;
    QPushButton* BackButton; // < Back
    QPushButton* NextButton; // Next > / Finish
    QPushButton* CancelButton; // Cancel
    QToolButton* BrowseHomepageButton;
    QToolButton* BrowseOutputButton;
    QToolButton* BrowseIconButton;
    QGroupBox* OutputFormatBox;
    QGroupBox* SizePositionBox;
    QCheckBox* buildnow;
    QCheckBox* runnow;
    FileDialog* OpenDialog;
    FileDialog* SaveDialog;
    ProjectControls controls;

    void FormShow();
    void FormActivate();
    void NextButtonClick();
    void BackButtonClick();
    void CancelButtonClick();
    void BrowseHomepageButtonClick();
    void BrowseOutputButtonClick();
    void BrowseIconButtonClick();
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
    void ShowProposals(const ProjectSettingsRecord& base);
    void ApplyButtonRule();
    void ShowPage(int index);
    void Finish();

    MainWindow& mainform_;
};

// Makes the wizard for the entry sequence.
void RegisterWizard();

} // namespace qv::app
