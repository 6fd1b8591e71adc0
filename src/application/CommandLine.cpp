#include "application/CommandLine.h"

#include "application/Collection.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/FileNames.h"
#include "rarpar/FileLists.h"
#include "storage/AppSettings.h"
#include "storage/Newsgroups.h"
#include "storage/UploadQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

constexpr char16_t kLetters[] = u"FHNZPCSLBRO";

QChar switchLetter(const QString &arg)
{
    if (arg.size() == 2 && (arg[0] == u'/' || arg[0] == u'-')) {
        const QChar c = arg[1].toUpper();
        if (QStringView(kLetters).contains(c))
            return c;
    }
    static const QList<QPair<QString, QChar>> longForms = {
        {u"--folder"_s, u'F'},   {u"--subject"_s, u'H'}, {u"--newsgroups"_s, u'N'}, {u"--nzb"_s, u'Z'},
        {u"--post"_s, u'P'},     {u"--close"_s, u'C'},   {u"--poweroff"_s, u'S'},   {u"--logoff"_s, u'L'},
        {u"--hibernate"_s, u'B'}, {u"--reboot"_s, u'R'},  {u"--obfuscate"_s, u'O'},
        {u"--private-nzb"_s, u'5'},
        // Long forms only: the server for this run (never written to Settings.ini).
        {u"--server"_s, u'1'},   {u"--ssl"_s, u'2'},     {u"--user"_s, u'3'},       {u"--password-env"_s, u'4'},
    };
    for (const auto &[name, letter] : longForms)
        if (arg.compare(name, Qt::CaseInsensitive) == 0)
            return letter;
    return {};
}

// "/X", "-X" for a letter X, or "--word": written as a switch, whether or not
// it is one.
bool writtenAsSwitch(const QString &arg)
{
    if (arg.size() == 2 && (arg[0] == u'/' || arg[0] == u'-') && arg[1].isLetter())
        return true;
    return arg.size() > 2 && arg.startsWith(u"--"_s) && arg[2].isLetter();
}

QString cleanValue(const QString &v)
{
    QString s = v;
    s.remove(u'"');
    return s.trimmed();
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    CommandLine line;
    bool verifyPathNext = false;
    bool inUnknown = false; // the words after an unknown switch are its own
    for (const QString &arg : arguments) {
        if (verifyPathNext) {
            line.verifyPath = arg;
            verifyPathNext = false;
            continue;
        }
        if (arg == u"--verify"_s) {
            line.verify = true;
            verifyPathNext = true;
            continue;
        }
        // "-h" alone asks for help; with other arguments it is the subject switch.
        if (arg == u"--help"_s || arg == u"/?"_s || (arg == u"-h"_s && arguments.size() == 1)) {
            line.help = true;
            continue;
        }
        if (arg == u"--version"_s) {
            line.version = true;
            continue;
        }
        if (arg == u"--headless"_s) {
            line.headless = true;
            continue;
        }
        const QChar letter = switchLetter(arg);
        if (!letter.isNull()) {
            line.pieces.append({letter, arg, QString()});
            inUnknown = false;
            continue;
        }
        if (writtenAsSwitch(arg)) {
            line.unknown << arg;
            inUnknown = true;
            continue;
        }
        if (inUnknown) {
            line.unknown.last() += u' ' + arg;
            continue;
        }
        if (line.pieces.isEmpty()) {
            line.ignored << arg;
            continue;
        }
        CommandLine::Piece &p = line.pieces.last();
        p.text += u' ' + arg;
        p.value = p.value.isEmpty() ? arg : p.value + u' ' + arg;
    }
    for (CommandLine::Piece &p : line.pieces)
        p.value = cleanValue(p.value);
    return line;
}

