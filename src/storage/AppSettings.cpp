#include "storage/AppSettings.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/SecretStore.h"
#include "storage/ProfileFile.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <tuple>
#include <variant>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

// The name the news server's password is kept under in the secret store.
const QString kPasswordSecret = QStringLiteral("news server password");
const QString kCheckPasswordSecret = QStringLiteral("check server password");

enum class Kind { Text, Int16, Port, Int32, Float, Column };

struct KeyDef
{
    const char16_t *name;
    Kind kind;
    std::variant<QString AppSettings::*, int AppSettings::*, double AppSettings::*> field;
    // Keys added later: a file written before them keeps its other values
    // and the key keeps its default.
    bool added = false;
};

using S = AppSettings;
const KeyDef kKeys[] = {
    {u"Server", Kind::Text, &S::Server},
    {u"Port", Kind::Port, &S::Port},
    {u"Username", Kind::Text, &S::Username},
    {u"Password", Kind::Text, &S::Password},
    {u"Login", Kind::Int16, &S::Login},
    {u"Connections", Kind::Int16, &S::Connections},
    {u"Nickname", Kind::Text, &S::Nickname},
    {u"Email", Kind::Text, &S::Email},
    {u"MaxLines", Kind::Int32, &S::MaxLines},
    {u"Subject", Kind::Text, &S::Subject},
    {u"WindowState", Kind::Text, &S::WindowState},
    {u"MaxSpeed", Kind::Int32, &S::MaxSpeed},
    {u"LastPath", Kind::Text, &S::LastPath},
    {u"EnableSSL", Kind::Int16, &S::EnableSSL},
    {u"SplitterPos1", Kind::Float, &S::SplitterPos1},
    {u"SplitterPos2", Kind::Float, &S::SplitterPos2},
    {u"ConfirmSubject", Kind::Int32, &S::ConfirmSubject},
    {u"KeepGroups", Kind::Int32, &S::KeepGroups},
    {u"GroupNames", Kind::Text, &S::GroupNames},
    {u"EnableNZB", Kind::Int32, &S::EnableNZB},
    {u"Language", Kind::Text, &S::Language},
    {u"RemoveFiles", Kind::Int32, &S::RemoveFiles},
    {u"CheckUpdates", Kind::Int32, &S::CheckUpdates},
    {u"HideSeparators", Kind::Int32, &S::HideSeparators},
    {u"StoreRarPar", Kind::Int32, &S::StoreRarPar},
    {u"SpeedScheduler", Kind::Int32, &S::SpeedScheduler},
    {u"SpeedItems", Kind::Text, &S::SpeedItems},
    {u"LimitSpeed", Kind::Int32, &S::LimitSpeed},
    {u"Column1", Kind::Column, &S::Column1},
    {u"Column2", Kind::Column, &S::Column2},
    {u"Column3", Kind::Column, &S::Column3},
    {u"Column4", Kind::Column, &S::Column4},
    {u"Column5", Kind::Column, &S::Column5},
    {u"Column6", Kind::Column, &S::Column6},
    {u"Column7", Kind::Column, &S::Column7},
    {u"Column8", Kind::Column, &S::Column8},
    {u"Column9", Kind::Column, &S::Column9},
    {u"NoUpload", Kind::Int16, &S::NoUpload},
    {u"RemoveFromDisk", Kind::Int16, &S::RemoveFromDisk},
    {u"BytesMB", Kind::Int32, &S::BytesMB},
    {u"RarSplitSize", Kind::Text, &S::RarSplitSize},
    {u"RarCompression", Kind::Int32, &S::RarCompression},
    {u"CreateZip", Kind::Int32, &S::CreateZip},
    {u"NoArchive", Kind::Int32, &S::NoArchive},
    {u"OldNamingScheme", Kind::Int32, &S::OldNamingScheme},
    {u"CalcEfficient", Kind::Int32, &S::CalcEfficient},
    {u"Redundancy", Kind::Int32, &S::Redundancy},
    {u"UniformSize", Kind::Int32, &S::UniformSize},
    {u"PostCheck", Kind::Int32, &S::PostCheck, true},
    {u"PostCheckDelay", Kind::Int32, &S::PostCheckDelay, true},
    {u"PostCheckTries", Kind::Int32, &S::PostCheckTries, true},
    {u"RetryMinutes", Kind::Int32, &S::RetryMinutes, true},
    {u"SSLNoVerify", Kind::Int32, &S::SSLNoVerify, true},
    {u"WindowGeometry", Kind::Text, &S::WindowGeometry, true},
    {u"SSLTunnel", Kind::Int32, &S::SSLTunnel, true},
    {u"SSLFingerprint", Kind::Text, &S::SSLFingerprint, true},
    {u"Obfuscate", Kind::Int32, &S::Obfuscate, true},
    {u"PostNzb", Kind::Int32, &S::PostNzb, true},
    {u"CheckServer", Kind::Text, &S::CheckServer, true},
    {u"CheckPort", Kind::Port, &S::CheckPort, true},
    {u"CheckSSL", Kind::Int32, &S::CheckSSL, true},
    {u"CheckFingerprint", Kind::Text, &S::CheckFingerprint, true},
    {u"CheckUsername", Kind::Text, &S::CheckUsername, true},
    {u"CheckPassword", Kind::Text, &S::CheckPassword, true},
    {u"CheckConnections", Kind::Int32, &S::CheckConnections, true},
    {u"Par2Tool", Kind::Text, &S::Par2Tool, true},
};

