#include "Batch.h"
#include "Failures.h"

#include "TextUtil.h"

#include <QFile>
#include <QTextStream>

namespace {

QString trimmedRight(const QString &s)
{
    qsizetype n = s.size();
    while (n > 0 && isBlankChar(s.at(n - 1)))
        --n;
    return s.left(n);
}

QString trimmedLeft(const QString &s)
{
    qsizetype f = 0;
    while (f < s.size() && isBlankChar(s.at(f)))
        ++f;
    return s.mid(f);
}

// Appends one continued part to the line being joined, with a single blank between them.
void joinPart(QString &joined, const QString &part)
{
    const QString head = trimmedRight(joined);
    const QString tail = trimmedLeft(part);
    if (head.isEmpty())
        joined = part;
    else if (tail.isEmpty())
        joined = head;
    else
        joined = head + u' ' + tail;
}

} // namespace

Batch::Batch(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<BatchCmd>("BatchCmd");
    connect(this, &Batch::batchExecNext, this, &Batch::batchNext, Qt::DirectConnection);
    connect(this, &Batch::batchFinishALine, this, &Batch::batchCheckEnd, Qt::DirectConnection);
}

void Batch::batchStart()
{
    running = true;
    current = 0;
    emit batchExecNext();
}

void Batch::batchStop()
{
    running = false;
}

void Batch::batchExec()
{
    if (!running)
        batchStart();
    else
        running = false;
}

void Batch::batchCheckEnd()
{
    awaitingEnd = false;
    if (!running)
        return;
    if (batchLines.isEmpty())
        running = false;
    else
        emit batchExecNext();
}

void Batch::batchLoad(QString fname)
{
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logLine("Can't open batch file", fname);
        return;
    }
    QStringList raw;
    QTextStream in(&f);
    QString l;
    qint64 read = 0;
    for (LineRead r; (r = readBoundedLine(in, l)) != LineRead::End;) {
        read += l.size();
        if (r == LineRead::TooLong || read > MaxTextFileLength) {
            recordFailure(Failures::Command,
                QString("Batch file %1 has a line of more than %2 characters or more than %3 "
                        "characters in all: the rest of it is ignored")
                    .arg(fname)
                    .arg(MaxTextLineLength)
                    .arg(MaxTextFileLength));
            break;
        }
        raw.append(l);
    }
    f.close();

    batchLines.clear();
    lineNumbers.clear();
    labels.clear();
    fileName = fname;
    QString joined;
    bool continuing = false;
    int firstLine = 0;
    for (int i = 0; i < raw.size(); ++i) {
        QString part = removeComment(raw.at(i));
        const bool continued = cutContinuation(part);
        if (continuing) {
            joinPart(joined, part);
        } else {
            joined = part;
            firstLine = i + 1;
        }
        continuing = continued;
        if (continued)
            continue;
        if (!joined.isEmpty()) {
            batchLines.append(joined);
            lineNumbers.append(firstLine);
        }
    }
    // A backslash on the last line has nothing to join: keep what was collected.
    if (continuing && !trimmedRight(joined).isEmpty()) {
        batchLines.append(trimmedRight(joined));
        lineNumbers.append(firstLine);
    }

    for (const QString &l : std::as_const(batchLines)) {
        BatchCmd c(l);
        while ((c.is(":ifok") || c.is(":ifng")) && !c.args.isEmpty())
            c = BatchCmd(c.args.join(u' '));
        if (c.is(":goto") && !c.arg(0).isEmpty())
            labels.insert(c.arg(0));
    }
}

int Batch::findLabel(const QString &label) const
{
    QString rest, key;
    for (int i = 0; i < batchLines.size(); ++i) {
        rest = batchLines.at(i);
        takeFirstItem(rest, key);
        if (key == label)
            return i;
    }
    return -1;
}

// Control words go on through the event queue instead of calling batchNext() again: the
// queued call emits batchExecNext() (still connected directly to batchNext) from the
// event loop, so a chain of jumps never nests calls, and a cycle made only of control
// lines lets the thread's events, batchStop() among them, in between two steps.
void Batch::stepLater()
{
    if (stepQueued)
        return;
    stepQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            stepQueued = false;
            emit batchExecNext();
        },
        Qt::QueuedConnection);
}

void Batch::batchNext()
{
    if (!running || awaitingEnd)
        return;
    if (current >= batchLines.size()) {
        running = false;
        return;
    }

    BatchCmd cmd(batchLines.at(current));
    const int lineNo = lineNumbers.value(current);
    ++current;
    logLine("cmd", cmd.cmd);

    if (cmd.is(":ifok") && lastOk)
        cmd = BatchCmd(cmd.args.join(u' '));
    if (cmd.is(":ifng") && !lastOk)
        cmd = BatchCmd(cmd.args.join(u' '));

    if (cmd.is(":goto")) {
        // A ":goto" without a label has nowhere to go; it must not land on the first
        // blank line, whose keyword is empty too.
        const QString label = cmd.arg(0);
        const int target = label.isEmpty() ? -1 : findLabel(label);
        if (target >= 0)
            current = target;
        if (batchLines.isEmpty())
            running = false;
        else if (running)
            stepLater();
        return;
    }
    if (cmd.is(":end") || cmd.is(":stop")) {
        running = false;
        emit batchExecNext();
        return;
    }
    if (cmd.is(":echo")) {
        logLine(cmd.line);
        stepLater();
        return;
    }

    // Labels and conditions that did not hold pass through the executor without effect; only
    // real command lines are checked there for mistakes.
    if (!cmd.cmd.startsWith(u':') && !labels.contains(cmd.cmd)) {
        cmd.file = fileName;
        cmd.lineNo = lineNo;
    }
    lastOk = true;
    awaitingEnd = true;
    emit batchExCmd(cmd);
}
