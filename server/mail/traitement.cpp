#include "server/mail/traitement.h"

#include "common/blancs.h"
#include "common/command_mail.h"
#include "server/frame/affichage.h"
#include "server/frame/journal.h"
#include "server/keys/actions_directory.h"
#include "server/keys/key_store.h"
#include "server/mail/garde_lecture.h"
#include "server/mail/politique_expediteurs.h"
#include "server/mail/pop3_session.h"
#include "server/mail/reply_policy.h"
#include "server/mail/reponse.h"
#include "server/mail/suivi_lancements.h"
#include "server/mail/textes_reponse.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {
constexpr qint32 kLancementReussi = 32; // the shell answers above this on success
// The window shows the head of a large body only: laying out megabytes of text
// would hold the window up for seconds, and the command is near the top.
constexpr qsizetype kTeteCorpsAffichee = 64 * 1024;

QByteArray contenu_archive(const QString &archive)
{
    QFile file(archive);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString message_numero(qint32 numero)
{
    return QStringLiteral("le message ") + QString::number(numero);
}
} // namespace

Traitement::Traitement(ServerState &state, Affichage &affichage, Pop3Session &session,
                       Lanceur lanceur, Horloge horloge, QObject *parent)
    : QObject(parent), m_state(state), m_affichage(affichage), m_session(session),
      m_lanceur(std::move(lanceur)), m_horloge(horloge),
      m_signalement(state, affichage, std::move(horloge)), m_juges(chemin_juges(state.rep_appli))
{
}

QString Traitement::chemin_juges(const QString &rep_appli)
{
    return rep_appli + QStringLiteral("messages_juges.dat");
}

QString Traitement::nom_archive(const QDateTime &moment)
{
    return QStringLiteral("message__") + moment.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".eml");
}

bool Traitement::charge_juges()
{
    if (m_juges_charges)
        return true;
    QString erreur;
    m_juges_charges = m_juges.charger(&erreur);
    // Without the record a mail could run twice: the box waits.
    if (!m_juges_charges)
        m_signalement.erreur(erreur + QStringLiteral(", les messages restent dans la boite"));
    return m_juges_charges;
}

QString Traitement::identite(const LigneBoite &ligne, const QByteArray &contenu) const
{
    return JudgedMails::identite_dans(m_state.nom_serveur_pop, m_state.login_pop, ligne.uidl,
                                      contenu, ligne.taille);
}

bool Traitement::deja_juge(const QString &identite) const
{
    return m_juges.contient(identite) && m_juges.termine(identite);
}

void Traitement::retire_de_la_liste(qint32 numero)
{
    // The session's events may have emptied the list while the call waited: the
    // entry is removed only if it is still the one processed.
    const QList<LigneBoite> &lignes = m_affichage.champs().lvwmessages;
    for (qsizetype i = 0; i < lignes.size(); ++i) {
        if (lignes.at(i).numero == numero) {
            m_affichage.retirer_ligne(i);
            return;
        }
    }
}

QString Traitement::cle_ecart(const LigneBoite &ligne) const
{
    // Numbers move when a mail before is deleted: the UIDL, else the size, names it.
    const QString cle = ligne.uidl.isEmpty() ? QString::number(ligne.taille) : ligne.uidl;
    return m_state.login_pop + u'@' + m_state.nom_serveur_pop + u' ' + cle;
}

bool Traitement::depasse_taille(const LigneBoite &ligne) const
{
    const qint64 limite = qint64(m_state.taille_max_mail_mo) * 1024 * 1024;
    return limite > 0 && ligne.taille > limite;
}

bool Traitement::trop_grand(const LigneBoite &ligne)
{
    if (!depasse_taille(ligne))
        return false;
    m_ecartes.insert(cle_ecart(ligne));
    m_signalement.erreur(message_numero(ligne.numero) + QStringLiteral(" (") +
                         QString::number(ligne.taille) +
                         QStringLiteral(" octets) dépasse la taille maximale de ") +
                         QString::number(m_state.taille_max_mail_mo) +
                         QStringLiteral(" Mo : il n'est pas relevé et reste dans la boite"));
    return true;
}

