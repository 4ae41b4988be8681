#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <QtGlobal>

// Helpers shared by the image input tests: raw ITEX files with any header and comment (the
// writer only makes well-formed ones), and a capture of the debug log so that tests can
// check the exact messages, none missing and none extra.

// An ITEX file whose comment-length field says `commentLength` (by default the comment's
// real length), followed by `comment` and then `pixelBytes` bytes of a running pattern.
inline bool writeRawItex(
    const QString &path, const QByteArray &comment, qint64 pixelBytes, int commentLength = -1)
{
    QByteArray data(64, '\0');
    data[0] = 'I';
    data[1] = 'M';
    qToLittleEndian<quint16>(
        quint16(commentLength < 0 ? comment.size() : commentLength), data.data() + 2);
    data += comment;
    QByteArray px(pixelBytes, Qt::Uninitialized);
    for (qint64 i = 0; i < pixelBytes; ++i)
        px[i] = char(i * 37 + 11);
    data += px;
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

inline bool writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

class LogCapture
{
public:
    LogCapture()
    {
        current() = &lines;
        previous = qInstallMessageHandler(handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        current() = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines;

private:
    static QStringList *&current()
    {
        static QStringList *list = nullptr;
        return list;
    }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &msg)
    {
        if (current())
            current()->append(msg);
    }
    QtMessageHandler previous = nullptr;
};

// Caps this process's address space at what it uses now plus `extraMiB` for the life of the
// object, so that a large allocation fails as it would on a machine without that memory.
// Not available under AddressSanitizer, which reserves address space of its own.
#include <sys/resource.h>

class AddressSpaceLimit
{
public:
    explicit AddressSpaceLimit(qint64 extraMiB)
    {
#if defined(__SANITIZE_ADDRESS__)
        Q_UNUSED(extraMiB);
#else
        QFile status("/proc/self/status");
        qint64 usedKiB = -1;
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("VmSize:"))
                    usedKiB = line.mid(7).trimmed().split(' ').value(0).toLongLong();
        if (usedKiB <= 0 || getrlimit(RLIMIT_AS, &saved) != 0)
            return;
        rlimit lim = saved;
        lim.rlim_cur = rlim_t(usedKiB * 1024 + extraMiB * 1024 * 1024);
        active = setrlimit(RLIMIT_AS, &lim) == 0;
#endif
    }
    ~AddressSpaceLimit()
    {
        if (active)
            setrlimit(RLIMIT_AS, &saved);
    }
    AddressSpaceLimit(const AddressSpaceLimit &) = delete;
    AddressSpaceLimit &operator=(const AddressSpaceLimit &) = delete;

    bool active = false;

private:
    rlimit saved {};
};
