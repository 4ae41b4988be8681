#pragma once

#include <QString>
#include <QStringList>

// Names and folders of automatically saved results. Shared by the saver (which writes the
// files) and by whoever has to find them again (the companion viewer link).

// The slice number as it appears in names: at least five digits, zero-padded.
QString saveSliceNo(int slice);

// A name or tag as one part of a path: path separators (and NUL) become "_", and a part made
// of dots alone ("." or "..") becomes as many "_", so that a tag taken from file names never
// places results outside the chosen folder.
QString safeNamePart(const QString &part);

// "name-tag-no.ext", or "tag-no.ext" without a name; an empty tag is kept (adjacent hyphens).
// Name and tag pass through safeNamePart.
QString saveFileName(
    const QString &name, const QString &tag, const QString &no, const QString &ext);

// `folder` joined with `sub` by "/"; an empty folder leaves `sub` relative to the working
// folder instead of turning it into a path from the file-system root.
QString joinSaveFolder(const QString &folder, const QString &sub);

// The folders one record is written to: `path` itself without sub folders; path/tag for
// "of Energy"; path/no for "of Slice" and when neither box is on; both when both are on.
QStringList saveFolders(const QString &path, const QString &tag, const QString &no,
    bool inSubFolders, bool ofEnergy, bool ofSlice);

// saveFolders, made where missing; a folder that cannot be made is a counted failure naming
// it (the files meant for it then fail too).
QStringList makeSaveFolders(const QString &path, const QString &tag, const QString &no,
    bool inSubFolders, bool ofEnergy, bool ofSlice);