std::optional<LigneBoite> Traitement::premier_message_relevable()
{
    // A mail set aside (over the size limit, or whose fetch keeps failing) is
    // never fetched again in this run: it was reported once, and the next one
    // is taken, so that one mail cannot hold up the box.
    for (const LigneBoite &ligne : m_affichage.champs().lvwmessages) {
        if (!m_ecartes.contains(cle_ecart(ligne)) && !trop_grand(ligne))
            return ligne;
    }
    return std::nullopt;
}

void Traitement::termine_jugement()
{
    if (m_identite_en_cours.isEmpty())
        return;
    QString erreur;
    // The mail stays "being processed": after a restart it would get a
    // second answer, never a second launch.
    if (!m_juges.terminer(m_identite_en_cours, &erreur))
        m_signalement.erreur(erreur);
    m_identite_en_cours.clear();
}

void Traitement::supprime_deja_juge(qint32 numero)
{
    m_signalement.information(QStringLiteral("message ") + QString::number(numero) +
                              QStringLiteral(" déjà traité : supprimé sans être rejoué"));
    supprime(numero);
}

void Traitement::supprime(qint32 numero)
{
    m_supprime = m_session.DeleteMessage(numero) == 0;
    retire_de_la_liste(numero);
}

qsizetype Traitement::a_prendre(const QList<LigneBoite> &lignes) const
{
    return std::count_if(lignes.begin(), lignes.end(), [this](const LigneBoite &ligne) {
        return !m_ecartes.contains(cle_ecart(ligne)) && !depasse_taille(ligne);
    });
}

void Traitement::ligne_log(const MessageEnCours &m, const QString &lancement)
{
    // Command and code show only for a mail whose two fields were complete.
    const QString commande = m.commande_valide ? m.commande : QString();
    const QString code = m.commande_valide ? m.code : QString();
    m_affichage.ajouter(Champ::Text3, journal::horodatage(m_horloge()) + QStringLiteral("mail  ") +
                                          commande + u' ' + code + u' ' + lancement +
                                          QStringLiteral("\r\n"));
}

std::optional<Pop3Message> Traitement::releve(const LigneBoite &ligne, const QString &archive)
{
    m_session.SetMaxMailSize(qint64(m_state.taille_max_mail_mo) * 1024 * 1024);
    m_session.SetReadGuard([this, ligne](const QString &fichier) {
        QString erreur;
        const auto suite = garde_lecture(
            m_juges,
            identite(ligne, ligne.uidl.isEmpty() ? contenu_archive(fichier) : QByteArray()),
            ligne.numero, m_horloge(), &erreur);
        if (!erreur.isEmpty())
            m_signalement.erreur(erreur);
        return suite;
    });
    std::optional<Pop3Message> message = m_session.FetchMessage(ligne.numero, archive);
    const QString cle = cle_ecart(ligne);
    if (message) {
        m_echecs_releve.remove(cle);
        return message;
    }
    // The session has reported why.
    const int echecs = ++m_echecs_releve[cle];
    if (echecs < kEchecsReleveMax) {
        m_signalement.journal(message_numero(ligne.numero) +
                              QStringLiteral(" n'a pas été relevé, il reste dans la boite"));
        return std::nullopt;
    }
    m_echecs_releve.remove(cle);
    m_ecartes.insert(cle);
    m_signalement.erreur(message_numero(ligne.numero) + QStringLiteral(" (") + ligne.uidl +
                         QStringLiteral(") n'a pas pu être relevé après ") +
                         QString::number(kEchecsReleveMax) +
                         QStringLiteral(" essais : il reste dans la boite, les suivants sont "
                                        "traités"));
    return std::nullopt;
}

