#include "Failures.h"

#include <QDebug>

namespace {
constexpr int keptMessages = 1000;
}

Failures &Failures::instance()
{
    static Failures failures;
    return failures;
}

void Failures::record(Kind kind, const QString &message, bool alreadyLogged)
{
    if (kind < 0 || kind >= KindCount)
        kind = Other;
    {
        QMutexLocker lock(&mutex);
        ++counts[kind];
        recent.append(message);
        if (recent.size() > keptMessages)
            recent.removeFirst();
    }
    if (!alreadyLogged)
        qDebug().noquote() << message;
    emit recorded(kind, message);
}

int Failures::count() const
{
    QMutexLocker lock(&mutex);
    int total = 0;
    for (int c : counts)
        total += c;
    return total;
}

int Failures::count(Kind kind) const
{
    QMutexLocker lock(&mutex);
    return kind >= 0 && kind < KindCount ? counts[kind] : 0;
}

QString Failures::last() const
{
    QMutexLocker lock(&mutex);
    return recent.isEmpty() ? QString() : recent.last();
}

QStringList Failures::messages() const
{
    QMutexLocker lock(&mutex);
    return recent;
}

void Failures::reset()
{
    QMutexLocker lock(&mutex);
    counts.fill(0);
    recent.clear();
}

void recordFailure(Failures::Kind kind, const QString &message, bool alreadyLogged)
{
    Failures::instance().record(kind, message, alreadyLogged);
}
