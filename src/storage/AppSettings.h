// The values of Settings.ini, one field per key, and the routines that read,
// repair and write them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace tessaly {

class ProfileFile;

struct AppSettings
{
    QString Server;
    int Port = 119;
    QString Username;
    QString Password; // plain in memory, scrambled in the file
    // Kept in the desktop's secret store instead; the file's Password is empty.
    bool passwordInStore = false;
    // 1: the tunnel does not check the server's certificate (a warning each start).
    int SSLNoVerify = 0;
    // With EnableSSL: 0 built-in TLS (the default, also for files without
    // the key), 1 through the stunnel tunnel.
    int SSLTunnel = 0;
    // The pinned SHA-256 of the server's certificate (64 hex digits, colons
    // allowed), or empty: see engine/Tls.h.
    QString SSLFingerprint;
    // The main window's place and size when it is not maximised: "x,y,w,h".
    QString WindowGeometry;
    // The tunnel's local end, chosen when it starts (not kept in the file).
    int tunnelLocalPort = 0;
    int Login = 0;
    int Connections = 1;
    QString Nickname;
    QString Email;
    int MaxLines = 3000;
    QString Subject;
    QString WindowState = QStringLiteral("0");
    int MaxSpeed = 0;
    QString LastPath;
    int EnableSSL = 0;
    double SplitterPos1 = 70;
    double SplitterPos2 = 20;
    int ConfirmSubject = 0;
    int KeepGroups = 0;
    QString GroupNames;
    int EnableNZB = 0;
    QString Language = QStringLiteral("English");
    int RemoveFiles = 0;
    int CheckUpdates = 0;
    int HideSeparators = 0;
    int StoreRarPar = 0;
    int SpeedScheduler = 0;
    QString SpeedItems;
    int LimitSpeed = 0;
    int Column1 = 563, Column2 = 119, Column3 = 86, Column4 = 115;
    int Column5 = 46, Column6 = 286, Column7 = 293, Column8 = 152, Column9 = 105;
    int NoUpload = 0;
    int RemoveFromDisk = 0;
    int BytesMB = 0;
    QString RarSplitSize;
    int RarCompression = 0;
    int CreateZip = 0;
    int NoArchive = 0;
    int OldNamingScheme = 0;
    int CalcEfficient = 0;
    int Redundancy = 0;
    int UniformSize = 0;
    // Every accepted article is asked for again after PostCheckDelay
    // seconds; a missing one is posted again up to PostCheckTries times.
    int PostCheck = 1;
    int PostCheckDelay = 5;
    int PostCheckTries = 2;
    // An unattended run that made no progress for this many minutes gives
    // up; 0 retries for ever.
    int RetryMinutes = 10;
    // New collections are posted obfuscated (random subjects, names and
    // poster; the NZB keeps the real names), and their NZB is posted with
    // them (else only written): what the add-files dialog offers first.
    int Obfuscate = 0;
    int PostNzb = 1;
    // A second server for the post check and --verify (empty: the posting
    // server checks), with its own port, built-in TLS and pin, login and
    // connections. Its password is kept as the posting one is.
    QString CheckServer;
    int CheckPort = 119;
    int CheckSSL = 0;
    QString CheckFingerprint;
    QString CheckUsername;
    QString CheckPassword;
    bool checkPasswordInStore = false;
    int CheckConnections = 1;
    // Who makes the PAR2 files of Rar & Par jobs: "builtin" (this program's
    // own creator) or "outside" (the par2 program, as before).
    QString Par2Tool = QStringLiteral("builtin");

    // Derived values.
    qint64 PartSize = 3000 * 128; // MaxLines x 128 bytes
    QStringList speedHours;       // SpeedItems split at "|"

    void setMaxLines(int lines);
    void setSpeedItems(const QString &items);

    // The key's value as it is written to the file (Password scrambled).
    QString fileText(const QString &key) const;
};

inline constexpr auto kSettingsSection = u"Settings";
inline constexpr auto kDefaultNickname = u"Tessaly";
inline constexpr auto kDefaultEmail = u"poster@tessaly-poster.example";

// The values written when the file is created (LastPath: the program folder).
AppSettings defaultSettings();

// A SHA-256 fingerprint as 64 upper-case hex digits without colons; empty
// when the text is not one.
QString normalizedFingerprint(const QString &text);

// How the connections reach the server.
enum class SslMode { Plain, BuiltIn, Tunnel };
SslMode sslMode(const AppSettings &s);
// Whether a second server makes the post checks.
inline bool hasCheckServer(const AppSettings &s)
{
    return !s.CheckServer.trimmed().isEmpty();
}

// Languages/<name>.lng: the first resource folder's that has one, else the
// program folder's (which does not exist then).
QString languageFilePath(const QString &name);

// Every key in the order the defaults are written.
QStringList settingsKeys();

// The process-wide settings.
AppSettings &appSettings();

// Settings.ini in the program folder.
ProfileFile settingsFile();

// The same routine scrambles and unscrambles.
QString scramblePassword(const QString &text);

// Reads every key into appSettings() and repairs the values. On a failure the
// old file is kept as Settings.ini.bak, the defaults are written and read
// back, a red log line tells what happened, and the result is false.
bool ReadINIFile();

// Writes every key with its default, then reads the file back.
bool writeDefaultSettings();

// Start-up: creates the file with defaults when missing, otherwise reads it.
// Returns false when an existing file could not be read (the caller shows the
// corrupted-settings message).
bool loadSettingsAtStartup();

// Writes the named keys from appSettings(), in the order given, with one
// rewrite of the file. Returns an error text, empty on success.
QString writeSettingKeys(const QStringList &keys);

// Called after the settings are read when EnableSSL is 1 (starts the tunnel).
void setTunnelStarter(std::function<void()> starter);
// Why the tunnel refused a connection, from its own log ("" when it says
// nothing of the kind), for whoever saw the connection close.
void setTunnelDiagnosis(std::function<QString()> diagnosis);
QString tunnelDiagnosis();

} // namespace tessaly
