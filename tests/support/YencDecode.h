// Decodes one yEnc article as a newsreader would, for checking what was posted.
#pragma once

#include <QByteArray>
#include <QString>

namespace tessaly::test {

struct DecodedPart
{
    bool ok = false;
    QString error;
    QByteArray subject;
    QByteArray name;
    qint64 fileSize = 0;
    int part = 0;
    qint64 begin = 0, end = 0;
    QByteArray data;
};

DecodedPart decodeArticle(const QByteArray &raw);

} // namespace tessaly::test
