#pragma once

#include "TcpClient.h"

#include <QAbstractButton>
#include <QPointer>
#include <QStringList>

// The program's side of the link to the companion spectrum viewer Quolt: greets the viewer on
// every new connection, sends its three requests and follows its "ISBUSY" reports. A request
// marks the viewer busy at once; the viewer's report "ISBUSY <not 1> <COMMAND>" clears it and
// names the finished command in lastMsg(), which the main window reads on changedIsBusy().
// A request refused (viewer busy, nothing to load, a path that would break the line protocol)
// re-announces the link instead, which clears busy and lets the main window reset its state.
// GUI thread only.
class QuoltLink : public TcpClient
{
    Q_OBJECT
public:
    static constexpr int DefaultPort = 6078;
    static inline const QString DefaultHost = QStringLiteral("localhost");

    // Takes the endpoint from the configuration key "2dQuolt".
    explicit QuoltLink(QObject *parent = nullptr);

    // Host and port from the text after the key "2dQuolt": the host, then the port, separated
    // by blanks. A missing item takes its default; a port that is not a decimal number in
    // 1..65535 gives 0 (no connection can be made to it).
    static void parseEndpoint(const QString &rest, QString &host, int &port);

    // Slice numbers in requests are written "%05d".
    static QString sliceText(int slice);

    QString lastMsg() const { return m_lastMsg; }
    bool busy() const { return m_busy; }

    // The button that shows the link state (the main window's Link2dQuolt); may be null.
    void setLinkButton(QAbstractButton *button);
    QAbstractButton *linkButton() const { return m_linkButton; }

    // Style sheets of the link button.
    static inline const QString ConnectedStyle
        = QStringLiteral("background-color: rgb(211, 255, 241);");
    static inline const QString ConnectingStyle
        = QStringLiteral("background-color: rgb(255, 243, 162);");
    static inline const QString UnconnectedStyle
        = QStringLiteral("background-color: rgb(176, 192, 192);");
    QString linkStyle() const;

signals:
    void connected();
    void changedIsBusy(bool f);

public slots:
    // Reacts to every change of the link state (TcpClient::statChanged): while connected and
    // wanted it greets the viewer, announces connected() and clears busy; then recolours the
    // button.
    void onStatChanged();
    void setLinkButtonStyle();
    // One line from the viewer (TcpClient::receiveAnMsg); only "ISBUSY" reports are used.
    void onReceiveAnMsg(const QByteArray &msg);

    void loadFilesOfPattern(const QString &path);
    void loadFiles(const QStringList &fileList);
    void exec2dA(const QString &sliceNo);

private:
    // Common path of the three requests; false when the request was refused.
    bool request(const QString &msg, bool refuse);

    QString m_lastMsg;
    bool m_busy = false;
    QPointer<QAbstractButton> m_linkButton;
};
