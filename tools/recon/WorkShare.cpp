#include "WorkShare.h"

#include <QStringList>

std::optional<WorkShare> WorkShare::parse(const QString &text)
{
    const QStringList parts = text.trimmed().split(u'/');
    if (parts.size() != 2)
        return std::nullopt;
    bool okIndex = false, okCount = false;
    const int index = parts[0].trimmed().toInt(&okIndex);
    const int count = parts[1].trimmed().toInt(&okCount);
    if (!okIndex || !okCount || count < 1 || index < 0 || index >= count)
        return std::nullopt;
    return WorkShare { index, count };
}

std::optional<WorkShare> WorkShare::fromSlurm(
    const QProcessEnvironment &env, bool *present, QString *error)
{
    *present = env.contains(QStringLiteral("SLURM_ARRAY_TASK_ID"));
    if (!*present)
        return std::nullopt;
    const auto number = [&env](const char *name, int fallback, bool *ok) {
        const QString v = env.value(QLatin1String(name));
        if (v.isEmpty()) {
            *ok = true;
            return fallback;
        }
        return v.trimmed().toInt(ok);
    };
    bool okId = false, okMin = false, okMax = false, okCount = false;
    const int id = number("SLURM_ARRAY_TASK_ID", -1, &okId);
    const int min = number("SLURM_ARRAY_TASK_MIN", 0, &okMin);
    const int count = number("SLURM_ARRAY_TASK_COUNT", -1, &okCount);
    const int max = number("SLURM_ARRAY_TASK_MAX", min + count - 1, &okMax);
    if (!okId || !okMin || !okMax || !okCount || count < 1) {
        *error = QStringLiteral("SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT must be whole "
                                "numbers");
        return std::nullopt;
    }
    if (max - min + 1 != count) {
        *error = QStringLiteral("the Slurm array has ids %1 ... %2 but %3 tasks: its shares are "
                                "not known; give --task I/N")
                     .arg(min)
                     .arg(max)
                     .arg(count);
        return std::nullopt;
    }
    const int index = id - min;
    if (index < 0 || index >= count) {
        *error = QStringLiteral("SLURM_ARRAY_TASK_ID %1 lies outside %2 ... %3")
                     .arg(id)
                     .arg(min)
                     .arg(max);
        return std::nullopt;
    }
    return WorkShare { index, count };
}
