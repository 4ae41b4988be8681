#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// File names as the file system holds them, bytes, against names as text. A name whose bytes
// are not valid in the system's encoding (UTF-8; say a Latin-1 name from an old acquisition
// PC) has no text that leads back to it: Qt's folder listings leave such a name out, and no
// path made from text opens it. They are found here so that they can be reported instead of
// vanishing from a listing.

// Whether `bytes` (a name or an argument as given) survives the way to text and back.
bool namesRoundTrip(const QByteArray &bytes);

// `bytes` as text for messages, every byte that is not part of valid text as "\xNN".
QString escapedName(const QByteArray &bytes);

// The entries of `folder` whose names do not survive the way to text and back, escaped, of
// those that match one of `patterns` (all with no pattern); empty when there are none or the
// folder cannot be read.
QStringList undecodableNames(const QString &folder, const QStringList &patterns = {});

// The message for such names: how many, where, and the first few.
QString undecodableText(const QString &folder, const QStringList &names);