const KeyDef *findKey(const QString &name)
{
    for (const KeyDef &k : kKeys)
        if (name.compare(QStringView(k.name), Qt::CaseInsensitive) == 0)
            return &k;
    return nullptr;
}

std::function<void()> g_tunnelStarter;

// Strict conversion of the whole text to an integer within [lo, hi].
bool toInteger(const QString &text, qint64 lo, qint64 hi, int *out)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < lo || v > hi)
        return false;
    *out = int(v);
    return true;
}

// The leading decimal number of a text; 0 without one.
int leadingNumber(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        ++i;
    while (i < t.size() && t[i].isDigit() && t[i].unicode() < 128)
        ++i;
    bool ok = false;
    const qint64 v = t.left(i).toLongLong(&ok);
    if (!ok)
        return 0;
    return int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Reads one key into the settings; an empty result means success.
QString readKey(AppSettings &s, const KeyDef &k, const QString &raw)
{
    const QString bad = u"Type mismatch: "_s + QStringView(k.name) + u" = \""_s + raw + u'"';
    switch (k.kind) {
    case Kind::Text:
        s.*std::get<QString AppSettings::*>(k.field) = raw;
        return {};
    case Kind::Int16:
        return toInteger(raw, -32768, 32767, &(s.*std::get<int AppSettings::*>(k.field))) ? QString() : bad;
    case Kind::Port:
        return toInteger(raw, 0, 65535, &(s.*std::get<int AppSettings::*>(k.field))) ? QString() : bad;
    case Kind::Int32:
        return toInteger(raw, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
                         &(s.*std::get<int AppSettings::*>(k.field)))
            ? QString()
            : bad;
    case Kind::Float: {
        bool ok = false;
        const double v = raw.trimmed().toDouble(&ok);
        if (!ok)
            return bad;
        s.*std::get<double AppSettings::*>(k.field) = v;
        return {};
    }
    case Kind::Column:
        s.*std::get<int AppSettings::*>(k.field) = leadingNumber(raw);
        return {};
    }
    return bad;
}

} // namespace

AppSettings defaultSettings()
{
    AppSettings d;
    d.Nickname = QString::fromUtf16(kDefaultNickname);
    d.Email = QString::fromUtf16(kDefaultEmail);
    d.LastPath = programFolder();
    return d;
}

QString normalizedFingerprint(const QString &text)
{
    QString hex = text.trimmed().toUpper();
    hex.remove(u':');
    if (hex.size() != 64)
        return {};
    for (QChar c : std::as_const(hex))
        if (!c.isDigit() && (c < u'A' || c > u'F'))
            return {};
    return hex;
}

SslMode sslMode(const AppSettings &s)
{
    if (s.EnableSSL != 1)
        return SslMode::Plain;
    return s.SSLTunnel == 1 ? SslMode::Tunnel : SslMode::BuiltIn;
}

QString languageFilePath(const QString &name)
{
    const QString relative = u"Languages/"_s + name + u".lng"_s;
    const QString found = findResource(relative);
    return found.isEmpty() ? inProgramFolder(relative) : found;
}

