#pragma once

#include "server/frame/horloge.h"
#include "server/frame/server_state.h"
#include "server/frame/signalement.h"
#include "server/mail/boite_envoi.h"
#include "server/mail/message_en_cours.h"
#include "server/mail/smtp_sender.h"

#include <QObject>

class Affichage;
class SmtpSender;

// The answer to the mail processed in this cycle, to its sender, numbered.
// prepare_reponse() composes it from the mail's record and stores it in the
// outbox of the server's folder before the mail leaves the mailbox;
// sendmail2() sends through SMTP1 what the outbox holds, oldest first, and
// logs it in Text2. A reply a server could not take for a while stays for the
// next cycle; one it refused for good is dropped, said once.
class Reponse : public QObject
{
    Q_OBJECT

public:
    Reponse(ServerState &state, Affichage &affichage, SmtpSender &smtp, Horloge horloge,
            QObject *parent = nullptr);

    // Composes the reply to the mail and stores it; false when it could not be
    // stored, in which case the mail's record is kept in memory until sent.
    bool prepare_reponse(const MessageEnCours &message);
    void sendmail2();
    // Replies not sent yet, as the last round of sendmail2 left them.
    int en_attente() const { return m_en_attente + static_cast<int>(m_en_memoire.size()); }

    // Numbers run 1 to 10000, then start again at 0.
    static qint16 compteur_suivant(qint16 compteur);
    // The subject base + " (reponse n " + the number with its sign place + " )".
    static QString objet_numerote(const QString &objet, qint16 numero);

private:
    // A reply the outbox could not store: composed again when it is sent, so
    // that it goes from the reply address that holds then.
    struct EnMemoire {
        qint16 numero = 0;
        MessageEnCours message;
    };

    ComposedMail compose(const MessageEnCours &message, qint16 numero) const;
    void envoie_en_memoire();
    void notification();
    void SMTP1_Error(qint16 Number, const QString &Description);

    ServerState &m_state;
    Affichage &m_affichage;
    SmtpSender &m_smtp;
    Horloge m_horloge;
    Signalement m_signalement;
    BoiteEnvoi m_boite_envoi;
    QList<EnMemoire> m_en_memoire;
    int m_en_attente = 0;
};
