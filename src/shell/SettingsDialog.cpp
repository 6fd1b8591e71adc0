#include "shell/SettingsDialog.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "config/Language.h"
#include "common/MessageTable.h"
#include "config/SslTunnel.h"
#include "shell/Prompts.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tessaly {

const QColor frmSettings::kLightRed(255, 128, 128);
const QColor frmSettings::kLightGreen(128, 255, 128);

namespace {
QString caption(int slot)
{
    return msg(slot);
}
} // namespace

frmSettings::frmSettings(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"frmSettings"_s);
    setWindowTitle(caption(210));
    const AppSettings &s = appSettings();

    // Server tab.
    auto *serverBox = new QGroupBox(caption(211));
    txtServer = new QLineEdit(s.Server);
    txtPort = new QLineEdit(QString::number(s.Port));
    txtPort->setValidator(new QIntValidator(0, 65535, txtPort));
    cboConnections = new QComboBox;
    for (int i = 1; i <= ConnectionList::MaxConnections; ++i)
        cboConnections->addItem(QString::number(i));
    cboConnections->setCurrentIndex(std::clamp(s.Connections, 1, int(ConnectionList::MaxConnections)) - 1);
    chkSSL = new QCheckBox(caption(216));
    chkSSL->setChecked(s.EnableSSL == 1);
    chkSSLNoVerify = new QCheckBox(caption(260));
    chkSSLNoVerify->setObjectName(u"chkSSLNoVerify"_s);
    chkSSLNoVerify->setChecked(s.SSLNoVerify == 1);
    cboSslMode = new QComboBox;
    cboSslMode->setObjectName(u"cboSslMode"_s);
    cboSslMode->addItems({msg(275), msg(276), msg(277)});
    cboSslMode->setCurrentIndex(int(sslMode(s)));
    txtFingerprint = new QLineEdit(s.SSLFingerprint);
    txtFingerprint->setObjectName(u"txtFingerprint"_s);
    txtFingerprint->setPlaceholderText(msg(281));
    txtFingerprint->setMinimumWidth(txtFingerprint->fontMetrics().horizontalAdvance(u"AB:"_s) * 33);
    const auto followMode = [this] {
        const auto mode = SslMode(cboSslMode->currentIndex());
        chkSSLNoVerify->setEnabled(mode == SslMode::Tunnel);
        txtFingerprint->setEnabled(mode == SslMode::BuiltIn);
    };
    followMode();
    chkLogin = new QCheckBox(caption(217));
    chkLogin->setChecked(s.Login == 1);
    txtUsername = new QLineEdit(s.Username);
    txtPassword = new QLineEdit(s.Password);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtUsername->setEnabled(chkLogin->isChecked());
    txtPassword->setEnabled(chkLogin->isChecked());
    auto *serverForm = new QFormLayout(serverBox);
    serverForm->addRow(caption(213), txtServer);
    serverForm->addRow(caption(214), txtPort);
    serverForm->addRow(caption(215), cboConnections);
    // "Connection:" is the one control; the box follows it unseen, as the
    // settings file keeps both.
    chkSSL->setParent(serverBox);
    chkSSL->hide();
    serverForm->addRow(msg(278), cboSslMode);
    serverForm->addRow(msg(279), txtFingerprint);
    serverForm->addRow(QString(), chkSSLNoVerify);
    serverForm->addRow(QString(), chkLogin);
    serverForm->addRow(caption(218), txtUsername);
    serverForm->addRow(caption(219), txtPassword);
    chkPostCheck = new QCheckBox(caption(250));
    chkPostCheck->setObjectName(u"chkPostCheck"_s);
    chkPostCheck->setChecked(s.PostCheck == 1);
    spnCheckDelay = new QSpinBox;
    spnCheckDelay->setObjectName(u"spnCheckDelay"_s);
    spnCheckDelay->setRange(0, 3600);
    spnCheckDelay->setValue(s.PostCheckDelay);
    spnCheckTries = new QSpinBox;
    spnCheckTries->setObjectName(u"spnCheckTries"_s);
    spnCheckTries->setRange(0, 100);
    spnCheckTries->setValue(s.PostCheckTries);
    spnCheckDelay->setEnabled(chkPostCheck->isChecked());
    spnCheckTries->setEnabled(chkPostCheck->isChecked());
    connect(chkPostCheck, &QCheckBox::toggled, spnCheckDelay, &QWidget::setEnabled);
    connect(chkPostCheck, &QCheckBox::toggled, spnCheckTries, &QWidget::setEnabled);
    serverForm->addRow(QString(), chkPostCheck);
    serverForm->addRow(caption(251), spnCheckDelay);
    serverForm->addRow(caption(252), spnCheckTries);

    // The check server: a box of its own, everything but its name greyed
    // while it has none.
    auto *checkBox = new QGroupBox(msg(300));
    checkBox->setObjectName(u"checkServerBox"_s);
    txtCheckServer = new QLineEdit(s.CheckServer);
    txtCheckServer->setObjectName(u"txtCheckServer"_s);
    txtCheckServer->setPlaceholderText(msg(302));
    txtCheckPort = new QLineEdit(QString::number(s.CheckPort));
    txtCheckPort->setObjectName(u"txtCheckPort"_s);
    txtCheckPort->setValidator(new QIntValidator(0, 65535, txtCheckPort));
    txtCheckPort->setMaximumWidth(txtCheckPort->fontMetrics().horizontalAdvance(u"0"_s) * 8);
    cboCheckSsl = new QComboBox;
    cboCheckSsl->setObjectName(u"cboCheckSsl"_s);
    cboCheckSsl->addItems({msg(275), msg(276)});
    cboCheckSsl->setCurrentIndex(s.CheckSSL == 1 ? 1 : 0);
    cboCheckConnections = new QComboBox;
    cboCheckConnections->setObjectName(u"cboCheckConnections"_s);
    for (int i = 1; i <= ConnectionList::MaxConnections; ++i)
        cboCheckConnections->addItem(QString::number(i));
    cboCheckConnections->setCurrentIndex(std::clamp(s.CheckConnections, 1, int(ConnectionList::MaxConnections)) - 1);
    txtCheckFingerprint = new QLineEdit(s.CheckFingerprint);
    txtCheckFingerprint->setObjectName(u"txtCheckFingerprint"_s);
    txtCheckFingerprint->setPlaceholderText(msg(281));
    txtCheckUsername = new QLineEdit(s.CheckUsername);
    txtCheckUsername->setObjectName(u"txtCheckUsername"_s);
    txtCheckPassword = new QLineEdit(s.CheckPassword);
    txtCheckPassword->setObjectName(u"txtCheckPassword"_s);
    txtCheckPassword->setEchoMode(QLineEdit::Password);
    auto *checkForm = new QFormLayout(checkBox);
    auto *checkServerRow = new QHBoxLayout;
    checkServerRow->addWidget(txtCheckServer, 1);
    checkServerRow->addWidget(new QLabel(caption(214)));
    checkServerRow->addWidget(txtCheckPort);
    checkForm->addRow(caption(213), checkServerRow);
    auto *checkModeRow = new QHBoxLayout;
    checkModeRow->addWidget(cboCheckSsl, 1);
    checkModeRow->addWidget(new QLabel(caption(215)));
    checkModeRow->addWidget(cboCheckConnections);
    checkForm->addRow(msg(278), checkModeRow);
    checkForm->addRow(msg(279), txtCheckFingerprint);
    auto *checkLoginRow = new QHBoxLayout;
    checkLoginRow->addWidget(txtCheckUsername, 1);
    checkLoginRow->addWidget(new QLabel(caption(219)));
    checkLoginRow->addWidget(txtCheckPassword, 1);
    checkForm->addRow(caption(218), checkLoginRow);
    const auto followCheckServer = [this] {
        const bool on = !txtCheckServer->text().trimmed().isEmpty();
        for (QWidget *w : std::initializer_list<QWidget *>{txtCheckPort, cboCheckSsl, cboCheckConnections,
                                                           txtCheckUsername, txtCheckPassword})
            w->setEnabled(on);
        txtCheckFingerprint->setEnabled(on && cboCheckSsl->currentIndex() == 1);
    };
    followCheckServer();
    connect(txtCheckServer, &QLineEdit::textChanged, this, followCheckServer);
    connect(cboCheckSsl, &QComboBox::currentIndexChanged, this, [this, followCheckServer](int index) {
        // The usual port of the chosen kind, unless another one was typed.
        const QString port = txtCheckPort->text().trimmed();
        if (index == 1 && (port.isEmpty() || port == u"119"_s))
            txtCheckPort->setText(u"563"_s);
        else if (index == 0 && (port.isEmpty() || port == u"563"_s))
            txtCheckPort->setText(u"119"_s);
        followCheckServer();
    });

    auto *postBox = new QGroupBox(caption(212));
    txtNickname = new QLineEdit(s.Nickname);
    txtEmail = new QLineEdit(s.Email);
    txtLines = new QLineEdit(QString::number(s.MaxLines));
    VSLines = new QScrollBar(Qt::Horizontal);
    VSLines->setRange(1000, 10000);
    VSLines->setValue(std::clamp(s.MaxLines, 1000, 10000));
    auto *linesRow = new QHBoxLayout;
    linesRow->addWidget(txtLines);
    linesRow->addWidget(VSLines, 1);
    auto *postForm = new QFormLayout(postBox);
    postForm->addRow(caption(220), txtNickname);
    postForm->addRow(caption(221), txtEmail);
    postForm->addRow(caption(222), linesRow);

    auto *serverTab = new QWidget;
    auto *serverLayout = new QVBoxLayout(serverTab);
    serverLayout->addWidget(serverBox);
    serverLayout->addWidget(checkBox);
    serverLayout->addWidget(postBox);
    serverLayout->addStretch(1);

    // Miscellaneous tab.
    auto *miscBox = new QGroupBox(caption(225));
    auto box = [](int slot, int value) {
        auto *c = new QCheckBox(QString(caption(slot)).replace(u"&&"_s, u"&&"_s));
        c->setChecked(value == 1 || (slot == 228 && value > 0));
        return c;
    };
    chkNoConfirm = box(226, s.ConfirmSubject);
    chkStoreGroups = box(227, s.KeepGroups);
    chkNZBOptOn = box(228, s.EnableNZB);
    chkRemoveSuccess = box(236, s.RemoveFiles);
    chkUpdate = box(237, s.CheckUpdates);
    chkHideSeparators = box(238, s.HideSeparators);
    chkStoreRarPar = box(247, s.StoreRarPar);
    chkOutsidePar2 = new QCheckBox(caption(303));
    chkOutsidePar2->setChecked(s.Par2Tool == u"outside"_s);
    auto *miscLayout = new QVBoxLayout(miscBox);
    for (QCheckBox *c : {chkNoConfirm, chkStoreGroups, chkNZBOptOn, chkRemoveSuccess, chkUpdate, chkHideSeparators,
                         chkStoreRarPar, chkOutsidePar2})
        miscLayout->addWidget(c);
    auto *languageBox = new QGroupBox(caption(243));
    cboLanguage = new QComboBox;
    cboLanguage->addItems(availableLanguages());
    cboLanguage->setCurrentIndex(std::max(0, cboLanguage->findText(s.Language)));
    auto *languageForm = new QFormLayout(languageBox);
    languageForm->addRow(caption(229), cboLanguage);
    auto *miscTab = new QWidget;
    auto *miscTabLayout = new QVBoxLayout(miscTab);
    miscTabLayout->addWidget(miscBox);
    miscTabLayout->addWidget(languageBox);
    miscTabLayout->addStretch(1);

    // Speed scheduler tab.
    auto *schedulerBox = new QGroupBox(caption(239));
    chkSpeedScheduler = new QCheckBox(caption(239));
    chkSpeedScheduler->setChecked(s.SpeedScheduler == 1);
    auto *grid = new QGridLayout;
    for (int h = 0; h < 24; ++h) {
        auto *b = new QPushButton(u"%1:00"_s.arg(h, 2, 10, QChar(u'0')));
        b->setObjectName(u"picColor%1"_s.arg(h));
        b->setFlat(true);
        b->setAutoFillBackground(true);
        picColor[std::size_t(h)] = b;
        connect(b, &QPushButton::clicked, this, [this, h] { toggleHour(h); });
        grid->addWidget(b, h / 6, h % 6);
        setHourColour(h, kLightGreen);
    }
    for (const QString &hour : s.speedHours) {
        bool ok = false;
        const int h = hour.toInt(&ok);
        if (ok && h >= 0 && h < 24)
            setHourColour(h, kLightRed);
    }
    txtSpeed = new QLineEdit(QString::number(s.LimitSpeed));
    txtSpeed->setEnabled(chkSpeedScheduler->isChecked());
    auto *speedRow = new QHBoxLayout;
    speedRow->addWidget(new QLabel(caption(242)));
    speedRow->addWidget(txtSpeed);
    speedRow->addWidget(new QLabel(u"kB/s"_s));
    speedRow->addStretch(1);
    auto *schedulerLayout = new QVBoxLayout(schedulerBox);
    schedulerLayout->addWidget(chkSpeedScheduler);
    schedulerLayout->addLayout(grid);
    schedulerLayout->addLayout(speedRow);
    schedulerLayout->addWidget(new QLabel(caption(241)));
    auto *schedulerTab = new QWidget;
    auto *schedulerTabLayout = new QVBoxLayout(schedulerTab);
    schedulerTabLayout->addWidget(schedulerBox);
    schedulerTabLayout->addStretch(1);

    tabs = new QTabWidget;
    tabs->addTab(serverTab, caption(223));
    tabs->addTab(miscTab, caption(224));
    tabs->addTab(schedulerTab, caption(240));

    auto *buttons = new QDialogButtonBox;
    buttons->addButton(caption(230), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(caption(231), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (cmdOk_Click())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);

    // Editing rules.
    // The box and the mode list say the same: ticked is built-in TLS unless
    // the tunnel is chosen, "Plain" unticks it.
    connect(chkSSL, &QCheckBox::toggled, this, [this, followMode](bool on) {
        if (on && cboSslMode->currentIndex() == int(SslMode::Plain))
            cboSslMode->setCurrentIndex(int(SslMode::BuiltIn));
        else if (!on)
            cboSslMode->setCurrentIndex(int(SslMode::Plain));
        followMode();
    });
    connect(cboSslMode, &QComboBox::currentIndexChanged, this, [this, followMode](int index) {
        chkSSL->setChecked(index != int(SslMode::Plain));
        followMode();
    });
    connect(chkSSL, &QCheckBox::toggled, this, [this](bool on) {
        if (on && txtPort->text() != u"563"_s) {
            // Only the tunnel is a program of its own that a firewall may stop.
            const int slot = cboSslMode->currentIndex() == int(SslMode::Tunnel) ? 232 : 290;
            if (Prompts::message(this, messageTable().message(slot), PromptIcon::Question, PromptButtons::YesNo, msg(234))
                == PromptAnswer::Yes)
                txtPort->setText(u"563"_s);
        } else if (!on && txtPort->text() != u"119"_s) {
            if (Prompts::message(this, messageTable().message(233), PromptIcon::Question, PromptButtons::YesNo, msg(234))
                == PromptAnswer::Yes)
                txtPort->setText(u"119"_s);
        }
    });
    connect(chkLogin, &QCheckBox::toggled, this, [this](bool on) {
        txtUsername->setEnabled(on);
        txtPassword->setEnabled(on);
    });
    connect(chkSpeedScheduler, &QCheckBox::toggled, txtSpeed, &QWidget::setEnabled);
    connect(chkSpeedScheduler, &QCheckBox::toggled, this, [this](bool on) {
        for (QPushButton *b : picColor)
            b->setEnabled(on);
    });
    for (QPushButton *b : picColor)
        b->setEnabled(chkSpeedScheduler->isChecked());
    connect(txtLines, &QLineEdit::textChanged, this, [this](const QString &t) {
        bool ok = false;
        const qint64 v = t.trimmed().toLongLong(&ok);
        if (!ok)
            return; // typing in progress; the value is checked on OK
        if (v < 1000)
            txtLines->setText(u"1000"_s);
        else if (v > 10000)
            txtLines->setText(u"10000"_s);
        else
            VSLines->setValue(int(v));
    });
    connect(VSLines, &QScrollBar::valueChanged, this, [this](int v) {
        if (txtLines->text() != QString::number(v))
            txtLines->setText(QString::number(v));
    });
    connect(txtSpeed, &QLineEdit::textChanged, this, [this](const QString &t) {
        if (!isWholeNumber(t))
            txtSpeed->setText(u"0"_s);
    });
    connect(txtPort, &QLineEdit::textChanged, this, [this](const QString &t) {
        if (t.isEmpty())
            txtPort->setText(u"119"_s);
    });
    connect(chkHideSeparators, &QCheckBox::clicked, this, [this] {
        appSettings().HideSeparators = chkHideSeparators->isChecked() ? 1 : 0;
        Prompts::message(this, msg(244), PromptIcon::Information);
    });
    connect(cboLanguage, &QComboBox::activated, this, &frmSettings::chooseLanguage);
    resize(560, 480);
}

