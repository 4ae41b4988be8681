#include "WholeFile.h"
#include "Failures.h"

#include <QSaveFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <unistd.h>
#endif

bool writeWholeFile(const QString &path, QByteArrayView bytes, QString *reason)
{
    QSaveFile file(path);
    auto fail = [&](const QString &why) {
        if (reason)
            *reason = why;
        file.cancelWriting();
        return false;
    };
    // Unbuffered: every write below reaches the system at once, so its result is the true one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    const char *p = bytes.data();
    qint64 left = bytes.size();
    while (left > 0) {
        const qint64 n = file.write(p, std::min<qint64>(left, qint64(1) << 30));
        if (n <= 0)
            return fail(file.errorString());
        p += n;
        left -= n;
    }
    if (!file.flush() || file.error() != QFileDevice::NoError)
        return fail(file.errorString());
#ifdef Q_OS_UNIX
    // Some file systems (NFS, quotas) report a lack of space only when the data reach the disk.
    int rc;
    do
        rc = ::fsync(file.handle());
    while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno != EINVAL) // EINVAL: a file that cannot be synced, nothing lost
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
#endif
    if (!file.commit()) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
}

bool saveWholeFile(const QString &path, QByteArrayView bytes)
{
    if (writeWholeFile(path, bytes))
        return true;
    recordFailure(Failures::FileWrite, "Cannot write the file " + path);
    return false;
}
