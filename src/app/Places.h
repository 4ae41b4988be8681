#pragma once

#include <QString>
#include <QStringList>

// Where the user was last, kept between sessions in the user's settings of the program
// (organisation and application "Vexa2"): the folder each kind of file dialog was last used
// in, and the data folders loaded last.
namespace Places {

// The folder the dialogs of `kind` were last used in, when it still exists; else `fallback`.
QString dialogFolder(const QString &kind, const QString &fallback);
// Remembers `path` for the dialogs of `kind`: a folder itself, a file (existing or to be
// written) by its folder. Empty paths are ignored.
void rememberDialogFolder(const QString &kind, const QString &path);

// How many recent data folders are kept.
constexpr int RecentCount = 8;
// The data folders (or single data files such as HDF5) loaded last, newest first.
QStringList recentData();
// Puts `path` first, dropping an older entry of it and any beyond RecentCount.
void addRecentData(const QString &path);
void removeRecentData(const QString &path);

} // namespace Places
