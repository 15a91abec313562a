#include "server/mail/traitement.h"

#include "common/blancs.h"
#include "common/command_mail.h"
#include "server/frame/affichage.h"
#include "server/frame/journal.h"
#include "server/keys/key_store.h"
#include "server/mail/commande_citee.h"
#include "server/mail/politique_expediteurs.h"
#include "server/mail/pop3_session.h"
#include "server/mail/reply_policy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
constexpr qint32 kLancementReussi = 32; // the shell answers above this on success
// The window shows the head of a large body only: laying out megabytes of text
// would hold the window up for seconds, and the command is near the top.
constexpr qsizetype kTeteCorpsAffichee = 64 * 1024;

QByteArray contenu_archive(const QString &archive)
{
    QFile file(archive);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

Traitement::Traitement(ServerState &state, Affichage &affichage, Pop3Session &session,
                       Lanceur lanceur, Horloge horloge, QObject *parent)
    : QObject(parent), m_state(state), m_affichage(affichage), m_session(session),
      m_lanceur(std::move(lanceur)), m_horloge(std::move(horloge)),
      m_juges(chemin_juges(state.rep_appli))
{
}

QString Traitement::chemin_juges(const QString &rep_appli)
{
    return rep_appli + QStringLiteral("messages_juges.dat");
}

bool Traitement::charge_juges()
{
    if (m_juges_charges)
        return true;
    QString erreur;
    m_juges_charges = m_juges.charger(&erreur);
    if (!m_juges_charges) {
        // Without the record a mail could run twice: the box waits.
        m_affichage.erreur(erreur + QStringLiteral(", les messages restent dans la boite"));
        journal::ecrire_journal(m_state, erreur, m_horloge());
    }
    return m_juges_charges;
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

std::optional<LigneBoite> Traitement::premier_message_relevable()
{
    // A mail over the size limit is never fetched: it is reported once and the
    // next one is taken, so that one large mail cannot hold up the box.
    const qint64 limite = qint64(m_state.taille_max_mail_mo) * 1024 * 1024;
    for (const LigneBoite &ligne : m_affichage.champs().lvwmessages) {
        if (limite <= 0 || ligne.taille <= limite)
            return ligne;
        const QString cle = ligne.uidl.isEmpty() ? QString::number(ligne.taille) : ligne.uidl;
        if (m_trop_grands.contains(cle))
            continue;
        m_trop_grands.insert(cle);
        const QString text = QStringLiteral("le message ") + QString::number(ligne.numero) +
                             QStringLiteral(" (") + QString::number(ligne.taille) +
                             QStringLiteral(" octets) dépasse la taille maximale de ") +
                             QString::number(m_state.taille_max_mail_mo) +
                             QStringLiteral(" Mo : il n'est pas relevé et reste dans la boite");
        m_affichage.erreur(text);
        journal::ecrire_journal(m_state, text, m_horloge());
    }
    return std::nullopt;
}

void Traitement::termine_jugement()
{
    if (m_identite_en_cours.isEmpty())
        return;
    QString erreur;
    if (!m_juges.terminer(m_identite_en_cours, &erreur)) {
        // The mail stays "being processed": after a restart it would get a
        // second answer, never a second launch.
        m_affichage.erreur(erreur);
        journal::ecrire_journal(m_state, erreur, m_horloge());
    }
    m_identite_en_cours.clear();
}

void Traitement::supprime_deja_juge(qint32 numero)
{
    m_affichage.information(QStringLiteral("message ") + QString::number(numero) +
                            QStringLiteral(" déjà traité : supprimé sans être rejoué"));
    m_session.DeleteMessage(numero);
    retire_de_la_liste(numero);
}

QString Traitement::nom_archive(const QDateTime &moment)
{
    return QStringLiteral("message__") + moment.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".eml");
}

bool Traitement::commande_autorisee(const QString &commande, const QString &rep_actions)
{
    if (commande.isEmpty() || commande.contains(u'/') || commande.contains(u'\\') ||
        commande.contains(u':') || commande.contains(QStringLiteral("..")))
        return false;
    if (!commande.endsWith(QStringLiteral(".bat"), Qt::CaseInsensitive))
        return false;
    const QFileInfo file(QDir(rep_actions).filePath(commande));
    return file.isFile() && file.fileName() == commande;
}

QString Traitement::texte_acceptation(const QString &commande)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("a bien été lancée par l'automate");
}

QString Traitement::texte_refus(const QString &commande)
{
    return QStringLiteral(" L'action demandée") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("n'a pas été comprise par l'automate") + kCrLf +
           QStringLiteral("vérifiez vos fichiers de clefs ou faites une synchronisation");
}

