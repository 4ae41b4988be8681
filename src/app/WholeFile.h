#pragma once

#include <QByteArrayView>
#include <QString>

// Writing a file so that it is either complete under its final name or not there at all.
// The bytes go to a temporary file beside the target; every write, the flush and the sync to
// the disk are checked, and only then is the temporary file renamed over the target. A full
// file system, a quota or a vanished folder therefore never leaves a truncated file where a
// complete one is expected (QSaveFile alone does not notice a failing last write).

// Returns false (and, when given, the reason in `reason`) if any step fails; the target is
// then left as it was.
bool writeWholeFile(const QString &path, QByteArrayView bytes, QString *reason = nullptr);

// As writeWholeFile, and a failure is recorded as "Cannot write the file <path>".
bool saveWholeFile(const QString &path, QByteArrayView bytes);
