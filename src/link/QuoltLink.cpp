#include "QuoltLink.h"

#include "Config.h"
#include "TextUtil.h"

#include <QAbstractButton>

namespace {

const QString Greeting = QStringLiteral("myName Vexa2\n");

// A line feed or carriage return inside an argument would end the request early and let the
// rest of the argument reach the viewer as a command of its own.
bool breaksLine(const QString &text)
{
    return text.contains(u'\n') || text.contains(u'\r');
}

// The text on one log line, its line breaks made visible.
QString oneLine(const QString &text)
{
    QString t = text;
    return t.replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
}

} // namespace

QuoltLink::QuoltLink(QObject *parent)
    : TcpClient(parent)
{
    const QString rest
        = config.restNoCase("2dQuolt", DefaultHost + u' ' + QString::number(DefaultPort));
    QString host;
    int port = 0;
    parseEndpoint(rest, host, port);
    if (port == 0)
        logLine("Bad port for 2dQuolt :", rest);
    setEndpoint(host, port);

    connect(this, &TcpClient::statChanged, this, &QuoltLink::onStatChanged);
    connect(this, &TcpClient::receiveAnMsg, this, &QuoltLink::onReceiveAnMsg);
}

void QuoltLink::parseEndpoint(const QString &rest, QString &host, int &port)
{
    QString text = rest;
    QString hostItem, portItem;
    takeFirstItem(text, hostItem);
    takeFirstItem(text, portItem);
    host = hostItem.isEmpty() ? DefaultHost : hostItem;
    if (portItem.isEmpty()) {
        port = DefaultPort;
        return;
    }
    const int p = configInt(portItem);
    port = (p >= 1 && p <= 65535) ? p : 0;
}

QString QuoltLink::sliceText(int slice)
{
    return QString::asprintf("%05d", slice);
}

void QuoltLink::setLinkButton(QAbstractButton *button)
{
    m_linkButton = button;
    setLinkButtonStyle();
}

QString QuoltLink::linkStyle() const
{
    if (isConnected())
        return ConnectedStyle;
    if (wantConnected())
        return ConnectingStyle;
    return UnconnectedStyle;
}

void QuoltLink::setLinkButtonStyle()
{
    if (m_linkButton)
        m_linkButton->setStyleSheet(linkStyle());
}

void QuoltLink::onStatChanged()
{
    // Not while the link is being closed on purpose: a greeting then would only announce a
    // connection that is about to end.
    if (isConnected() && wantConnected()) {
        send(Greeting);
        emit connected();
        if (m_busy) {
            m_busy = false;
            emit changedIsBusy(false);
        }
    }
    setLinkButtonStyle();
}

void QuoltLink::onReceiveAnMsg(const QByteArray &msg)
{
    const QStringList items = QString::fromLatin1(msg).simplified().split(u' ', Qt::SkipEmptyParts);
    if (items.isEmpty() || items.at(0).compare(u"ISBUSY", Qt::CaseInsensitive) != 0)
        return;

    bool f = items.size() > 1 && items.at(1).toInt(nullptr, 10) == 1;
    if (f || items.size() < 3) {
        m_lastMsg.clear();
    } else {
        m_lastMsg = items.at(2).toUpper();
        f = false;
    }
    if (items.size() >= 2 && f != m_busy) {
        m_busy = f;
        emit changedIsBusy(f);
    }
}

bool QuoltLink::request(const QString &msg, bool refuse)
{
    if (m_busy || refuse) {
        onStatChanged();
        return false;
    }
    m_busy = true;
    emit changedIsBusy(true);
    send(msg);
    return true;
}

void QuoltLink::loadFilesOfPattern(const QString &path)
{
    const bool unsafe = breaksLine(path);
    if (unsafe)
        logLine("Path with a line break, not sent :", oneLine(path));
    request(
        QStringLiteral("%1 new %2 *.dat\n").arg(QStringLiteral("LOAD_I1_FILES_OF_PATTERN"), path),
        unsafe);
}

void QuoltLink::loadFiles(const QStringList &fileList)
{
    const QString joined = fileList.join(u' ');
    const bool unsafe = breaksLine(joined);
    if (unsafe)
        logLine("Path with a line break, not sent :", oneLine(joined));
    request(QStringLiteral("%1 new %2\n").arg(QStringLiteral("LOAD_I1_FILES"), joined),
        fileList.isEmpty() || unsafe);
}

void QuoltLink::exec2dA(const QString &sliceNo)
{
    const bool unsafe = breaksLine(sliceNo);
    if (unsafe)
        logLine("Slice number with a line break, not sent :", oneLine(sliceNo));
    request(QStringLiteral("%1 %2\n").arg(QStringLiteral("ANALYZER_EXEC_2DA"), sliceNo), unsafe);
}
