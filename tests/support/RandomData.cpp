#include "support/TestEnvironment.h"

#include <QRandomGenerator>

namespace tessaly::test {

QByteArray randomData(qint64 size, quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray b(size, Qt::Uninitialized);
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

} // namespace tessaly::test
