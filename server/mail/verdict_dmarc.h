#pragma once

#include <QByteArray>
#include <QString>

// Whether the receiving mail server's results show the From domain
// authenticated. Only the topmost Authentication-Results field is given here:
// the receiving server writes its own above whatever the sender wrote. When
// serveur_attendu is set, that field must carry this authserv-id.
//
// Authenticated: dmarc=pass with a header.from equal to the From domain; or,
// where the field gives no DMARC result, dkim=pass with a signing domain
// (header.d, else the domain of header.i) equal to the From domain or a
// parent of it. A field with two results for the method that decides (dmarc,
// or dkim when it stands alone) is not trusted.
struct VerdictDmarc {
    bool authentifie = false;
    // What decided, for the journal: "dmarc=pass", "dmarc=fail",
    // "dmarc=absent, dkim=pass header.d=autre.example non aligné"...
    QString detail;
};

VerdictDmarc juge_dmarc(const QByteArray &champ, const QString &domaine_from,
                        const QString &serveur_attendu);
