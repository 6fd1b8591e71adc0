#include "application/UpdateCheck.h"
#include "support/VersionServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <optional>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

std::optional<QString> fetch(const QUrl &url, qint64 *ms = nullptr)
{
    setVersionFileUrl(url);
    UpdateCheck check;
    std::optional<QString> text;
    QObject::connect(&check, &UpdateCheck::finished, [&](const QString &t) { text = t; });
    QElapsedTimer t;
    t.start();
    check.start();
    EXPECT_TRUE(check.isRunning());
    for (QDeadlineTimer d(15000); !text && !d.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (ms)
        *ms = t.elapsed();
    setVersionFileUrl({});
    return text;
}

} // namespace

TEST(UpdateCheck, ReadsAtMost256BytesWithoutNulsAndJudgesTheText)
{
    {
        test::VersionServer server(QByteArray("1.2\0.3", 6));
        EXPECT_EQ(fetch(server.url()), u"1.2.3"_s);
        EXPECT_TRUE(server.request().startsWith("GET /version.txt HTTP/1.1\r\n"));
        EXPECT_TRUE(server.request().contains("User-Agent: vb wininet\r\n"));
    }
    {
        test::VersionServer server(QByteArray(10 * 1024 * 1024, 'x'));
        const std::optional<QString> text = fetch(server.url());
        ASSERT_TRUE(text);
        EXPECT_EQ(text->size(), UpdateCheck::MaxBytes);
    }
    {
        test::VersionServer server(QByteArray("<!DOCTYPE html><html><body>Not found</body></html>"));
        EXPECT_FALSE(isValidVersionText(fetch(server.url()).value_or(u"?"_s)));
    }
    {
        test::VersionServer server(QByteArray("1.0.2\r\n"));
        EXPECT_EQ(fetch(server.url()), u"1.0.2"_s); // the same version, not a new one
    }
    {
        // A redirect to another host is not followed.
        test::VersionServer elsewhere(QByteArray("9.9.9"));
        const QByteArray to = "http://localhost:" + QByteArray::number(elsewhere.url().port()) + "/version.txt";
        test::VersionServer server(QByteArray(), "HTTP/1.1 302 Found\r\nLocation: " + to + "\r\n");
        EXPECT_EQ(fetch(server.url()), QString());
        EXPECT_TRUE(elsewhere.request().isEmpty());
    }
    for (const QString &bad : {u"1.2.3<b>"_s, u"1.2.x"_s, u"1.2\a.3"_s, u"<i>1.2</i>"_s, u"1.2.3 4"_s})
        EXPECT_FALSE(isValidVersionText(bad)) << qPrintable(bad);
    EXPECT_TRUE(isValidVersionText(u"1.2.3"_s));
    EXPECT_TRUE(isValidVersionText(u"10.20.3000"_s));
    EXPECT_FALSE(isValidVersionText(u"1.23"_s));        // 4 characters
    EXPECT_FALSE(isValidVersionText(u"10.20.30000"_s)); // 11
    EXPECT_FALSE(isValidVersionText(u"!DOC1.2"_s));
    EXPECT_FALSE(isValidVersionText(QString()));
}

TEST(UpdateCheck, NoServerOrASilentOneGivesNothingWithinFiveSeconds)
{
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    qint64 ms = 0;
    EXPECT_EQ(fetch(QUrl(u"http://127.0.0.1:%1/version.txt"_s.arg(closedPort)), &ms), QString());
    EXPECT_LT(ms, 3000);
    test::VersionServer silent(std::nullopt);
    EXPECT_EQ(fetch(silent.url(), &ms), QString());
    EXPECT_GE(ms, UpdateCheck::TimeoutMs / 2); // it waited, and then gave up
    EXPECT_LT(ms, UpdateCheck::TimeoutMs + 3000);
}
