#pragma once

#include <QString>

// The readable text of an HTML body, for mails that carry no plain part:
// tags dropped, entities decoded, <br>, <p>, <div>, <li> and <tr> turned into
// line breaks (CR LF), the source's own line breaks and runs of blanks folded
// as a browser would show them.
QString html_to_text(const QString &html);