namespace {

int g_readDepth = 0;

} // namespace

void AppSettings::setMaxLines(int lines)
{
    MaxLines = lines;
    PartSize = qint64(lines) * 128;
}

void AppSettings::setSpeedItems(const QString &items)
{
    SpeedItems = items;
    speedHours = items.split(u'|', Qt::SkipEmptyParts);
}

QString AppSettings::fileText(const QString &key) const
{
    const KeyDef *k = findKey(key);
    if (!k)
        return {};
    if (k->kind == Kind::Text) {
        const QString &v = this->*std::get<QString AppSettings::*>(k->field);
        if (k->field == decltype(k->field)(&S::Password))
            return passwordInStore ? QString() : scramblePassword(v);
        if (k->field == decltype(k->field)(&S::CheckPassword))
            return checkPasswordInStore ? QString() : scramblePassword(v);
        return v;
    }
    if (k->kind == Kind::Float)
        return QString::number(this->*std::get<double AppSettings::*>(k->field), 'g', 15);
    return QString::number(this->*std::get<int AppSettings::*>(k->field));
}

QStringList settingsKeys()
{
    QStringList keys;
    for (const KeyDef &k : kKeys)
        keys.append(QString::fromUtf16(k.name));
    return keys;
}

AppSettings &appSettings()
{
    static AppSettings settings = [] {
        AppSettings s;
        s.Nickname = QString::fromUtf16(kDefaultNickname);
        s.Email = QString::fromUtf16(kDefaultEmail);
        return s;
    }();
    return settings;
}

ProfileFile settingsFile()
{
    return ProfileFile(inProgramFolder(u"Settings.ini"_s), true);
}

QString scramblePassword(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    for (char &c : bytes) {
        const int b = static_cast<unsigned char>(c);
        if (b >= 48 && b <= 125) {
            int r = b + 39;
            if (r > 125)
                r -= 78;
            c = static_cast<char>(r);
        }
    }
    return QString::fromUtf8(bytes);
}

namespace {

// The numbers a key may hold, for the lines that tell the user what to write.
struct Range
{
    const char16_t *name;
    int low, high;
};
constexpr Range kRanges[] = {
    {u"Connections", 1, 25},      {u"MaxLines", 1000, 10000},    {u"PostCheckDelay", 0, 3600},
    {u"PostCheckTries", 0, 100},  {u"RetryMinutes", 0, 10080},   {u"Port", 1, 65535},
    {u"MaxSpeed", 0, std::numeric_limits<int>::max()},
    {u"CheckConnections", 1, 25}, {u"CheckPort", 1, 65535},
};

QString rangeText(QStringView name)
{
    for (const Range &r : kRanges)
        if (name == QStringView(r.name))
            return r.high == std::numeric_limits<int>::max() ? u" of 0 or more"_s
                                                            : u" from %1 to %2"_s.arg(r.low).arg(r.high);
    return {};
}

// Brings a value into its range, saying so; returns whether it changed.
bool clampSetting(const char16_t *name, int &value, int low, int high)
{
    const int was = value;
    value = std::clamp(value, low, high);
    if (value == was)
        return false;
    AddLog(0, u"Settings.ini: %1 = %2 is not a number from %3 to %4; using %5"_s.arg(QStringView(name))
                  .arg(was).arg(low).arg(high).arg(value),
           LogColour::Orange);
    return true;
}

} // namespace

