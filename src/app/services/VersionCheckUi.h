#pragma once
#include "quorvane/update/VersionCheck.h"

#include <QObject>

#include <memory>

namespace qv::app {

class MainWindow;

// The main window's update checker: the core component, its messages in
// the program's message boxes and its download address in the user's web
// browser. A child of the main window, which releases it in FormDestroy
// while its dispatcher still serves.
class VersionCheckHolder final : public QObject, public VersionCheckUi {
    Q_OBJECT
public:
    explicit VersionCheckHolder(MainWindow& mainform);
    ~VersionCheckHolder() override;

    VersionCheck& Checker() { return *checker_; }

    void ErrorBox(const std::string& text) override;
    bool ConfirmYesNo(const std::string& text) override;
    void ConfirmOk(const std::string& text) override;
    void OpenUrl(const std::string& url) override;

private:
    std::unique_ptr<VersionCheck> checker_;
};

// The addresses the main window gives its checker.
extern const char* const kVersionFeedAddress;
extern const char* const kInstallerAddress;

// FormCreate: makes the checker with the main window's settings and binds
// Check Updates to it. FormDestroy: releases it.
void CreateVersionCheck(MainWindow& mainform);
void DestroyVersionCheck(MainWindow& mainform);
// The main window's checker; none before CreateVersionCheck.
VersionCheck* VersionChecker(MainWindow& mainform);

} // namespace qv::app