QString commandLineHelp(const QString &program)
{
    return u"Usage: %1 [switches]\n"
           "\n"
           "Queues every file of a folder as one collection and, with /P, posts it.\n"
           "\n"
           "  /F, --folder FOLDER        the folder whose files are posted (required)\n"
           "  /H, --subject SUBJECT      the subject of the collection (required)\n"
           "  /N, --newsgroups GROUPS    newsgroups, separated by blanks (required)\n"
           "  /Z, --nzb NAME             write NAME.nzb into the folder and post it too\n"
           "  --private-nzb              write the NZB file, but do not post it\n"
           "  /O, --obfuscate            post with random subjects, file names and poster: only\n"
           "                             the NZB file tells what the articles are\n"
           "  /P, --post                 start posting once the files are queued; alone (with\n"
           "                             an action), post what the queue holds\n"
           "  /C, --close                close the program when posting has finished\n"
           "  /S, --poweroff             power off when posting has finished\n"
           "  /L, --logoff               log off when posting has finished\n"
           "  /B, --hibernate            hibernate when posting has finished\n"
           "  /R, --reboot               reboot when posting has finished\n"
           "                             (/S /L /B /R: after a 30-second countdown, only when\n"
           "                             every item was posted, through systemd-logind)\n"
           "  --server HOST[:PORT]       the news server for this run (Settings.ini keeps its\n"
           "                             own); PORT 119, or 563 with --ssl, when not given\n"
           "  --ssl                      connect with TLS (the program's own)\n"
           "  --user NAME                log in as NAME\n"
           "  --password-env VARIABLE    the password, read from that environment variable\n"
           "                             (never on the command line: other users can see it)\n"
           "  --verify FILE.nzb          ask the server for every article the NZB lists and\n"
           "                             name the missing ones (exit 0: all there, 1: some\n"
           "                             missing, 2: could not check); runs without a window\n"
           "  --headless                 run without a window even when there is a display\n"
           "  --help (or -h alone)       show this text\n"
           "  --version                  show the program's version\n"
           "\n"
           "Switches may also be written with '-' (-f, -h ...) and in either case; the words\n"
           "after a switch, up to the next one, are its value. An unknown switch (and the\n"
           "words after it) is ignored with a warning on standard error. Without a display\n"
           "(or with --headless) the program runs without a window and writes its log to\n"
           "standard output; SIGINT, SIGTERM or SIGHUP stops it with the queue saved (a second one\n"
           "ends it and the outside tool it runs at once, unsaved). A run without a window, or with /P /C, gives up after\n"
           "RetryMinutes (Settings.ini, default 10; 0: never) without progress. While\n"
           "another instance uses the same program folder, a command line is not carried\n"
           "out: the program says so on standard error and exits with status 2.\n"
           "\n"
           "Exit status: 0 every item posted, 1 bad command line, 2 needs a person (a\n"
           "missing setting, a refused login, an unreadable queue, another instance\n"
           "running), 3 gave up after\n"
           "RetryMinutes without progress, 4 some items failed (they are listed), 5 all\n"
           "posted but the system refused to power off (log off, hibernate, reboot),\n"
           "128+n stopped by signal n.\n"
           "\n"
           "Example:\n"
           "  %1 /F /home/me/Holiday /H \"Holiday Pics\" /N \"alt.binaries.test alt.binaries.misc\" /Z holiday /P /C\n"_s
        .arg(program);
}

