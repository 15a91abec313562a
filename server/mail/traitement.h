#pragma once

#include "server/frame/affichage.h"
#include "server/frame/horloge.h"
#include "server/frame/server_state.h"
#include "server/frame/signalement.h"
#include "server/keys/key_store.h"
#include "server/mail/judged_mails.h"
#include "server/mail/message_en_cours.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class Affichage;
class Pop3Message;
class Pop3Session;
class SuiviLancements;

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

    // A mail whose fetch fails this many times running is set aside: it stays
    // in the box, and the mails behind it are taken.
    static constexpr int kEchecsReleveMax = 3;

    Traitement(ServerState &state, Affichage &affichage, Pop3Session &session, Lanceur lanceur,
               Horloge horloge, QObject *parent = nullptr);

    // The mail judged in this call, deleted from the box; none when the box
    // is empty, when the mail could not be fetched, archived or recorded, or
    // when it had been judged before.
    std::optional<MessageEnCours> traite_message();
    // The judgement of the mail processed last is over: called once its answer
    // is chosen and journalled, before the answer is stored to be sent.
    void termine_jugement();
    // Whether the last call deleted a mail from the box.
    bool a_supprime() const { return m_supprime; }
    // How many of these listed mails a cycle could still take: the ones set
    // aside (too large, or whose fetch kept failing) are not counted.
    qsizetype a_prendre(const QList<LigneBoite> &lignes) const;

    // From then on commands are launched through the follower, which keeps
    // their output and reports their end; without one, through the lanceur.
    void suivre(SuiviLancements *suivi) { m_suivi = suivi; }

    // The archive file name for a moment: "message__yyyymmdd_hhmmss.eml".
    static QString nom_archive(const QDateTime &moment);

    // The record of judged mails, in the server folder.
    static QString chemin_juges(const QString &rep_appli);

private:
    // The first listed mail not set aside; the larger ones are reported once.
    std::optional<LigneBoite> premier_message_relevable();
    // Over the size limit of the settings; trop_grand also sets it aside, said once.
    bool depasse_taille(const LigneBoite &ligne) const;
    bool trop_grand(const LigneBoite &ligne);
    QString cle_ecart(const LigneBoite &ligne) const;
    bool charge_juges();
    QString identite(const LigneBoite &ligne, const QByteArray &contenu) const;
    bool deja_juge(const QString &identite) const;

    // Fetches the mail into its archive; a failure is counted against the mail.
    std::optional<Pop3Message> releve(const LigneBoite &ligne, const QString &archive);
    void lit_message(const Pop3Message &message, MessageEnCours &m);
    // Records the mail as judged; false when the record could not be written.
    bool enregistre(const MessageEnCours &m);
    // Records the mail, burns its code and launches its command; false when
    // the record could not be written (the mail then stays in the box).
    // repondu: its sender is to be answered.
    bool juge(MessageEnCours &m, bool repondu);
    // A mail recorded but never finished: answered, never launched again.
    void reprend_interrompu(MessageEnCours &m);
    // Strikes the mail's code from the key store.
    key_store::Verification brule_code(const MessageEnCours &m);
    // A sender the policy refuses: nothing is launched, no reply is sent.
    void refuse_expediteur(MessageEnCours &m, const QString &refus) const;
    void decide_reponse(const Pop3Message &message, MessageEnCours &m) const;
    // The dated line of Text3: command, code and the launch's outcome, if any.
    void ligne_log(const MessageEnCours &m, const QString &lancement);
    void supprime_deja_juge(qint32 numero);
    void supprime(qint32 numero);
    void retire_de_la_liste(qint32 numero);

    ServerState &m_state;
    Affichage &m_affichage;
    Pop3Session &m_session;
    Lanceur m_lanceur;
    Horloge m_horloge;
    Signalement m_signalement;

    JudgedMails m_juges;
    QString m_identite_en_cours;         // judged, its judgement not yet marked over
    QSet<QString> m_ecartes;             // mails set aside: too large, or never fetched
    bool m_supprime = false;             // the last call deleted its mail
    QHash<QString, int> m_echecs_releve; // failed fetches running, by mail
    bool m_juges_charges = false;
    SuiviLancements *m_suivi = nullptr;
};