bool ReadINIFile()
{
    const ProfileFile file = settingsFile();
    AppSettings s = defaultSettings();
    QString failure;
    if (const QString damage = file.damage(); !damage.isEmpty() && g_readDepth == 0) {
        // Nothing in it can be read: kept aside, and the defaults written.
        const QString bak = file.path() + u".bak"_s;
        QFile::remove(bak);
        const bool kept = QFile::rename(file.path(), bak);
        if (!kept)
            QFile::remove(file.path());
        ++g_readDepth;
        writeDefaultSettings();
        --g_readDepth;
        LogError(ErrorCode::FileIo, u"Settings.ini could not be read ("_s + damage + u')',
                 kept ? u". It was kept as "_s + bak : u". It could not be kept."_s);
        return false;
    }
    const QHash<QString, QString> values = file.section(QString::fromUtf16(kSettingsSection));
    // A bad value costs only its own key: it gets its default, the rest is kept.
    QStringList repaired;
    for (const KeyDef &k : kKeys) {
        const QString key = QString::fromUtf16(k.name).toLower();
        if (k.added && !values.contains(key))
            continue;
        const AppSettings before = s;
        if (const QString bad = readKey(s, k, values.value(key)); !bad.isEmpty()) {
            s = before;
            if (failure.isEmpty())
                failure = bad;
            repaired << QString::fromUtf16(k.name);
            const QString fallback = defaultSettings().fileText(QString::fromUtf16(k.name));
            LogError(ErrorCode::TypeMismatch, bad, u" in Settings.ini; the default \""_s + fallback + u"\" is used"_s);
            // The same, as the user can act on it.
            if (k.kind != Kind::Text && k.kind != Kind::Column)
                AddLog(0, u"Settings.ini: %1 = \"%2\" is not a number%3; using %4"_s.arg(QStringView(k.name),
                              values.value(key).left(100), rangeText(k.name), fallback),
                       LogColour::Red);
            continue;
        }
        if (k.field == decltype(k.field)(&S::Language)) {
            if (s.Language != u"English"_s && !fileExists(languageFilePath(s.Language)))
                s.Language = u"English"_s;
        } else if (k.field == decltype(k.field)(&S::LimitSpeed)) {
            s.setSpeedItems(s.SpeedItems);
        }
    }

    if (!failure.isEmpty() && g_readDepth > 0) {
        // The freshly written defaults did not read back (an unwritable
        // folder): keep the defaults in memory.
        appSettings() = defaultSettings();
        return false;
    }

    s.Password = scramblePassword(s.Password);
    s.CheckPassword = scramblePassword(s.CheckPassword);
    if (s.WindowState != u"2"_s)
        s.WindowState = u"0"_s;
    if (clampSetting(u"Connections", s.Connections, 1, 25))
        repaired << u"Connections"_s;
    if (s.MaxLines < 0) {
        AddLog(0, u"Settings.ini: MaxLines = %1 is not a number from 1000 to 10000; using 3000"_s.arg(s.MaxLines),
               LogColour::Orange);
        s.MaxLines = 3000;
        repaired << u"MaxLines"_s;
    } else if (clampSetting(u"MaxLines", s.MaxLines, 1000, 10000)) {
        repaired << u"MaxLines"_s;
    }
    if (!isWholeNumber(s.RarSplitSize))
        s.RarSplitSize.clear();
    if (!isAllDigits(QString::number(s.MaxSpeed)))
        s.MaxSpeed = 0;
    s.PostCheck = s.PostCheck != 0 ? 1 : 0;
    for (const auto &[name, field, low, high] :
         {std::tuple{u"PostCheckDelay", &AppSettings::PostCheckDelay, 0, 3600},
          std::tuple{u"PostCheckTries", &AppSettings::PostCheckTries, 0, 100},
          std::tuple{u"RetryMinutes", &AppSettings::RetryMinutes, 0, 10080}})
        if (clampSetting(name, s.*field, low, high))
            repaired << QString::fromUtf16(name);
    s.SSLNoVerify = s.SSLNoVerify != 0 ? 1 : 0;
    s.Obfuscate = s.Obfuscate != 0 ? 1 : 0;
    s.PostNzb = s.PostNzb != 0 ? 1 : 0;
    s.CheckSSL = s.CheckSSL != 0 ? 1 : 0;
    if (clampSetting(u"CheckConnections", s.CheckConnections, 1, 25))
        repaired << u"CheckConnections"_s;
    if (!s.CheckFingerprint.trimmed().isEmpty() && normalizedFingerprint(s.CheckFingerprint).isEmpty()) {
        LogError(ErrorCode::TypeMismatch, u"CheckFingerprint = \"%1\" is not a SHA-256 fingerprint (64 hex digits); "
                                          u"no certificate is pinned"_s.arg(s.CheckFingerprint.left(100)));
        s.CheckFingerprint.clear();
        repaired << u"CheckFingerprint"_s;
    }
    s.SSLTunnel = s.SSLTunnel != 0 ? 1 : 0;
    if (s.Par2Tool.compare(u"outside"_s, Qt::CaseInsensitive) == 0)
        s.Par2Tool = u"outside"_s;
    else if (s.Par2Tool != u"builtin"_s) {
        if (!s.Par2Tool.isEmpty())
            repaired << u"Par2Tool"_s;
        s.Par2Tool = u"builtin"_s;
    }
    if (!s.SSLFingerprint.trimmed().isEmpty() && normalizedFingerprint(s.SSLFingerprint).isEmpty()) {
        LogError(ErrorCode::TypeMismatch, u"SSLFingerprint = \"%1\" is not a SHA-256 fingerprint (64 hex digits); "
                                          u"no certificate is pinned"_s.arg(s.SSLFingerprint.left(100)));
        s.SSLFingerprint.clear();
        repaired << u"SSLFingerprint"_s;
    }
    if (s.LastPath.isEmpty())
        s.LastPath = programFolder();
    s.setMaxLines(s.MaxLines);
    // Where the desktop has a secret store the passwords live there: one
    // still in the file is moved (once it reads back), an empty one is looked up.
    if (SecretStore::available()) {
        for (auto [key, password, inStore, secret] :
             {std::tuple{u"Password"_s, &s.Password, &s.passwordInStore, kPasswordSecret},
              std::tuple{u"CheckPassword"_s, &s.CheckPassword, &s.checkPasswordInStore, kCheckPasswordSecret}}) {
            if (!password->isEmpty()) {
                *inStore = SecretStore::write(secret, *password) && SecretStore::read(secret) == *password;
                if (*inStore) {
                    AddLog(0, u"The %1 was moved from Settings.ini to the desktop's secret store."_s
                                  .arg(key == u"Password"_s ? u"password"_s : u"check server's password"_s));
                    repaired << key;
                }
            } else if (const std::optional<QString> stored = SecretStore::read(secret)) {
                *password = *stored;
                *inStore = true;
            }
        }
    }
    appSettings() = s;

    // The repaired keys are written back; every other line stays as it was.
    if (!repaired.isEmpty())
        if (const QString error = writeSettingKeys(repaired); !error.isEmpty())
            LogError(ErrorCode::FileIo, error);

    if (sslMode(s) == SslMode::Tunnel && g_tunnelStarter)
        g_tunnelStarter();
    return true;
}

