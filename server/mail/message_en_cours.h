#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <QtGlobal>

// The mail being judged in this cycle, from its fetch to its reply: what was
// read from it, what was decided, and what its reply is made of. Traitement
// fills one per mail taken and hands it on; Reponse composes the reply from
// it. The main window only shows copies of some fields; nothing is read back
// from there. A fresh record is made for each mail, so nothing of the mail
// before can leak into the next one.
struct MessageEnCours {
    qint32 numero = 0; // the mail's number in this session's listing
    // What names the mail across sessions: the mailbox (server and login)
    // and the server's UIDL, else its Message-ID or a digest of its bytes.
    QString identite;

    QString expediteur; // the sender's bare address: the reply goes there
    QString objet;      // the subject as received, blanks kept
    QString commande;   // the command named in the body; empty when none
    QString code;       // the one-time code as written in the body
    // A command mail whose two fields were complete, whose code was accepted
    // and whose command names a batch file of the actions folder.
    bool commande_valide = false;

    QByteArray message_id; // "<...>": the reply's In-Reply-To
    QList<QByteArray> references;

    // The outcome, sent as the reply's text and written to the journal.
    QString texte_reponse;
    // Whether the sender gets a reply; when not, sans_reponse says why.
    bool a_repondre = false;
    QString sans_reponse;

    // The reply's subject before its number: "Re:" and the subject as received.
    QString objet_reponse() const { return QStringLiteral("Re:") + objet; }
};
