#include "CtFileSet.h"

namespace {

// Index of the last ASCII digit, -1 without one. Only these digits make a number for
// QString::toDouble, so other Unicode digits must not end the numeric part.
qsizetype lastDigit(const QString &text)
{
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (text.at(i) >= u'0' && text.at(i) <= u'9')
            return i;
    }
    return -1;
}

// The text before the last "-", or all of it without one.
QString beforeLastDash(const QString &text)
{
    const qsizetype dash = text.lastIndexOf(u'-');
    return dash < 0 ? text : text.left(dash);
}

} // namespace

CtFileSet::CtFileSet(const QFileInfo &first, QObject *parent)
    : QObject(parent)
{
    firstName = first.fileName();
    setKey = keyOf(firstName);
    sampleName = beforeLastDash(setKey);
    const qsizetype dash = setKey.lastIndexOf(u'-');
    energyText = dash < 0 ? setKey : setKey.mid(dash + 1);
    unit = unitOf(energyText);
    energy = readNameNumber(energyText);
    energyScale = scaleOf(unit);
    files.append(first);
}

QString CtFileSet::keyOf(const QString &fileName)
{
    return beforeLastDash(fileName);
}

double CtFileSet::readNameNumber(const QString &text)
{
    QString number = text.left(lastDigit(text) + 1);
    number.replace(u'_', u'.');
    bool ok = false;
    const double v = number.toDouble(&ok);
    return ok ? v : 0.0;
}

QString CtFileSet::unitOf(const QString &text)
{
    // Without a number there is nothing for a unit to qualify.
    const qsizetype d = lastDigit(text);
    return d < 0 ? QString() : text.mid(d + 1);
}

double CtFileSet::scaleOf(const QString &unit)
{
    return unit.toUpper() == u"KEV" ? 1000.0 : 1.0;
}

std::vector<std::unique_ptr<CtFileSet>> CtFileSet::group(const QFileInfoList &files)
{
    std::vector<std::unique_ptr<CtFileSet>> sets;
    for (const QFileInfo &fi : files) {
        if (!sets.empty() && sets.back()->setKey == keyOf(fi.fileName()))
            sets.back()->files.append(fi);
        else
            sets.push_back(std::make_unique<CtFileSet>(fi));
    }
    return sets;
}