void frmSettings::setHourColour(int hour, const QColor &colour)
{
    QPushButton *b = picColor[std::size_t(hour)];
    b->setProperty("hourColour", colour);
    // Grey while the scheduler is off: the hours say nothing then.
    b->setStyleSheet(u"QPushButton { background-color: %1; border: 1px solid #999; padding: 4px; }"
                     u"QPushButton:disabled { background-color: #e0e0e0; color: #888; }"_s.arg(colour.name()));
}

bool frmSettings::hourIsRed(int hour) const
{
    return picColor[std::size_t(hour)]->property("hourColour").value<QColor>() == kLightRed;
}

void frmSettings::toggleHour(int hour)
{
    const QColor now = picColor[std::size_t(hour)]->property("hourColour").value<QColor>();
    setHourColour(hour, now == kLightGreen ? kLightRed : kLightGreen);
}

void frmSettings::chooseLanguage(int index)
{
    if (index <= 0) {
        SetEnglishLanguage();
        return;
    }
    const QString name = cboLanguage->itemText(index);
    if (SetLanguage(languageFilePath(name)))
        return;
    SetEnglishLanguage();
    appSettings().Language = u"English"_s;
    writeSettingKeys({u"Language"_s});
    cboLanguage->setCurrentIndex(0);
    Prompts::message(this, msg(235), PromptIcon::Critical);
}

