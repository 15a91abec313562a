#pragma once

#include <QString>

// The command mail: subject "Actions", a body carrying "Commande:<name>;" and
// "Code:<key>;" anywhere and in either order. The preparation tool writes it,
// the server reads it; both go through this file.

inline constexpr char16_t kObjetCommande[] = u"Actions";

struct ParametresCommande {
    QString commande; // param_commande
    QString code;     // param_code
    bool ok = false;  // param_ok: both fields were found complete
};

// Finds the command name and the code in a mail body. A value runs from the
// character after the marker's colon to the next ";" found from the second
// character after the colon; line breaks do not end it. Only blanks are trimmed.
ParametresCommande extract_param(const QString &tt);

// The eight-line body for one command and one key, lines joined by CR LF, no
// line end after the last one.
QString compose_message_commande(const QString &commande, const QString &clef);

// True when a subject, blanks around it removed, is exactly "Actions".
bool est_objet_commande(const QString &subject);
