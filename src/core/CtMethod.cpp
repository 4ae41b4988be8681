#include "CtMethod.h"

QStringList CtMethods::names()
{
    return { QStringLiteral("fbp"), QStringLiteral("gridding") };
}

QString CtMethods::name(CtMethod method)
{
    return names().value(static_cast<int>(method));
}

bool CtMethods::fromName(const QString &name, CtMethod *method)
{
    const int at = names().indexOf(name.trimmed().toLower());
    if (at < 0)
        return false;
    *method = static_cast<CtMethod>(at);
    return true;
}
