#pragma once
#include "forms/ProjectControls.h"

#include <QWidget>

class QPushButton;
class QTabWidget;
class QToolButton;

namespace qv::app {

class FileDialog;
class MainWindow;

// The project options: the settings of the current project on five tabs.
// Each showing loads the record; "&Ok" writes it back, refreshes the
// preview and marks the project as changed; "&Cancel" and the close box
// only hide. The tab active when it was hidden is active again.
class OptionsDialog final : public QWidget {
    Q_OBJECT
public:
    explicit OptionsDialog(MainWindow& mainform);

    QTabWidget* Tabs;
    QWidget* GeneralTab;
    QWidget* ViewTab;
    QWidget* AdvancedTab;
    QWidget* FilesTab;
    QWidget* BrowserTab;
    QPushButton* OkButton; // &Ok
    QPushButton* CancelButton; // &Cancel
    QToolButton* BrowseHomepageButton;
    QToolButton* BrowseOutputButton;
    QToolButton* BrowseIconButton;
    FileDialog* OpenDialog;
    FileDialog* SaveDialog;
    ProjectControls controls;

    void FormShow();
    void OkButtonClick();
    void CancelButtonClick();
    void BrowseHomepageButtonClick();
    void BrowseOutputButtonClick();
    void BrowseIconButtonClick();
    void exeformatClick();
    void qpfformatClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildTabs();

    MainWindow& mainform_;
};

// Makes the options dialog for the entry sequence.
void RegisterOptions();

} // namespace qv::app
