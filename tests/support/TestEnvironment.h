// Every test case starts from a clean process: a fresh, empty program folder
// (TESSALY_HOME), the English texts, an empty queue and log, the system clock,
// and scripted prompts in GUI tests.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace tessaly::test {

// The program folder of the running test case.
QString home();
// A path inside it.
QString homeFile(const QString &name);

QByteArray readAll(const QString &path);
void writeAll(const QString &path, const QByteArray &data);
// Fresh certificates for TLS cases (see make-test-certificates.sh) in a
// folder of the test's home; empty when they could not be made.
QString makeTestCertificates();
// A Settings.ini text with each "Key=value" line in place of its key's line
// (appended when the key is missing).
QByteArray withSettings(QByteArray ini, const QStringList &lines);
// n small files folder/img001.jpg..; the numbers in `empty` get 0 bytes.
QStringList makeFiles(const QString &folder, int n, const QList<int> &empty = {});
// Whether a line of the log holds text.
bool logHas(const QString &text);
// Handles events until done() holds or ms pass; whether it holds.
bool waitFor(const std::function<bool()> &done, int ms = 10000);
// Reproducible random bytes.
QByteArray randomData(qint64 size, quint32 seed);

} // namespace tessaly::test
