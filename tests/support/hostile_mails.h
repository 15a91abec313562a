#pragma once

#include <QByteArray>

// Mails built to hold up a MIME parser, from mallory@example.org, subject "Actions".
namespace hostile_mails {

// depth multiparts nested, each boundary line written dashes + dashGap + boundary.
// With twoTypes the top header declares multipart then text/plain: a reader
// that keeps the last Content-Type sees no multipart at all.
QByteArray nested(int depth, const QByteArray &dashGap = {}, bool twoTypes = false);

// Within every count limit, yet slow to parse: siblings multiparts, each with a
// boundary line but never closed, so that the parser looks for each one's end
// through the rest of the mail. About 2.4 MB and tens of seconds for 2,400.
QByteArray unclosedSiblings(int count);

} // namespace hostile_mails