bool frmSettings::run()
{
    switch (Prompts::mode()) {
    case PromptMode::Interactive:
        return exec() == QDialog::Accepted;
    case PromptMode::Scripted:
        if (!cmdOk_Click())
            return false;
        accept();
        return true;
    case PromptMode::Headless:
        break; // nobody to fill it in: nothing changes
    }
    return false;
}

bool frmSettings::cmdOk_Click()
{
    // A value that cannot be kept is refused before anything is stored.
    bool portOk = false;
    const QString portText = txtPort->text().trimmed();
    const int port = portText.toInt(&portOk);
    if (!portText.isEmpty() && (!portOk || port < 1 || port > 65535)) {
        tabs->setCurrentIndex(0);
        Prompts::message(this, msg(269).arg(txtPort->text()), PromptIcon::Exclamation);
        txtPort->setFocus();
        txtPort->selectAll();
        return false;
    }
    if (const QString pin = txtFingerprint->text().trimmed(); !pin.isEmpty() && normalizedFingerprint(pin).isEmpty()) {
        tabs->setCurrentIndex(0);
        Prompts::message(this, msg(280).arg(pin.left(100)), PromptIcon::Exclamation);
        txtFingerprint->setFocus();
        txtFingerprint->selectAll();
        return false;
    }
    const QString checkPortText = txtCheckPort->text().trimmed();
    bool checkPortOk = false;
    const int checkPort = checkPortText.toInt(&checkPortOk);
    if (!checkPortText.isEmpty() && (!checkPortOk || checkPort < 1 || checkPort > 65535)) {
        tabs->setCurrentIndex(0);
        Prompts::message(this, msg(269).arg(txtCheckPort->text()), PromptIcon::Exclamation);
        txtCheckPort->setFocus();
        txtCheckPort->selectAll();
        return false;
    }
    if (const QString pin = txtCheckFingerprint->text().trimmed();
        !pin.isEmpty() && normalizedFingerprint(pin).isEmpty()) {
        tabs->setCurrentIndex(0);
        Prompts::message(this, msg(280).arg(pin.left(100)), PromptIcon::Exclamation);
        txtCheckFingerprint->setFocus();
        txtCheckFingerprint->selectAll();
        return false;
    }
    AppSettings &s = appSettings();
    if (chkSpeedScheduler->isChecked() && txtSpeed->text() == u"0"_s) {
        Prompts::message(this, messageTable().message(245));
        chkSpeedScheduler->setChecked(false);
    }
    s.Server = txtServer->text().trimmed();
    s.Port = portText.isEmpty() ? 119 : port;
    s.Connections = cboConnections->currentIndex() + 1;
    s.Username = txtUsername->text().trimmed();
    s.Password = txtPassword->text().trimmed();
    s.Login = chkLogin->isChecked() ? 1 : 0;
    s.PostCheck = chkPostCheck->isChecked() ? 1 : 0;
    s.PostCheckDelay = spnCheckDelay->value();
    s.PostCheckTries = spnCheckTries->value();
    s.CheckServer = txtCheckServer->text().trimmed();
    s.CheckSSL = cboCheckSsl->currentIndex() == 1 ? 1 : 0;
    s.CheckPort = checkPortText.isEmpty() ? (s.CheckSSL == 1 ? 563 : 119) : checkPort;
    s.CheckConnections = cboCheckConnections->currentIndex() + 1;
    s.CheckFingerprint = txtCheckFingerprint->text().trimmed();
    s.CheckUsername = txtCheckUsername->text().trimmed();
    s.CheckPassword = txtCheckPassword->text().trimmed();
    s.Nickname = txtNickname->text().trimmed();
    s.Email = txtEmail->text().trimmed();
    s.setMaxLines(std::clamp(txtLines->text().trimmed().toInt(), 1000, 10000));
    s.ConfirmSubject = chkNoConfirm->isChecked() ? 1 : 0;
    s.KeepGroups = chkStoreGroups->isChecked() ? 1 : 0;
    s.EnableNZB = chkNZBOptOn->isChecked() ? 1 : 0;
    s.RemoveFiles = chkRemoveSuccess->isChecked() ? 1 : 0;
    s.CheckUpdates = chkUpdate->isChecked() ? 1 : 0;
    s.HideSeparators = chkHideSeparators->isChecked() ? 1 : 0;
    s.SpeedScheduler = chkSpeedScheduler->isChecked() ? 1 : 0;
    s.LimitSpeed = txtSpeed->text().toInt();
    s.StoreRarPar = chkStoreRarPar->isChecked() ? 1 : 0;
    s.Par2Tool = chkOutsidePar2->isChecked() ? u"outside"_s : u"builtin"_s;

    QString items;
    for (int h = 0; h < 24; ++h)
        if (hourIsRed(h))
            items += u"%1|"_s.arg(h, 2, 10, QChar(u'0'));
    if (chkSpeedScheduler->isChecked() && items.isEmpty()) {
        Prompts::message(this, messageTable().message(246));
        chkSpeedScheduler->setChecked(false);
        s.SpeedScheduler = 0;
    }
    s.setSpeedItems(items);

    stopTunnel();
    const auto mode = SslMode(cboSslMode->currentIndex());
    s.SSLNoVerify = mode == SslMode::Tunnel && chkSSLNoVerify->isChecked() ? 1 : 0;
    s.SSLFingerprint = txtFingerprint->text().trimmed();
    if (mode != SslMode::Plain)
        s.SSLTunnel = mode == SslMode::Tunnel ? 1 : 0;
    if (mode == SslMode::BuiltIn) {
        s.EnableSSL = 1;
    } else if (mode == SslMode::Tunnel) {
        s.EnableSSL = 1;
        const QString error = writeTunnelConfig();
        if (!error.isEmpty())
            LogError(ErrorCode::FileIo, error);
        if (!startTunnel())
            LogError(ErrorCode::FileNotFound, u"The tunnel program "_s + tunnelProgram() + u" could not be started"_s);
    } else {
        s.EnableSSL = 0;
    }

    connectionList().rebuild(s.Connections);
    if (onConnectionsChanged)
        onConnectionsChanged();

    const QString language = cboLanguage->currentText();
    const bool languageChanged = language != s.Language;
    s.Language = language;

    const QString error = writeSettingKeys({u"Server"_s, u"Port"_s, u"Username"_s, u"Password"_s, u"Login"_s,
                                            u"Connections"_s, u"Nickname"_s, u"Email"_s, u"MaxLines"_s, u"EnableSSL"_s,
                                            u"ConfirmSubject"_s, u"KeepGroups"_s, u"EnableNZB"_s, u"Language"_s,
                                            u"RemoveFiles"_s, u"CheckUpdates"_s, u"HideSeparators"_s, u"StoreRarPar"_s,
                                            u"SpeedScheduler"_s, u"SpeedItems"_s, u"LimitSpeed"_s,
                                            u"PostCheck"_s, u"PostCheckDelay"_s, u"PostCheckTries"_s,
                                            u"SSLNoVerify"_s, u"SSLTunnel"_s, u"SSLFingerprint"_s,
                                            u"CheckServer"_s, u"CheckPort"_s, u"CheckSSL"_s, u"CheckFingerprint"_s,
                                            u"CheckUsername"_s, u"CheckPassword"_s, u"CheckConnections"_s, u"Par2Tool"_s});
    if (!error.isEmpty())
        LogError(ErrorCode::FileIo, error);
    if (languageChanged && onLanguageChanged)
        onLanguageChanged();
    return true;
}

} // namespace tessaly
