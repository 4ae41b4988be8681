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
