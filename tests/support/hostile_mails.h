#pragma once

#include <QByteArray>

// Mails built to hold up a MIME parser, from mallory@example.org, subject "Actions".
namespace hostile_mails {

// depth multiparts nested, each boundary line written dashes + dashGap + boundary.
// With twoTypes the top header declares multipart then text/plain: a reader
// that keeps the last Content-Type sees no multipart at all.
QByteArray nested(int depth, const QByteArray &dashGap = {}, bool twoTypes = false);

// Within every limit, yet slow to parse: sibling multiparts never closed, whose
// ends vmime looks for through the rest of the mail (2,400: 2.4 MB, ~30 s).
QByteArray unclosedSiblings(int count);

} // namespace hostile_mails
