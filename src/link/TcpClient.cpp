#include "TcpClient.h"

#include "TextUtil.h"

#include <QDateTime>
#include <QTcpSocket>

namespace {

// The message as one log line: its own line feed would only add an empty line.
QString forLog(const QString &msg)
{
    return msg.endsWith(u'\n') ? msg.chopped(1) : msg;
}

bool fitsLatin1(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return false;
    }
    return true;
}

} // namespace

TcpClient::TcpClient(QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
{
    m_reconnectTimer.setInterval(ReconnectIntervalMs);
    m_reconnectTimer.setSingleShot(false);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &TcpClient::tryReconnect);
    connect(m_socket, &QTcpSocket::connected, this, &TcpClient::socketConnected);
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpClient::socketDisconnected);
    // Bytes the client has not taken yet stay with the system (and the peer waits) beyond
    // this: a flood does not grow the program's memory.
    m_socket->setReadBufferSize(ReadPortion);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpClient::readyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &TcpClient::socketError);
}

TcpClient::~TcpClient()
{
    // The socket outlives this part of the object (it is deleted with the children); its last
    // signals must not reach a half-destroyed client.
    m_socket->disconnect(this);
    m_socket->abort();
}

void TcpClient::setEndpoint(const QString &host, int port)
{
    m_host = host;
    m_port = port;
}

void TcpClient::setMaxLineLength(qsizetype bytes)
{
    m_maxLineLength = qMax<qsizetype>(1, bytes);
}

void TcpClient::doConnect()
{
    if (!m_wantConnected) {
        m_wantConnected = true;
        emit statChanged();
    }
    m_lastError.clear();
    connectSocket();
    emit statChanged();
}

void TcpClient::doDisconnect()
{
    if (m_wantConnected) {
        m_wantConnected = false;
        emit statChanged();
    }
    m_reconnectTimer.stop();
    switch (m_socket->state()) {
    case QAbstractSocket::ConnectedState:
        // close() still delivers what is waiting in the write buffer.
        m_socket->close();
        break;
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        // An attempt in flight would otherwise complete and bring the link up unasked.
        m_socket->abort();
        break;
    default:
        break;
    }
}

void TcpClient::connectSocket()
{
    switch (m_socket->state()) {
    case QAbstractSocket::ClosingState:
        // Still flushing the previous connection: drop it so that a new one can start.
        m_socket->abort();
        [[fallthrough]];
    case QAbstractSocket::UnconnectedState:
        m_socket->connectToHost(
            m_host, quint16(m_port), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
        break;
    default:
        // Looking up, connecting or connected: the attempt under way is left to finish.
        break;
    }
}

void TcpClient::socketConnected()
{
    m_reconnectTimer.stop();
    m_rxBuffer.clear();
    m_skippingLine = false;
    m_lastError.clear();
    if (!m_wantConnected) {
        m_socket->abort();
        return;
    }
    if (!m_isConnected) {
        m_isConnected = true;
        emit statChanged();
    }
}

void TcpClient::socketDisconnected()
{
    if (m_isConnected) {
        m_isConnected = false;
        emit statChanged();
    }
    if (m_wantConnected)
        m_reconnectTimer.start();
}

void TcpClient::tryReconnect()
{
    if (m_wantConnected) {
        if (!m_isConnected) {
            connectSocket();
            emit statChanged();
        } else {
            // The buffer is left alone: it may hold the first part of a line on a live link.
            m_reconnectTimer.stop();
        }
    } else {
        m_reconnectTimer.stop();
        if (m_isConnected)
            m_socket->close();
    }
}

void TcpClient::socketError()
{
    // A refused retry every second would flood the log: report each kind of failure once in a
    // row.
    const QString err = m_socket->errorString();
    if (err != m_lastError) {
        logLine("Link error:", err);
        emit failed(err);
    }
    m_lastError = err;
}

void TcpClient::readyRead()
{
    // A portion already queued reads on from where the last one stopped.
    if (!m_portionQueued)
        takePortion();
}

void TcpClient::takePortion()
{
    m_portionQueued = false;
    qsizetype scanFrom = m_rxBuffer.size();
    if (m_rxBuffer.indexOf('\n') >= 0) {
        scanFrom = 0; // lines left over from the last pass come first
    } else {
        QByteArray data = m_socket->read(ReadPortion);
        if (m_skippingLine) {
            const qsizetype lf = data.indexOf('\n');
            data.remove(0, lf < 0 ? data.size() : lf + 1);
            m_skippingLine = lf < 0;
        }
        m_rxBuffer.append(data);
    }
    takeLines(scanFrom);
    if ((m_rxBuffer.indexOf('\n') >= 0 || m_socket->bytesAvailable() > 0)
        && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_portionQueued = true;
        QTimer::singleShot(0, this, &TcpClient::takePortion);
    }
}

void TcpClient::logReceived(const QString &text)
{
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (second != m_logSecond) {
        if (m_unlogged > 0)
            logLine(
                "rec: lines not logged (the peer sends too fast):", QString::number(m_unlogged));
        m_logSecond = second;
        m_loggedThisSecond = 0;
        m_unlogged = 0;
    }
    if (++m_loggedThisSecond > LoggedLinesPerSecond) {
        ++m_unlogged;
        return;
    }
    logLine("rec:",
        text.size() <= LoggedLineLength
            ? text
            : text.left(LoggedLineLength) + QString("... (%1 bytes)").arg(text.size()));
}

void TcpClient::takeLines(qsizetype scanFrom)
{
    // Taken out before they are reported, so a receiver that reacts by sending or
    // disconnecting finds the buffer in order; the rest waits for the next pass.
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (qsizetype lf = m_rxBuffer.indexOf('\n', scanFrom);
         lf >= 0 && lines.size() < MaxLinesPerPass; lf = m_rxBuffer.indexOf('\n', from)) {
        lines << m_rxBuffer.mid(from, lf - from);
        from = lf + 1;
    }
    m_rxBuffer.remove(0, from);
    for (const QByteArray &line : std::as_const(lines)) {
        if (line.size() > m_maxLineLength) {
            logLine("rec: line too long, dropped:", QString::number(line.size()) + " bytes");
        } else {
            logReceived(QString::fromLatin1(line));
            if (!line.isEmpty())
                emit receiveAnMsg(line);
        }
    }
    if (m_rxBuffer.indexOf('\n') < 0 && m_rxBuffer.size() > m_maxLineLength) {
        logLine("rec: line too long, dropped:", QString::number(m_rxBuffer.size()) + " bytes");
        m_rxBuffer.clear();
        m_skippingLine = true;
    }
}

bool TcpClient::send(const QString &msg)
{
    if (!m_isConnected) {
        logLine("snd: not connected, dropped:", forLog(msg));
        return false;
    }
    logLine("snd:", forLog(msg));
    if (!fitsLatin1(msg))
        logLine("snd: characters outside Latin-1 are sent as '?':", forLog(msg));
    m_socket->write(msg.toLatin1());
    return true;
}
