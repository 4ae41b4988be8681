#include "Memory.h"

#include <QFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// The value of a "Key:   1234 kB" line of a /proc file, in bytes; -1 when absent.
qint64 procKiB(const char *path, const QByteArray &key)
{
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // Read whole: /proc files report size 0, and these ones are a few kB.
    const QByteArray all = f.readAll();
    for (const QByteArray &line : all.split('\n')) {
        if (!line.startsWith(key))
            continue;
        bool ok = false;
        const qint64 kib = line.mid(key.size()).trimmed().split(' ').value(0).toLongLong(&ok);
        return ok ? kib * 1024 : -1;
    }
    return -1;
}

} // namespace

qint64 availableMemory()
{
    qint64 avail = procKiB("/proc/meminfo", "MemAvailable:");
#ifdef Q_OS_UNIX
    if (avail < 0) {
        const long pages = sysconf(_SC_AVPHYS_PAGES);
        const long size = sysconf(_SC_PAGESIZE);
        if (pages > 0 && size > 0)
            avail = qint64(pages) * size;
    }
    rlimit lim {};
    if (getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        const qint64 used = std::max<qint64>(0, procKiB("/proc/self/status", "VmSize:"));
        const qint64 left = std::max<qint64>(0, qint64(lim.rlim_cur) - used);
        avail = avail < 0 ? left : std::min(avail, left);
    }
#endif
    return avail;
}

QString memoryText(qint64 bytes)
{
    const double gb = double(bytes) / (1024.0 * 1024.0 * 1024.0);
    if (gb >= 1.0)
        return QString::number(gb, 'f', 1) + QStringLiteral(" GB");
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 0) + QStringLiteral(" MB");
}
