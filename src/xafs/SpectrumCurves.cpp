#include "SpectrumCurves.h"

#include "LinearCombination.h"

#include <cmath>

SpectrumCurves SpectrumCurves::make(const QString &label, const std::vector<double> &mu,
    const SpectrumEdge &analyser, const LinearCombination *lcf, const QStringList &refNames)
{
    SpectrumCurves c;
    c.label = label;
    c.energies = analyser.energies();
    c.mu = mu;
    const std::size_t n = c.energies.size();
    std::vector<double> work(analyser.workSize());
    c.normalised.resize(n);
    c.edge = analyser.analyse(mu.data(), work.data(), c.normalised.data());
    c.pre.resize(n);
    c.post.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        c.pre[i] = analyser.preAt(c.edge, c.energies[i]);
        c.post[i] = analyser.postAt(c.edge, c.energies[i]);
    }
    if (lcf && lcf->valid() && c.edge.ok) {
        c.weights.resize(std::size_t(lcf->count()));
        c.rFactor = lcf->fit(c.normalised.data(), c.weights.data());
        const double nan = std::nan("");
        c.fit.assign(n, nan);
        for (int r = 0; r < lcf->count(); ++r) {
            std::vector<double> comp(n, nan);
            for (std::size_t i = lcf->fitBegin(); i < lcf->fitEnd(); ++i) {
                comp[i] = c.weights[std::size_t(r)] * lcf->sampled(r)[i];
                c.fit[i] = (std::isnan(c.fit[i]) ? 0.0 : c.fit[i]) + comp[i];
            }
            c.components.push_back(std::move(comp));
            c.componentNames << refNames.value(r, QStringLiteral("ref%1").arg(r + 1));
        }
    }
    return c;
}

QString SpectrumCurves::csv(const std::vector<SpectrumCurves> &curves)
{
    if (curves.empty())
        return QString();
    QStringList header { QStringLiteral("energy_eV") };
    for (const SpectrumCurves &c : curves) {
        for (const char *k : { "mu", "pre", "post", "normalised" })
            header << QStringLiteral("%1 %2").arg(c.label, QLatin1String(k));
        if (!c.fit.empty())
            header << QStringLiteral("%1 fit").arg(c.label);
        for (const QString &name : c.componentNames)
            header << QStringLiteral("%1 %2").arg(c.label, name);
    }
    auto quoted = [](QString s) {
        return s.contains(u',') || s.contains(u'"')
            ? QStringLiteral("\"%1\"").arg(s.replace(u'"', QStringLiteral("\"\"")))
            : s;
    };
    QString out;
    for (int i = 0; i < header.size(); ++i)
        out += (i ? QStringLiteral(",") : QString()) + quoted(header[i]);
    out += u'\n';
    auto num = [](double v) { return std::isfinite(v) ? QString::number(v, 'g', 9) : QString(); };
    const std::vector<double> &e = curves.front().energies;
    for (std::size_t i = 0; i < e.size(); ++i) {
        out += num(e[i]);
        for (const SpectrumCurves &c : curves) {
            for (const std::vector<double> *v : { &c.mu, &c.pre, &c.post, &c.normalised })
                out += u',' + num(i < v->size() ? (*v)[i] : std::nan(""));
            if (!c.fit.empty())
                out += u',' + num(c.fit[i]);
            for (const std::vector<double> &comp : c.components)
                out += u',' + num(comp[i]);
        }
        out += u'\n';
    }
    return out;
}
