// One running instance per user and program folder. The first start listens
// on a local socket; a second start finds it, asks it to come to the front
// and ends without touching anything.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace tessaly {

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // key: what makes instances the same (the program title and folder); the
    // user is added here.
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first instance (it now listens). False
    // when another instance answered; that one has been asked to come forward.
    bool claim();

    QString serverName() const { return name_; }

    // The key for a program of that title: the title and the program folder
    // it will use.
    static QString defaultKey(const QString &title);
    // The program folder an instance guards.
    static QString guardedFolder();

signals:
    // Another start asked this instance to come to the front.
    void activationRequested();

private:
    bool notifyRunning();
    QString name_;
    QLocalServer *server_ = nullptr;
};

} // namespace tessaly
