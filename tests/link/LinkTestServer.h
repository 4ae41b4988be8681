#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A stand-in for the companion viewer: a real TCP server on 127.0.0.1 that records, per
// accepted connection, every byte it receives and can talk back or hang up.
class LinkTestServer
{
public:
    LinkTestServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                const qsizetype index = m_sockets.size();
                m_sockets.append(s);
                m_received.append(QByteArray());
                QObject::connect(s, &QTcpSocket::readyRead, s,
                    [this, s, index] { m_received[index] += s->readAll(); });
            }
        });
    }

    bool listen(quint16 port = 0) { return m_server.listen(QHostAddress::LocalHost, port); }
    void stopListening() { m_server.close(); }
    quint16 port() const { return m_server.serverPort(); }

    qsizetype connections() const { return m_sockets.size(); }
    QByteArray received(qsizetype i) const { return m_received.value(i); }
    QByteArray lastReceived() const
    {
        return m_received.isEmpty() ? QByteArray() : m_received.last();
    }
    void clearReceived()
    {
        for (QByteArray &r : m_received)
            r.clear();
    }

    // Writes to the newest connection and pushes the bytes out at once.
    bool write(const QByteArray &bytes)
    {
        QTcpSocket *s = m_sockets.isEmpty() ? nullptr : m_sockets.last().data();
        if (!s || s->state() != QAbstractSocket::ConnectedState)
            return false;
        s->write(bytes);
        return s->flush();
    }

    bool lastIsOpen() const
    {
        return !m_sockets.isEmpty() && m_sockets.last()
            && m_sockets.last()->state() == QAbstractSocket::ConnectedState;
    }

    // The viewer hangs up (as when it exits).
    void dropAll()
    {
        for (const QPointer<QTcpSocket> &s : m_sockets) {
            if (s)
                s->close();
        }
    }

private:
    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_sockets;
    QList<QByteArray> m_received;
};
