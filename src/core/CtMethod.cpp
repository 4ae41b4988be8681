#include "CtMethod.h"

#include "CtBackProj.h"
#include "CtGridding.h"

namespace {

// The result, the interpolation tables of every row (values and slopes, padded) and the
// four complex transform arrays.
qint64 fbpBytes(int n, int rows)
{
    const qint64 nn = n, r = rows;
    return 8 * nn * nn + 16 * (nn + 32) * r + 8 * r + 64 * nn;
}

// The result, the filtered spectra of the padded rows (2n samples, single precision), the
// 1.25 n frequency grid and the half-transformed slice, with the per-row steps.
qint64 griddingBytes(int n, int rows)
{
    const qint64 nn = n, r = rows;
    return 8 * nn * nn + 25 * nn * nn / 2 + 8 * (nn + 8) * r + 16 * r;
}

template <typename Engine> std::unique_ptr<CtEngine> makeEngine()
{
    return std::make_unique<Engine>();
}

} // namespace

const std::vector<CtMethodInfo> &CtMethods::table()
{
    static const std::vector<CtMethodInfo> methods {
        { CtMethod::Fbp, QStringLiteral("fbp"), QStringLiteral("filtered back-projection"),
            QStringLiteral("filtered back-projection"), true, fbpBytes, makeEngine<CtBackProj> },
        { CtMethod::Gridding, QStringLiteral("gridding"), QStringLiteral("Fourier gridding"),
            QStringLiteral("gridding"), false, griddingBytes, makeEngine<CtGridding> },
    };
    return methods;
}

const CtMethodInfo &CtMethods::info(CtMethod method)
{
    const auto &methods = table();
    const auto at = static_cast<std::size_t>(method);
    return at < methods.size() ? methods[at] : methods.front();
}

QStringList CtMethods::names()
{
    QStringList list;
    for (const CtMethodInfo &m : table())
        list << m.name;
    return list;
}

QString CtMethods::name(CtMethod method)
{
    return names().value(static_cast<int>(method));
}

QString CtMethods::choiceText()
{
    QStringList list = names();
    const QString last = list.takeLast();
    return list.isEmpty() ? last : list.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

bool CtMethods::fromName(const QString &name, CtMethod *method)
{
    const int at = names().indexOf(name.trimmed().toLower());
    if (at < 0)
        return false;
    *method = table()[std::size_t(at)].method;
    return true;
}