bool applyServerSwitches(const QString &server, bool ssl, const QString &user, const QString &passwordVariable)
{
    AppSettings &s = appSettings();
    if (!server.isEmpty()) {
        // host, host:port, [v6 address]:port
        QString host = server;
        int port = ssl ? 563 : 119;
        const qsizetype colon = server.lastIndexOf(u':');
        const bool bracketed = server.startsWith(u'[');
        if (colon >= 0 && (bracketed ? colon > 0 && server.at(colon - 1) == u']' : server.indexOf(u':') == colon)) {
            bool ok = false;
            port = server.mid(colon + 1).toInt(&ok);
            if (!ok || port < 1 || port > 65535) {
                AddLog(0, u"Invalid commandline parameter: --server %1: the port must be a number from 1 to 65535."_s.arg(server),
                       LogColour::Red);
                return false;
            }
            host = server.left(colon);
        }
        if (bracketed && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        if (host.isEmpty() || host.contains(u' ')) {
            AddLog(0, u"Invalid commandline parameter: --server needs a host name, as in --server news.example.org:119."_s,
                   LogColour::Red);
            return false;
        }
        s.Server = host;
        s.Port = port;
    }
    if (ssl) {
        s.EnableSSL = 1;
        s.SSLTunnel = 0; // the program's own TLS: nothing else to start
    }
    if (!user.isEmpty()) {
        s.Login = 1;
        s.Username = user;
    }
    if (!passwordVariable.isEmpty()) {
        // Never on the command line itself: other users can read it.
        const QByteArray value = qgetenv(passwordVariable.toLocal8Bit().constData());
        if (value.isEmpty()) {
            AddLog(0, u"Invalid commandline parameter: --password-env %1: that environment variable is not set."_s
                          .arg(passwordVariable),
                   LogColour::Red);
            return false;
        }
        s.Password = QString::fromLocal8Bit(value);
        s.passwordInStore = false;
    }
    return true;
}

bool CheckCMDData(const CommandLine &line, BatchRequest *request)
{
    BatchRequest r;
    QString server, user, passwordVariable;
    bool ssl = false;
    for (const QString &arg : line.ignored)
        AddLog(0, u"Ignored commandline parameter: "_s + arg);
    for (const QString &piece : line.unknown)
        AddLog(0, u"Unknown switch ignored (see --help): "_s + piece, LogColour::Red);
    for (const CommandLine::Piece &p : line.pieces) {
        // Each piece is logged (a message box per piece would stop an unattended run).
        AddLog(0, u"Commandline parameter: "_s + p.text);
        switch (p.letter.unicode()) {
        case u'F': {
            r.folder = p.value;
            const QFileInfo info(r.folder);
            if (!info.exists() || !info.isDir()) {
                AddLog(0, u"Invalid commandline parameter: Folder doesn't exist."_s, LogColour::Red);
                return false;
            }
            break;
        }
        case u'H':
            r.subject = p.value;
            break;
        case u'N':
            r.newsgroups = p.value;
            break;
        case u'Z':
            r.nzbName = p.value;
            if (!r.nzbName.endsWith(u".nzb"_s))
                r.nzbName += u".nzb"_s;
            break;
        case u'P':
            r.post = true;
            break;
        case u'O':
            r.obfuscate = true;
            break;
        case u'5':
            r.postNzb = false;
            break;
        case u'1':
            server = p.value;
            break;
        case u'2':
            ssl = true;
            break;
        case u'3':
            user = p.value;
            break;
        case u'4':
            passwordVariable = p.value;
            break;
        default: {
            const int position = int(QStringView(u"CSLBR").indexOf(p.letter));
            if (position >= 0 && r.action < 0)
                r.action = position;
            break;
        }
        }
    }
    if (!applyServerSwitches(server, ssl, user, passwordVariable))
        return false;
    bool collection = false;
    for (const CommandLine::Piece &p : line.pieces)
        collection = collection || QStringView(u"FHNZ").contains(p.letter);
    if (!collection && r.post) {
        AddLog(0, u"Posting the queue as it was left."_s);
        r.resumeOnly = true;
        *request = r;
        return true;
    }
    if (r.folder.isEmpty()) {
        AddLog(0, u"Invalid commandline parameter: No folder specified."_s, LogColour::Red);
        return false;
    }
    if (r.subject.isEmpty()) {
        AddLog(0, u"Invalid commandline parameter: No subject specified."_s, LogColour::Red);
        return false;
    }
    if (r.newsgroups.isEmpty()) {
        AddLog(0, u"Invalid commandline parameter: No newsgroup(s) specified."_s, LogColour::Red);
        return false;
    }
    if (const QString problem = newsgroupsProblem(newsgroupList(r.newsgroups)); !problem.isEmpty()) {
        AddLog(0, u"Invalid commandline parameter: "_s + problem + u'.', LogColour::Red);
        return false;
    }
    *request = r;
    return true;
}

QStringList newsgroupList(const QString &text)
{
    static const QRegularExpression separators(u"[\\s,]+"_s);
    return text.split(separators, Qt::SkipEmptyParts);
}

namespace {

// The same command line run again after a run that ended before posting (a
// setting was missing, the server could not be reached) finds its files
// still queued: every file of the folder waiting under one tag, with the
// same newsgroups. Those items (and the collection's NZB) are this run's
// then; returns how many, 0 when the collection is not queued yet.
int alreadyQueued(const CollectionRequest &c)
{
    UploadQueue &q = uploadQueue();
    QString tag;
    QList<int> rows;
    for (const QString &file : c.files) {
        if (!c.nzbPath.isEmpty() && file == c.nzbPath)
            continue;
        int found = 0;
        for (int i = 1; i <= q.count() && found == 0; ++i) {
            const UploadItem &it = q.item(i);
            if (it.path == file && it.newsgroups == c.newsgroups && !it.tag.isEmpty() && it.subject.startsWith(c.subject)
                && (it.state == UploadState::Queued || it.state == UploadState::Posting) && (tag.isEmpty() || it.tag == tag))
                found = i;
        }
        if (found == 0)
            return 0;
        tag = q.item(found).tag;
        rows << found;
    }
    for (int i = 1; i <= q.count(); ++i)
        if (q.item(i).tag == tag && q.isCollectionNzb(i) && !rows.contains(i))
            rows << i;
    for (int i : rows)
        q.item(i).run = UploadItem::Run::Added;
    return int(rows.size());
}

} // namespace

int CMDLoadData(const BatchRequest &request)
{
    QString folder = request.folder;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    const QStringList files = filesToQueueIn(folder);
    if (files.isEmpty()) {
        AddLog(0, u"Invalid commandline parameter: No files found in this folder."_s, LogColour::Red);
        return 0;
    }

    CollectionRequest c;
    c.files = files;
    c.subject = request.subject.trimmed();
    // Names joined by "," alone: a Newsgroups header carries no blanks.
    c.newsgroups = newsgroupList(request.newsgroups).join(u',');
    if (!request.nzbName.isEmpty())
        c.nzbPath = folder + request.nzbName;
    c.obfuscate = request.obfuscate;
    c.postNzb = request.postNzb;
    if (const int queued = alreadyQueued(c); queued > 0) {
        AddLog(0, u"These files are queued already (from an earlier start that did not post them); they are not "
                  u"queued again."_s);
        return queued;
    }
    const int added = queueCollection(c);
    if (added > 0)
        AddLog(0, added == 1 ? u"Added 1 file to queue."_s : u"Added %1 files to queue."_s.arg(added));
    return added;
}

QStringList filesToOpen(const QStringList &arguments)
{
    const CommandLine line = parseCommandLine(arguments);
    if (arguments.isEmpty() || !line.pieces.isEmpty() || !line.unknown.isEmpty() || line.help || line.version
        || line.headless || line.verify)
        return {};
    QStringList files;
    for (const QString &argument : arguments) {
        const QFileInfo info(argument);
        if (!info.exists())
            return {};
        if (!info.isDir()) {
            files << info.absoluteFilePath();
            continue;
        }
        for (const QFileInfo &entry : QDir(info.absoluteFilePath()).entryInfoList(QDir::Files, QDir::Name))
            files << entry.absoluteFilePath();
    }
    return files;
}

} // namespace tessaly
