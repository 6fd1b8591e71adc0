#include "common/Log.h"

#include "common/Clock.h"

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
    const int row = int(lines_.size());
    beginInsertRows({}, row, row);
    lines_.append(std::move(l));
    endInsertRows();
    if (listener_)
        listener_(lines_.constLast());
}

void LogModel::clear()
{
    beginResetModel();
    lines_.clear();
    endResetModel();
}

int LogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(lines_.size());
}

QVariant LogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= lines_.size())
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

QString errorLineText(int number, const QString &description, int line, const QString &procedure,
                      ErrorOwner owner, const QString &ownerName)
{
    return u"Error "_s + QString::number(number) + u" ("_s + description + u") on line "_s
        + QString::number(line) + u" in procedure "_s + procedure
        + (owner == ErrorOwner::Form ? u" of Form "_s : u" of Module "_s) + ownerName;
}

void LogError(int number, const QString &description, int line, const QString &procedure,
              ErrorOwner owner, const QString &ownerName, const QString &tail)
{
    AddLog(0, errorLineText(number, description, line, procedure, owner, ownerName) + tail,
           LogColour::Red, false);
}

} // namespace tessaly