void Traitement::lit_message(const Pop3Message &message, MessageEnCours &m)
{
    m.expediteur = message.Sender.Address;
    m.objet = message.Subject;
    m.message_id = message.MessageId;
    m.references = message.References;
    if (est_objet_commande(message.Subject)) {
        const ParametresCommande p = extract_param(message.Body);
        m.commande = p.commande;
        m.code = p.code;
        m.commande_valide = p.ok;
    }

    m_affichage.fixer(Champ::Label8, m.expediteur);
    m_affichage.fixer(Champ::Label9, m.objet);
    m_affichage.fixer(Champ::Text5, message.Body.left(kTeteCorpsAffichee));
    // Command and code are shown only when both fields were complete.
    m_affichage.fixer(Champ::Label10, m.commande_valide ? m.commande : QString());
    m_affichage.fixer(Champ::Label11, m.commande_valide ? m.code : QString());
    // The launch result of an earlier mail must not show on this one's lines.
    m_affichage.vider(Champ::Label12);
}

bool Traitement::enregistre(const MessageEnCours &m)
{
    QString erreur;
    if (m_juges.enregistrer(m.identite, QString::fromLatin1(m.message_id), m_horloge(), &erreur))
        return true;
    m_signalement.erreur(erreur + QStringLiteral(", ") + message_numero(m.numero) +
                         QStringLiteral(" reste dans la boite"));
    return false;
}

bool Traitement::juge(MessageEnCours &m, bool repondu)
{
    // The mail counts as judged before its code is burnt and its command
    // launched: a crash from here on never runs it, nor refuses it, a second
    // time. A mail that cannot be recorded stays in the box, untouched.
    if (!enregistre(m))
        return false;

    // The code is burnt before anything is launched, whatever happens next.
    const auto verification = brule_code(m);
    if (verification != key_store::Verification::Acceptee)
        m.commande_valide = false;
    if (verification == key_store::Verification::NonEnregistree)
        m_signalement.erreur(QStringLiteral("le fichier clefs n'a pas pu être réécrit : ") +
                             m_state.fichier_clefs);

    if (m.commande_valide &&
        !repertoire_actions::commande_autorisee(m.commande, m_state.rep_actions))
        m.commande_valide = false;
    if (!m.commande_valide) {
        m.texte_reponse = texte_refus(m.commande);
        return true;
    }

    // The reply is stored at the end of this step under the next number; the
    // result mail, composed when the batch file ends, names that number.
    std::optional<qint16> numero;
    if (repondu)
        numero = Reponse::compteur_suivant(m_state.compteur_reponses);
    const qint32 resultat =
        m_suivi ? m_suivi->lance(m, numero) : m_lanceur(m.commande, m_state.rep_actions);
    const bool lance = resultat > kLancementReussi;
    const QString lancement =
        lance ? QStringLiteral("OK") : QStringLiteral("Erreur ") + QString::number(resultat);
    m_affichage.fixer(Champ::Label12, lancement);
    ligne_log(m, lancement);
    m.texte_reponse = lance ? texte_acceptation(m.commande) : texte_echec(m.commande, resultat);
    return true;
}

key_store::Verification Traitement::brule_code(const MessageEnCours &m)
{
    // A key file the operator replaced is read again first; the journal says so.
    bool relu = false;
    const auto verification = key_store::verif_clef(m_state, enleve_blancs(m.code), &relu);
    if (relu)
        m_signalement.journal(key_store::texte_relu(verification));
    if (verification != key_store::Verification::Refusee) {
        const QString alerte = key_store::alerte_clefs(key_store::clefs_restantes(m_state));
        if (!alerte.isEmpty())
            m_signalement.avertissement(alerte);
    }
    return verification;
}

void Traitement::reprend_interrompu(MessageEnCours &m)
{
    // Whether its command ran before the server stopped is not known: it is
    // not launched again, its code stays burnt, and the sender is told. Its
    // first archive and journal entry stand; this pass adds one line.
    brule_code(m);
    m.texte_reponse = m.commande_valide ? texte_interrompu(m.commande) : texte_refus(m.commande);
    m.commande_valide = false;
    m_signalement.information(QStringLiteral("message ") + QString::number(m.numero) +
                              QStringLiteral(" repris après un arrêt du serveur : répondu sans "
                                             "être relancé"));
}

