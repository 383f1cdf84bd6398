// Names of the files the operator keeps: screenshots and recordings are called
// "KLRemote_<model>_<yyyyMMdd_HHmmss>" with ".png", ".jpg" or ".mkv", and a second file in the
// same second gets "_2", a third "_3", ... so that no earlier file is ever replaced.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace capture {

// The printable ASCII of `text` up to its first NUL, at most `maxChars` of it, without
// surrounding blanks.
QString PrintableText(const QByteArray &text, qsizetype maxChars);

// The model text of an identification reply: up to its first NUL, printable ASCII only, without
// surrounding blanks; empty when nothing is left.
QString ModelOfIdentification(const QByteArray &equipInfo);

// The model as a part of a file name: ASCII letters, digits and '-' kept, every other run of
// characters between them one '_', at most 32 characters; "unknown" when nothing is left.
QString ModelForFileName(const QString &model);

// "KLRemote_<model>_<yyyyMMdd_HHmmss>", with the model made safe for a file name.
QString CaptureBaseName(const QString &model, const QDateTime &localTime);

// The n-th name tried for a base: "<base>.<ext>" for n = 1, "<base>_<n>.<ext>" after that.
QString CandidateName(const QString &base, int n, const QString &extension);

} // namespace capture
