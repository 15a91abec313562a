#pragma once

#include "server/frame/affichage.h"
#include "server/frame/horloge.h"
#include "server/frame/server_state.h"
#include "server/mail/judged_mails.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class Affichage;
class Pop3Message;
class Pop3Session;

// The processing of one mail per cycle: fetch the first listed message, archive
// it, show it, judge it, strike its code, launch its batch file, choose and
// journal the answer, then delete it from the mailbox. A mail judged before
// (its deletion lost to a crash or a cut connection) is only deleted.
class Traitement : public QObject
{
    Q_OBJECT

public:
    // Stands for the shell's "open": above 32 is success.
    using Lanceur = std::function<qint32(const QString &file, const QString &directory)>;

    Traitement(ServerState &state, Affichage &affichage, Pop3Session &session, Lanceur lanceur,
               Horloge horloge, QObject *parent = nullptr);

    void traite_message();
    // The judgement of the mail processed last is over: called once its answer
    // is chosen and journalled, before the answer is stored to be sent.
    void termine_jugement();

    // The archive file name for a moment: "message__yyyymmdd_hhmmss.eml".
    static QString nom_archive(const QDateTime &moment);
    // Only a batch file lying directly in the actions directory may run: a bare
    // name ending in ".bat", no drive, no separator, no "..", naming a file there.
    static bool commande_autorisee(const QString &commande, const QString &rep_actions);

    // The answers repeat the command as commande_citee() gives it.
    static QString texte_acceptation(const QString &commande);
    static QString texte_refus(const QString &commande);
    static QString texte_echec(const QString &commande, qint32 resultat);
    // A mail the server was processing when it stopped: its command may have run.
    static QString texte_interrompu(const QString &commande);

    // The record of judged mails, in the server folder.
    static QString chemin_juges(const QString &rep_appli);

private:
    void ligne_log();
    bool charge_juges();
    void supprime_deja_juge(qint32 numero);
    void retire_de_la_liste(qint32 numero);

    ServerState &m_state;
    Affichage &m_affichage;
    Pop3Session &m_session;
    Lanceur m_lanceur;
    Horloge m_horloge;
    // Records the mail as judged; false when the record could not be written.
    bool enregistre(const QString &identite, const Pop3Message &message, qint32 numero);
    // Records the mail, burns its code and launches its command; false when
    // the record could not be written (the mail then stays in the box).
    bool juge(const QString &identite, const Pop3Message &message, qint32 numero);
    // The first listed mail within the size limit; the larger ones are reported.
    std::optional<LigneBoite> premier_message_relevable();

    JudgedMails m_juges;
    QString m_identite_en_cours; // judged, its judgement not yet marked over
    QSet<QString> m_trop_grands; // mails over the size limit, already reported
    bool m_juges_charges = false;
};