void Traitement::refuse_expediteur(MessageEnCours &m, const QString &refus) const
{
    // Its code stays usable and nothing is launched; and a reply would go to
    // an address anyone can write into a mail.
    m.commande_valide = false;
    m.a_repondre = false;
    m.sans_reponse = refus + QStringLiteral(" : ") +
                     (m.expediteur.isEmpty() ? QStringLiteral("aucune adresse") : m.expediteur) +
                     QStringLiteral(", rien n'est lancé ni répondu");
    m_signalement.information(m.sans_reponse);
}

void Traitement::decide_reponse(const Pop3Message &message, MessageEnCours &m) const
{
    // A mail sent by a machine, from our own address or from nobody valid gets
    // no answer: two servers could answer each other for ever.
    m.sans_reponse = raison_sans_reponse(message, m_state.adresse_reponse);
    m.a_repondre = m.sans_reponse.isEmpty();
    if (!m.a_repondre)
        m_signalement.information(m.sans_reponse);
}

std::optional<MessageEnCours> Traitement::traite_message()
{
    m_supprime = false;
    const std::optional<LigneBoite> premier = premier_message_relevable();
    if (!premier || !charge_juges())
        return std::nullopt;
    const LigneBoite ligne = *premier;
    MessageEnCours m;
    m.numero = ligne.numero;

    // A mail whose deletion was lost comes back: known by its UIDL, it is not
    // even fetched again.
    if (!ligne.uidl.isEmpty()) {
        m.identite = identite(ligne, {});
        if (deja_juge(m.identite)) {
            supprime_deja_juge(m.numero);
            return std::nullopt;
        }
    }

    // The session writes the archive whole before it gives the mail, so that
    // every judged mail leaves a file. A mail that cannot be archived, or is
    // over the size limit, is left in the mailbox, untouched, for a later cycle.
    // A folder that cannot be made is reported by the fetch, which cannot archive.
    QDir().mkpath(m_state.rep_archives);
    const QString archive = m_state.rep_archives + nom_archive(m_horloge());
    const std::optional<Pop3Message> message = releve(ligne, archive);
    if (!message)
        return std::nullopt;
    if (!message->Unreadable.isEmpty())
        m_signalement.erreur(QStringLiteral("message ") + QString::number(m.numero) +
                             QStringLiteral(" illisible (") + message->Unreadable +
                             QStringLiteral("), archivé dans ") + archive);
    // Without a UIDL the mail is known by its own bytes, read back from its archive.
    if (ligne.uidl.isEmpty()) {
        m.identite = identite(ligne, contenu_archive(archive));
        if (deja_juge(m.identite)) {
            QFile::remove(archive); // the first archive of this mail stays
            supprime_deja_juge(m.numero);
            return std::nullopt;
        }
    }
    // One recorded but never finished was being processed when the server
    // stopped: it is answered, never launched again.
    const bool interrompu = m_juges.en_cours(m.identite);

    lit_message(*message, m);
    ligne_log(m, QString());
    // Under a sender policy, a sender that fails it is recorded like any
    // other mail, but neither judged nor answered.
    const QString refus = refus_expediteur(m_state.expediteurs, *message);
    if (interrompu)
        QFile::remove(archive); // its first archive stays
    if (!refus.isEmpty()) {
        if (!interrompu && !enregistre(m))
            return std::nullopt;
        refuse_expediteur(m, refus);
    } else if (interrompu) {
        reprend_interrompu(m);
    } else {
        if (!juge(m, raison_sans_reponse(*message, m_state.adresse_reponse).isEmpty()))
            return std::nullopt;
        m_signalement.journal(m.texte_reponse.split(QStringLiteral("\r\n")));
        // One line per judged mail for whoever reads the server without its
        // window; the code is masked there.
        const QString code = m.code.isEmpty() ? QString() : QStringLiteral(", code ") + m.code;
        m_affichage.journal_systeme(
            Niveau::Information,
            QStringLiteral("mail de %1%2 : %3")
                .arg(m.expediteur, code, journal::sur_une_ligne(m.texte_reponse).simplified()));
    }

    m_identite_en_cours = m.identite;
    if (refus.isEmpty())
        decide_reponse(*message, m);
    supprime(m.numero);
    return m;
}