bool writeDefaultSettings()
{
    const AppSettings d = defaultSettings();
    QList<QPair<QString, QString>> keys;
    for (const QString &key : settingsKeys()) {
        keys.append({key, d.fileText(key)});
        if (key == u"StoreRarPar"_s) // written twice; the file keeps one entry
            keys.append({key, d.fileText(key)});
    }
    const QString error = settingsFile().write(QString::fromUtf16(kSettingsSection), keys);
    if (!error.isEmpty())
        LogError(ErrorCode::FileIo, error);
    return ReadINIFile();
}

bool loadSettingsAtStartup()
{
    if (!fileExists(settingsFile().path())) {
        writeDefaultSettings();
        return true;
    }
    return ReadINIFile();
}

QString writeSettingKeys(const QStringList &keys)
{
    AppSettings &s = appSettings();
    if (keys.contains(u"Password"_s))
        s.passwordInStore = SecretStore::available() && SecretStore::write(kPasswordSecret, s.Password);
    if (keys.contains(u"CheckPassword"_s))
        s.checkPasswordInStore = SecretStore::available() && SecretStore::write(kCheckPasswordSecret, s.CheckPassword);
    QList<QPair<QString, QString>> values;
    for (const QString &key : keys)
        values.append({key, s.fileText(key)});
    return settingsFile().write(QString::fromUtf16(kSettingsSection), values);
}

void setTunnelStarter(std::function<void()> starter)
{
    g_tunnelStarter = std::move(starter);
}

namespace {
std::function<QString()> &tunnelDiagnosisHook()
{
    static std::function<QString()> hook;
    return hook;
}
} // namespace

void setTunnelDiagnosis(std::function<QString()> diagnosis)
{
    tunnelDiagnosisHook() = std::move(diagnosis);
}

QString tunnelDiagnosis()
{
    return tunnelDiagnosisHook() ? tunnelDiagnosisHook()() : QString();
}

} // namespace tessaly
