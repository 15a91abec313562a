#pragma once

#include <QString>

// The command text as a reply repeats it: without control characters (line
// breaks included) and at most 200 characters, a longer one cut and ended by
// " […]". Whatever a mail carries as its command, the server's reply cannot
// relay more than that.
QString commande_citee(const QString &commande);

inline constexpr qsizetype kLongueurCommandeCitee = 200;