QString Traitement::texte_interrompu(const QString &commande)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("n'a peut-être pas été lancée par l'automate") +
           QStringLiteral(" (arrêt du serveur pendant son traitement)");
}

QString Traitement::texte_echec(const QString &commande, qint32 resultat)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande_citee(commande) + kCrLf +
           QStringLiteral("n'a pas pu être lancée par l'automate") + QStringLiteral(" (Erreur ") +
           QString::number(resultat) + u')';
}

void Traitement::ligne_log()
{
    const ChampsFenetre &champs = m_affichage.champs();
    m_affichage.ajouter(Champ::Text3, journal::horodatage(m_horloge()) + QStringLiteral("mail  ") +
                                          champs.Label10 + u' ' + champs.Label11 + u' ' +
                                          champs.Label12 + kCrLf);
}

bool Traitement::enregistre(const QString &identite, const Pop3Message &message, qint32 numero)
{
    QString erreur;
    if (m_juges.enregistrer(identite, QString::fromLatin1(message.MessageId), m_horloge(), &erreur))
        return true;
    m_affichage.erreur(erreur + QStringLiteral(", le message ") + QString::number(numero) +
                       QStringLiteral(" reste dans la boite"));
    journal::ecrire_journal(m_state, erreur, m_horloge());
    return false;
}

bool Traitement::juge(const QString &identite, const Pop3Message &message, qint32 numero)
{
    // The mail counts as judged before its code is burnt and its command
    // launched: a crash from here on never runs it, nor refuses it, a second
    // time. A mail that cannot be recorded stays in the box, untouched.
    if (!enregistre(identite, message, numero))
        return false;

    // The code is burnt before anything is launched, whatever happens next.
    const auto verification = key_store::verif_clef(m_state, enleve_blancs(m_state.param_code));
    if (verification != key_store::Verification::Acceptee)
        m_state.param_ok = false;
    if (verification == key_store::Verification::NonEnregistree) {
        const QString text =
            QStringLiteral("le fichier clefs n'a pas pu être réécrit : ") + m_state.fichier_clefs;
        m_affichage.erreur(text);
        journal::ecrire_journal(m_state, text, m_horloge());
    }

    if (m_state.param_ok && !commande_autorisee(m_state.param_commande, m_state.rep_actions))
        m_state.param_ok = false;

    if (m_state.param_ok) {
        const qint32 resultat = m_lanceur(m_state.param_commande, m_state.rep_actions);
        const bool lance = resultat > kLancementReussi;
        m_affichage.fixer(Champ::Label12,
                          lance ? QStringLiteral("OK")
                                : QStringLiteral("Erreur ") + QString::number(resultat));
        ligne_log();
        m_state.reponse_texte = lance ? texte_acceptation(m_state.param_commande)
                                      : texte_echec(m_state.param_commande, resultat);
    } else {
        m_state.reponse_texte = texte_refus(m_state.param_commande);
    }
    return true;
}

