// TConfigForm: the modal settings dialog. It fills its controls from the in-memory mail
// settings (the connection keys read again from the file first), keeps the dependent controls'
// enabling in step with their check boxes, and on apply writes every control through the
// settings table and recreates the mail folders. One form serves one opening.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace tzn {

class TWindowServices;

class TConfigForm {
public:
    // Asks for a folder: the caption and the folder to start in (as the module writes paths);
    // the chosen folder as the module writes paths, or nothing when the user cancelled.
    using FolderBrowser = std::function<std::optional<std::string>(const std::string& caption,
                                                                   const std::string& start)>;

    // Creates the hidden dialog on the window thread. `services` shows apply's errors; without
    // them the headless window services do.
    explicit TConfigForm(TWindowServices* services = nullptr);
    ~TConfigForm();
    TConfigForm(const TConfigForm&) = delete;
    TConfigForm& operator=(const TConfigForm&) = delete;

    // FormShow, then the modal showing (window thread): 1 after apply, 2 after cancel.
    int ShowModal();
    QDialog* Widget() const;
    // Brings a page forward: 0 transport, 1 general (the one showing at opening), 2 connection.
    void ShowPage(int index);
    // Replaces the system's folder browser (the tests' and scripts' way to answer it).
    void SetFolderBrowser(FolderBrowser browser) { FBrowseFolder = std::move(browser); }

    // The dialog's handlers.
    void FormShow();
    void OKBtnClick();
    void CancelBtnClick();
    void SpeedButton1Click();
    void cbIsSaveInMailClick();
    void cbUserDataClick();
    void cbUseDefaultConnClick();
    void cbUseAddictAddrClick();
    void cb_AutoSendIfNoMailClick();
    // The typing filter of the additional-address memo: sets key to 0 to discard it.
    void mAddictionAdresKeyPress(char& key);

private:
    struct Controls;
    void Build();
    // The pages, each with its controls; Build puts them in order.
    QWidget* BuildTransportPage();
    QWidget* BuildGeneralPage();
    QWidget* BuildConnectionPage();
    void FillControls();
    void FillDialUpEntries(const std::string& selected);
    void ApplySide();
    void Apply();

    TWindowServices* FServices;
    FolderBrowser FBrowseFolder;
    std::unique_ptr<QDialog> FDialog;
    std::unique_ptr<Controls> FC;
};

} // namespace tzn
