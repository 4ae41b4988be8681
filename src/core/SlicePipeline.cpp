#include "SlicePipeline.h"

#include "CtBackProj.h"
#include "CtParams.h"
#include "HSgm.h"

#include <numbers>

CtEngine &SlicePipeline::engineFor(CtMethod method)
{
    if (!engine_ || engine_->method() != method) {
        engine_.reset(); // freed first: two engines of a large slice need not fit at once
        engine_ = CtMethods::info(method).make();
    }
    return *engine_;
}

CtBackProj *SlicePipeline::rowEngine() const
{
    if (!engine_ || !CtMethods::info(engine_->method()).byRow)
        return nullptr;
    return dynamic_cast<CtBackProj *>(engine_.get());
}

SlicePipeline::Step SlicePipeline::prepare(HSgm &sgm, const CtParams *p, CtMethod fallback)
{
    CtEngine &engine = engineFor(p ? p->method : fallback);
    engine.setRowAngles(nullptr);
    angles_.clear();
    if (!sgm.hasData() || !rings_.apply(sgm.sgm.get(), sgm.w, sgm.h, p ? p->ringRemoval : 0))
        return Step::RingRemoval;
    const int n = sgm.w / 2 * 2;
    const int rows = sgm.h;
    if (!engine.setFilter(p ? p->filter : CtFilterKind::Ramp))
        return Step::Filter;
    if (!engine.prepare(n, rows))
        return Step::Size;
    // Divided by the rows this slice is made of: a partial set keeps the scale of a full
    // one, also when it wraps past the end of the set.
    engine.setProjections(rows);
    engine.initResult(n);
    if (p) {
        // Projections with angles of their own are reconstructed each at its angle, weighted
        // by the angle it stands for.
        angles_ = rowAnglesOf(*p, rows);
        weightRows(sgm, *p, angles_);
    }
    engine.setRowAngles(angles_.empty() ? nullptr : angles_.data());
    return Step::Done;
}

void SlicePipeline::commonStep(const CtParams &p, double *angle0, double *dAngle)
{
    *dAngle = p.dataSetRangeDeg / 180.0 * std::numbers::pi / p.dataSetImages;
    *angle0 = p.startImageNo * *dAngle + p.angleOriginDeg * std::numbers::pi / 180.0;
}

SlicePipeline::Step SlicePipeline::reconstruct(const HSgm &sgm, double x0, double x1, double z0,
    double z1, double angle0, double dAngle)
{
    if (!engine_)
        return Step::Size;
    return engine_->reconstruct(sgm, x0, x1, z0, z1, angle0, dAngle) ? Step::Done : Step::Angles;
}
