#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtEndian>
#include <QtGlobal>

#include <algorithm>
#include <vector>

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

// Reads `name` whole, then again keeping only parts of it (a band of rows, a band of columns,
// an inner rectangle, a single row, a part reaching past the image), and returns the first
// difference: a kept part must read exactly as the whole image does inside it and as zeros
// outside, and the reader must keep no more than the part. Empty when all agree.
template <typename MakeReader> QString partsMismatch(const QString &name, MakeReader make)
{
    auto whole = make();
    whole->fileName = name;
    if (!whole->load())
        return QStringLiteral("the whole image does not load");
    const int w = whole->width, h = whole->height;
    struct Part
    {
        int x, y, width, height;
    };
    const Part parts[] = { { 0, h / 3, w, std::max(1, h / 3) }, { 0, 0, w, 1 }, { 0, h - 1, w, 1 },
        { w / 4, 0, std::max(1, w / 2), h },
        { w / 3, h / 3, std::max(1, w / 3), std::max(1, h / 2) }, { 0, h / 2, w, h } };
    std::vector<double> all(size_t(std::max(w, h))), got(all.size());
    for (const Part &p : parts) {
        auto part = make();
        part->fileName = name;
        part->window = { p.x, p.y, p.width, p.height };
        if (!part->load())
            return QStringLiteral("the part (%1, %2, %3, %4) does not load")
                .arg(p.x)
                .arg(p.y)
                .arg(p.width)
                .arg(p.height);
        const int keptW = std::min(p.width, w - p.x), keptH = std::min(p.height, h - p.y);
        if (part->keptX != p.x || part->keptY != p.y || part->keptWidth != keptW
            || part->keptHeight != keptH || part->width != w || part->height != h)
            return QStringLiteral("the part (%1, %2, %3, %4) keeps (%5, %6, %7, %8)")
                .arg(p.x)
                .arg(p.y)
                .arg(p.width)
                .arg(p.height)
                .arg(part->keptX)
                .arg(part->keptY)
                .arg(part->keptWidth)
                .arg(part->keptHeight);
        const auto inside = [&](int x, int y) {
            return x >= p.x && x < p.x + keptW && y >= p.y && y < p.y + keptH;
        };
        for (int y = 0; y < h; ++y) {
            whole->hLine(y, all.data());
            std::fill(got.begin(), got.end(), -7.0);
            part->hLine(y, got.data());
            for (int x = 0; x < w; ++x) {
                if (got[size_t(x)] != (inside(x, y) ? all[size_t(x)] : 0.0))
                    return QStringLiteral("row %1, column %2 of the part (%3, %4, %5, %6)")
                        .arg(y)
                        .arg(x)
                        .arg(p.x)
                        .arg(p.y)
                        .arg(p.width)
                        .arg(p.height);
            }
        }
        for (int x = 0; x < w; ++x) {
            whole->vLine(x, all.data());
            std::fill(got.begin(), got.end(), -7.0);
            part->vLine(x, got.data());
            for (int y = 0; y < h; ++y) {
                if (got[size_t(y)] != (inside(x, y) ? all[size_t(y)] : 0.0))
                    return QStringLiteral("column %1, row %2 of the part (%3, %4, %5, %6)")
                        .arg(x)
                        .arg(y)
                        .arg(p.x)
                        .arg(p.y)
                        .arg(p.width)
                        .arg(p.height);
            }
        }
    }
    return {};
}
