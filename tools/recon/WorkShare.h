#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <optional>

// Share `index` of `count` of a run's work: the (energy, slice) items of the whole run are
// numbered energy by energy, slice by slice within each, and cut into `count` contiguous
// pieces that differ in size by at most one item. Contiguous pieces keep the number of data
// sets a task has to load small: a piece touches at most two more sets than it fills.
struct WorkShare
{
    int index = 0;
    int count = 1;

    // First item and one past the last item of this share of `total` items.
    qint64 begin(qint64 total) const { return total * index / count; }
    qint64 end(qint64 total) const { return total * (index + 1) / count; }

    // "I/N" with 0 <= I < N.
    static std::optional<WorkShare> parse(const QString &text);
    // The share of a Slurm array task: SLURM_ARRAY_TASK_ID counted from SLURM_ARRAY_TASK_MIN
    // of SLURM_ARRAY_TASK_COUNT tasks. Nothing without SLURM_ARRAY_TASK_ID; an array whose
    // ids are not consecutive (resubmitted in part) cannot tell its shares and is refused
    // with the reason in `error`.
    static std::optional<WorkShare> fromSlurm(
        const QProcessEnvironment &env, bool *present, QString *error);
};
