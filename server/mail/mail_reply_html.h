#pragma once

#include <QString>

// The HTML part of a reply: the text escaped, each line break kept as <br>.
QString mail_reply_html(const QString &text);