void Traitement::traite_message()
{
    if (m_affichage.champs().lvwmessages.isEmpty())
        return;
    const std::optional<LigneBoite> premier = premier_message_relevable();
    if (!premier)
        return;
    const LigneBoite ligne = *premier;
    const qint32 numero = ligne.numero;
    if (!charge_juges())
        return;
    // A mail whose deletion was lost comes back: known by its UIDL, it is not
    // even fetched again.
    // One recorded but never finished was being processed when the server
    // stopped: it is answered, never launched again.
    bool interrompu = false;
    if (!ligne.uidl.isEmpty()) {
        const QString connue = JudgedMails::identite(ligne.uidl, {}, ligne.taille);
        if (m_juges.contient(connue) && m_juges.termine(connue)) {
            supprime_deja_juge(numero);
            return;
        }
        interrompu = m_juges.contient(connue);
    }
    // The session writes the archive whole before it gives the mail, so that
    // every judged mail leaves a file. A mail that cannot be archived, or is
    // over the size limit, is left in the mailbox, untouched, for a later cycle.
    QDir().mkpath(m_state.rep_archives);
    const QString archive = m_state.rep_archives + nom_archive(m_horloge());
    m_session.setTailleMaxMail(qint64(m_state.taille_max_mail_mo) * 1024 * 1024);
    const std::optional<Pop3Message> message = m_session.FetchMessage(numero, archive);
    if (!message) {
        journal::ecrire_journal(m_state,
                                QStringLiteral("le message ") + QString::number(numero) +
                                    QStringLiteral(" n'a pas été relevé, il reste") +
                                    QStringLiteral(" dans la boite"),
                                m_horloge());
        return; // the session has reported why
    }
    if (!message->illisible.isEmpty()) {
        const QString text = QStringLiteral("message ") + QString::number(numero) +
                             QStringLiteral(" illisible (") + message->illisible +
                             QStringLiteral("), archivé dans ") + archive;
        m_affichage.erreur(text);
        journal::ecrire_journal(m_state, text, m_horloge());
    }
    // Without a UIDL the mail is known by its own bytes, read back from its archive.
    const QString identite = JudgedMails::identite(
        ligne.uidl, ligne.uidl.isEmpty() ? contenu_archive(archive) : QByteArray(), ligne.taille);
    if (m_juges.contient(identite) && m_juges.termine(identite)) {
        QFile::remove(archive); // the first archive of this mail stays
        supprime_deja_juge(numero);
        return;
    }
    interrompu = interrompu || m_juges.contient(identite);

    m_affichage.fixer(Champ::Label8, message->Sender.Address);
    m_affichage.fixer(Champ::Label9, message->Subject);
    m_affichage.fixer(Champ::Text5, message->Body.left(kTeteCorpsAffichee));
    // The launch result of an earlier mail must not show on this one's lines.
    m_affichage.vider(Champ::Label12);

    if (est_objet_commande(message->Subject)) {
        const ParametresCommande p = extract_param(message->Body);
        m_state.param_commande = p.commande;
        m_state.param_code = p.code;
        m_state.param_ok = p.ok;
        m_affichage.fixer(Champ::Label10, p.ok ? p.commande : QString());
        m_affichage.fixer(Champ::Label11, p.ok ? p.code : QString());
    } else {
        m_state.param_ok = false;
        m_state.param_commande.clear();
        m_state.param_code.clear();
        m_affichage.vider(Champ::Label10);
        m_affichage.vider(Champ::Label11);
    }
    ligne_log();

    // Under a sender policy, a sender that fails it commands nothing and gets
    // no answer: its code stays usable, and a reply would go to an address
    // anyone can write into a mail.
    const QString refus = refus_expediteur(m_state.expediteurs, *message);
    if (!refus.isEmpty()) {
        if (interrompu)
            QFile::remove(archive); // its first archive stays
        else if (!enregistre(identite, *message, numero))
            return;
        m_state.param_ok = false;
        m_state.reponse_a_envoyer = false;
        const QString text = refus + QStringLiteral(" : ") +
                             (message->Sender.Address.isEmpty() ? QStringLiteral("aucune adresse")
                                                                : message->Sender.Address) +
                             QStringLiteral(", rien n'est lancé ni répondu");
        m_affichage.information(text);
        if (!journal::ecrire_journal(m_state, text, m_horloge()))
            m_affichage.erreur(QStringLiteral("le journal n'a pas pu être écrit : ") +
                               m_state.fichier_journal);
        m_identite_en_cours = identite;
        m_session.DeleteMessage(numero);
        retire_de_la_liste(numero);
        return;
    }

    if (interrompu) {
        // Whether its command ran before the server stopped is not known: it is
        // not launched again, its code stays burnt, and the sender is told. Its
        // first archive and journal entry stand; this pass adds one line.
        QFile::remove(archive);
        key_store::verif_clef(m_state, enleve_blancs(m_state.param_code));
        m_state.reponse_texte = m_state.param_ok ? texte_interrompu(m_state.param_commande)
                                                 : texte_refus(m_state.param_commande);
        m_state.param_ok = false;
    } else if (!juge(identite, *message, numero)) {
        return;
    }

    const QString entree =
        interrompu
            ? QStringLiteral("message ") + QString::number(numero) +
                  QStringLiteral(" repris après un arrêt du serveur : répondu sans être relancé")
            : m_state.reponse_texte;
    if (interrompu)
        m_affichage.information(entree);
    if (!journal::ecrire_journal(m_state, entree, m_horloge()))
        m_affichage.erreur(QStringLiteral("le journal n'a pas pu être écrit : ") +
                           m_state.fichier_journal);

    m_identite_en_cours = identite;
    m_state.reponse_objet = QStringLiteral("Re:") + m_affichage.champs().Label9;
    m_state.reponse_message_id = message->MessageId;
    m_state.reponse_references = message->References;
    // A mail sent by a machine, from our own address or from nobody valid gets
    // no answer: two servers could answer each other for ever.
    const QString sans_reponse = raison_sans_reponse(*message, m_state.adresse_reponse);
    m_state.reponse_a_envoyer = sans_reponse.isEmpty();
    if (!sans_reponse.isEmpty()) {
        m_affichage.information(sans_reponse);
        journal::ecrire_journal(m_state, sans_reponse, m_horloge());
    }

    m_session.DeleteMessage(numero);
    retire_de_la_liste(numero);
}
