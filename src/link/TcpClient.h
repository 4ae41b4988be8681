#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

// A line-based TCP client that tries to stay connected. Once an established connection is
// lost while the link is wanted, it tries again every second until it is back or is no longer
// wanted. Received bytes are cut into lines at each line feed; a line that grows beyond
// maxLineLength() without its line feed is dropped whole, so a peer that never ends its line
// cannot make the client hold unbounded memory, and no truncated line is ever delivered.
// A peer that sends without pause is served in bounded portions (MaxLinesPerPass lines,
// ReadPortion bytes), each in its own pass of the event loop, so that it cannot keep the
// program from anything else (a stop signal, closing); received lines go to the log cut to
// LoggedLineLength characters, and at most LoggedLinesPerSecond of them.
// Lives on the thread that owns its socket (the GUI thread); nothing here is thread-safe.
class TcpClient : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReconnectIntervalMs = 1000;
    static constexpr qsizetype DefaultMaxLineLength = 1 << 16;
    static constexpr int MaxLinesPerPass = 256;
    static constexpr qsizetype ReadPortion = 1 << 20;
    static constexpr int LoggedLineLength = 160;
    static constexpr int LoggedLinesPerSecond = 50;

    explicit TcpClient(QObject *parent = nullptr);
    ~TcpClient() override;

    // Takes effect with the next connection attempt.
    void setEndpoint(const QString &host, int port);
    QString host() const { return m_host; }
    int port() const { return m_port; }

    bool wantConnected() const { return m_wantConnected; }
    bool isConnected() const { return m_isConnected; }
    bool isReconnecting() const { return m_reconnectTimer.isActive(); }

    // Bytes received after the last line feed and kept for the next line.
    qsizetype pendingBytes() const { return m_rxBuffer.size(); }
    qsizetype maxLineLength() const { return m_maxLineLength; }
    // Longest line accepted, line feed not counted (at least 1).
    void setMaxLineLength(qsizetype bytes);

signals:
    void statChanged();
    // One received line without its line feed; empty lines are not reported.
    void receiveAnMsg(QByteArray msg);
    // A connection attempt failed: the first of a row of like failures, and any failure
    // after doConnect, so that each click on a link button is answered.
    void failed(const QString &error);

public slots:
    void doConnect();
    void doDisconnect();
    // Writes msg as Latin-1 while connected and returns true; while not connected the message
    // is dropped (false). Never blocks: the socket sends from its own buffer.
    bool send(const QString &msg);

protected slots:
    virtual void readyRead();

private slots:
    void socketConnected();
    void socketDisconnected();
    void tryReconnect();
    void socketError();

private:
    void connectSocket();
    void takeLines(qsizetype scanFrom);
    void takePortion();
    void logReceived(const QString &text);

    QTcpSocket *m_socket;
    QString m_host;
    int m_port = 0;
    bool m_wantConnected = false;
    bool m_isConnected = false;
    QTimer m_reconnectTimer;
    QByteArray m_rxBuffer;
    qsizetype m_maxLineLength = DefaultMaxLineLength;
    // Set while the rest of an overlong line is still arriving and must be skipped.
    bool m_skippingLine = false;
    bool m_portionQueued = false;
    qint64 m_logSecond = -1;
    int m_loggedThisSecond = 0;
    qint64 m_unlogged = 0;
    QString m_lastError;
};
