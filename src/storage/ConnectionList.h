// The connection list: one row per posting connection (1..N), one per
// connection to a server that makes the post checks (N+1.., while a run has
// them; the log numbers them so too), and a last row for the Rar & Par job
// runner. The posting engine and the job runner write
// its cells; the main window shows it with a progress bar in column 3.
#pragma once

#include "storage/StatusIcon.h"

#include <QAbstractTableModel>
#include <QVector>

namespace tessaly {

struct ConnectionRow
{
    QString number; // "1".."N" or "RarPar"
    StatusIcon icon = StatusIcon::Offline;
    QString action;
    QString description;
    int progress = 0; // 0..100
    QString speed;
};

class ConnectionList : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { NumberColumn = 0, ActionColumn, DescriptionColumn, ProgressColumn, SpeedColumn, ColumnCount };
    enum Roles { IconRole = Qt::UserRole + 1, ProgressRole };

    static constexpr int MaxConnections = 25;

    explicit ConnectionList(QObject *parent = nullptr);

    // Rows 1..connections ("Offline", no speed), the check connections'
    // rows after them and the "RarPar" row ("Idle").
    void rebuild(int connections, int checkConnections = 0);
    int connectionCount() const { return int(rows_.size()) - 1 - checkConnections_; }
    int checkConnectionCount() const { return checkConnections_; }
    // 1-based connection rows; the job runner's row is connectionCount() + 1.
    int rarParRow() const { return int(rows_.size()); }

    const ConnectionRow &row(int number) const { return rows_.at(number - 1); }
    void setIcon(int number, StatusIcon icon);
    void setAction(int number, const QString &text);
    void setDescription(int number, const QString &text);
    void setProgress(int number, int percent);
    void setSpeed(int number, const QString &text);
    // Texts after a change of language ("Offline" / "Idle" rows).
    void relabel();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void changed(int number, int column);
    QVector<ConnectionRow> rows_;
    int checkConnections_ = 0;
};

ConnectionList &connectionList();

} // namespace tessaly
