#include "common/Log.h"

#include "common/Clock.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace tessaly {

QString LogLine::formatted() const
{
    const QString t = time.toString(u"HH:mm:ss"_s);
    if (thread > 0)
        return t + u": Thread "_s + QString::number(thread) + u" -> "_s + text;
    return t + u": "_s + text;
}

LogModel::LogModel(QObject *parent)
    : QAbstractListModel(parent)
{
    batchTimer_.setSingleShot(true);
    batchTimer_.setInterval(BatchIntervalMs);
    connect(&batchTimer_, &QTimer::timeout, this, [this] {
        if (published_ < lines_.size()) {
            publish();
            batchTimer_.start(); // still busy: the next batch waits its turn
        }
    });
}

void LogModel::publish()
{
    const int total = int(lines_.size());
    if (published_ >= total)
        return;
    beginInsertRows({}, published_, total - 1);
    published_ = total;
    endInsertRows();
}

void LogModel::add(int thread, const QString &text, quint32 colour, bool bold)
{
    LogLine l;
    l.time = Clock::instance().now().time();
    l.thread = thread;
    l.text = text;
    l.text.remove(u"\r\n"_s);
    l.text.replace(u'\r', u' ').replace(u'\n', u' ');
    l.colour = colour & 0xFFFFFFu;
    l.bold = bold;
    lines_.append(std::move(l));
    if (!batchTimer_.isActive()) {
        publish();
        if (QCoreApplication::instance()) // without an event loop every line goes at once
            batchTimer_.start();
    }
    if (listener_)
        listener_(lines_.constLast());
}

void LogModel::clear()
{
    beginResetModel();
    lines_.clear();
    published_ = 0;
    batchTimer_.stop(); // the next line shows at once again
    endResetModel();
}

int LogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : published_;
}

QVariant LogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= published_)
        return {};
    const LogLine &l = lines_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return l.formatted();
    case ColourRole:
        return l.colour;
    case BoldRole:
        return l.bold;
    case ThreadRole:
        return l.thread;
    case TextRole:
        return l.text;
    default:
        return {};
    }
}

LogModel &logModel()
{
    static LogModel model;
    return model;
}

void AddLog(int thread, const QString &text, quint32 colour, bool bold)
{
    logModel().add(thread, text, colour, bold);
}

ErrorPlace ErrorPlace::of(const SourceLocation &where)
{
    return of(int(where.line()), where.function_name(), where.file_name());
}

ErrorPlace ErrorPlace::of(int line, const char *function, const char *file)
{
    ErrorPlace p;
    p.line = line;
    // "R ns::Class::name(args)" or "ns::Class::name(args)::<lambda()>": the
    // qualified name ends at the first "(" outside template brackets.
    const QString signature = QString::fromUtf8(function);
    int depth = 0;
    qsizetype end = signature.size();
    for (qsizetype i = 0; i < signature.size(); ++i) {
        const QChar c = signature.at(i);
        if (c == u'<')
            ++depth;
        else if (c == u'>')
            --depth;
        else if (c == u'(' && depth <= 0) {
            end = i;
            break;
        }
    }
    QString qualified = signature.left(end);
    depth = 0;
    for (qsizetype i = qualified.size() - 1; i >= 0; --i) { // drop the return type
        const QChar c = qualified.at(i);
        if (c == u'>')
            ++depth;
        else if (c == u'<')
            --depth;
        else if (c == u' ' && depth == 0) {
            qualified = qualified.mid(i + 1);
            break;
        }
    }
    QStringList names = qualified.split(u"::"_s);
    p.procedure = names.isEmpty() ? QString() : names.takeLast();
    QString owner;
    for (auto it = names.crbegin(); it != names.crend(); ++it) {
        if (*it != u"tessaly"_s && !it->startsWith(u'{') && !it->startsWith(u'(')) {
            owner = *it;
            break;
        }
    }
    if (owner.startsWith(u"frm"_s)) {
        p.owner = ErrorOwner::Form;
        p.ownerName = owner;
    } else if (owner.endsWith(u"Window"_s) || owner.endsWith(u"Dialog"_s)) {
        p.owner = ErrorOwner::Form;
        p.ownerName = u"frm"_s + owner.chopped(6);
    } else {
        QString stem = QString::fromUtf8(file);
        stem = stem.mid(std::max(stem.lastIndexOf(u'/'), stem.lastIndexOf(u'\\')) + 1);
        stem = stem.left(stem.indexOf(u'.'));
        p.owner = ErrorOwner::Module;
        p.ownerName = stem.startsWith(u"frm"_s) ? stem : u"mod"_s + stem;
    }
    return p;
}

QString errorLineText(int number, const QString &description, const ErrorPlace &place)
{
    return u"Error "_s + QString::number(number) + u" ("_s + description + u") on line "_s
        + QString::number(place.line) + u" in procedure "_s + place.procedure
        + (place.owner == ErrorOwner::Form ? u" of Form "_s : u" of Module "_s) + place.ownerName;
}

void LogError(int number, const QString &description, const QString &tail, const SourceLocation &where)
{
    AddLog(0, errorLineText(number, description, ErrorPlace::of(where)) + tail, LogColour::Red, false);
}

} // namespace tessaly
