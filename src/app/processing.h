#pragma once
#include "quorvane/compile/BuildJob.h"

#include <QDialog>
#include <QLabel>

class QGroupBox;
class QProgressBar;
class QPushButton;

namespace qv::app {

// A label that shortens a long text in its middle with an ellipsis, as
// paths are best shown; text() keeps the whole text.
class PathLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QString DisplayedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The build progress window. The main window makes one and shows it
// modally for each build; the build job feeds it through
// UpdateProgressView and its errors through ShowErrorBox, both on the
// user-interface thread while the worker waits.
class BuildProgressDialog final : public QDialog, public BuildView {
    Q_OBJECT
public:
    explicit BuildProgressDialog(QWidget* owner);

    QGroupBox* OutputFileBox;
    PathLabel* OutputFileLabel;
    QGroupBox* OutputSizeBox;
    QLabel* OutputSizeLabel;
    QGroupBox* ActionBox;
    QLabel* ActionLabel;
    QGroupBox* FileProgressBox;
    QProgressBar* FileProgress;
    QGroupBox* OverallProgressBox;
    QProgressBar* OverallProgress;
    QPushButton* RunButton;
    QPushButton* CloseButton;

    void FormShow();
    void CloseButtonClick();
    void RunButtonClick();

    void UpdateProgressView(const std::string& sizeText, const std::string& statusText, int32_t filePercent,
                            int32_t overallPercent) override;
    void ShowErrorBox(const std::string& text) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace qv::app
