// The settings dialog: server, posting, miscellaneous options, the speed
// scheduler's hours and limit, and the language.
#pragma once

#include <QColor>
#include <QDialog>

#include <array>

class QCheckBox;
class QSpinBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTabWidget;

namespace tessaly {

class frmSettings : public QDialog
{
    Q_OBJECT
public:
    static const QColor kLightRed;
    static const QColor kLightGreen;

    explicit frmSettings(QWidget *parent = nullptr);

    // Shows it (interactive) or confirms it at once (scripted, headless).
    // Returns whether OK was pressed.
    bool run();
    // Stores the values; false (nothing stored, the dialog stays) when one is refused.
    bool cmdOk_Click();

    // Hour box i (0..23): a click toggles light green and light red.
    void toggleHour(int hour);
    bool hourIsRed(int hour) const;
    // A language was chosen in the list.
    void chooseLanguage(int index);

    // Called after OK when the language changed (the main window re-labels).
    std::function<void()> onLanguageChanged;
    // Called after OK to rebuild the connection rows.
    std::function<void()> onConnectionsChanged;

    QLineEdit *txtServer = nullptr;
    QLineEdit *txtPort = nullptr;
    QComboBox *cboConnections = nullptr;
    QCheckBox *chkSSL = nullptr;
    QCheckBox *chkSSLNoVerify = nullptr; // the tunnel does not check the server's certificate
    QComboBox *cboSslMode = nullptr;      // plain, built-in TLS, the tunnel (follows chkSSL)
    QLineEdit *txtFingerprint = nullptr;  // the pinned certificate (built-in TLS)
    QCheckBox *chkLogin = nullptr;
    QLineEdit *txtUsername = nullptr;
    QLineEdit *txtPassword = nullptr;
    QCheckBox *chkPostCheck = nullptr;
    QSpinBox *spnCheckDelay = nullptr;
    QSpinBox *spnCheckTries = nullptr;
    // The second server that makes the post checks (empty: none).
    QLineEdit *txtCheckServer = nullptr;
    QLineEdit *txtCheckPort = nullptr;
    QComboBox *cboCheckSsl = nullptr; // plain or built-in TLS
    QComboBox *cboCheckConnections = nullptr;
    QLineEdit *txtCheckFingerprint = nullptr;
    QLineEdit *txtCheckUsername = nullptr;
    QLineEdit *txtCheckPassword = nullptr;
    QLineEdit *txtNickname = nullptr;
    QLineEdit *txtEmail = nullptr;
    QLineEdit *txtLines = nullptr;
    QScrollBar *VSLines = nullptr;
    QCheckBox *chkNoConfirm = nullptr;
    QCheckBox *chkStoreGroups = nullptr;
    QCheckBox *chkNZBOptOn = nullptr;
    QCheckBox *chkRemoveSuccess = nullptr;
    QCheckBox *chkUpdate = nullptr;
    QCheckBox *chkHideSeparators = nullptr;
    QCheckBox *chkStoreRarPar = nullptr;
    QCheckBox *chkOutsidePar2 = nullptr;
    QCheckBox *chkSpeedScheduler = nullptr;
    QLineEdit *txtSpeed = nullptr;
    QComboBox *cboLanguage = nullptr;
    QTabWidget *tabs = nullptr;
    std::array<QPushButton *, 24> picColor{};

private:
    void setHourColour(int hour, const QColor &colour);
    bool settingLanguage_ = false;
};

} // namespace tessaly
