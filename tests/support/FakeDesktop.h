// A private D-Bus bus with the fake login manager and notification service (or
// another fake service) on it, both ended with the object. Tests point the program (or themselves) at
// it through DBUS_SYSTEM_BUS_ADDRESS and DBUS_SESSION_BUS_ADDRESS, so that
// nothing ever reaches the real login manager of the machine.
#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <memory>

namespace tessaly::test {

class FakeDesktop
{
public:
    ~FakeDesktop()
    {
        for (QProcess *p : {service_.get(), bus_.get()})
            if (p && p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(2000);
            }
    }

    // record: the file the calls are written to. False when the bus or the
    // services could not start (a test then fails; it never skips).
    bool start(const QString &record, bool notifications = true)
    {
        record_ = record;
        QFile::remove(record_);
        QStringList args{record_};
        if (!notifications)
            args << QStringLiteral("--no-notifications");
        return startService(QStringLiteral(TESSALY_FAKE_DESKTOP), args);
    }

    // A private bus with another fake service on it, which says "ready" once it is.
    bool startService(const QString &program, const QStringList &args)
    {
        bus_ = std::make_unique<QProcess>();
        bus_->start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                     QStringLiteral("--print-address=1")});
        if (!bus_->waitForStarted(5000))
            return false;
        QByteArray address;
        for (QDeadlineTimer d(5000); !address.contains('\n') && !d.hasExpired();)
            if (bus_->waitForReadyRead(100))
                address += bus_->readAllStandardOutput();
        address_ = QString::fromUtf8(address).trimmed();
        if (address_.isEmpty())
            return false;
        service_ = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        service_->setProcessEnvironment(env);
        service_->start(program, args);
        QByteArray ready;
        for (QDeadlineTimer d(5000); !ready.contains("ready") && !d.hasExpired();)
            if (service_->waitForReadyRead(100))
                ready += service_->readAllStandardOutput();
        return ready.contains("ready");
    }

    const QString &address() const { return address_; }

    // The environment of a program that is to use this bus as both of its buses.
    void pointAt(QProcessEnvironment *env) const
    {
        env->insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address_);
        env->insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
    }

    // What CanPowerOff and friends answer from now on.
    void setCanAnswer(const QString &answer) const
    {
        QFile f(record_ + QStringLiteral(".answer"));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(answer.toUtf8());
    }

    QStringList calls() const
    {
        QFile f(record_);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    void clearCalls() const { QFile::remove(record_); }

private:
    QString record_, address_;
    std::unique_ptr<QProcess> bus_, service_;
};

} // namespace tessaly::test
