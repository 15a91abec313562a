#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The value of one Authentication-Results field (RFC 8601), as the receiving
// mail server writes it: its authserv-id, then one result per method with its
// properties. Comments are dropped and quoted strings unquoted wherever they
// stand. Microsoft 365 writes no authserv-id ("spf=pass ...; dkim=pass ...;
// dmarc=pass action=none header.from=..."): that form is read too, with
// sans_serveur set.
struct ResultatMethode {
    QString methode;  // lower case: "dmarc", "dkim", "spf", ...
    QString resultat; // lower case: "pass", "fail", "none", ...
    // "header.d", "header.i", "header.from", "reason", "action"...: name in
    // lower case, value as written (unquoted).
    QList<QPair<QString, QString>> proprietes;

    // The first value of that property, empty when there is none.
    QString propriete(const QString &nom) const;
};

struct ResultatsAuthentification {
    // False when the field breaks the syntax anywhere: nothing of it counts.
    bool lisible = false;
    bool sans_serveur = false; // the Microsoft 365 form
    QString serveur;           // the authserv-id
    QList<ResultatMethode> resultats;
};

ResultatsAuthentification lire_resultats_authentification(const QByteArray &valeur);
