#include "server/mail/traitement.h"

#include "common/blancs.h"
#include "common/command_mail.h"
#include "server/windows/form1.h"
#include "server/frame/journal.h"
#include "server/keys/key_store.h"
#include "server/mail/pop3_session.h"
#include "server/mail/sequenceur.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeWidget>

namespace {
const QString kCrLf = QStringLiteral("\r\n");
constexpr qint32 kLancementReussi = 32; // the shell answers above this on success
} // namespace

Traitement::Traitement(ServerState &state, Form1 &form, Pop3Session &session, Lanceur lanceur,
                       QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_form(form)
    , m_session(session)
    , m_lanceur(std::move(lanceur))
{
}

QString Traitement::nom_archive(const QDateTime &moment)
{
    return QStringLiteral("message__") + moment.toString(QStringLiteral("yyyyMMdd_HHmmss"))
        + QStringLiteral(".eml");
}

bool Traitement::commande_autorisee(const QString &commande, const QString &rep_actions)
{
    if (commande.isEmpty() || commande.contains(u'/') || commande.contains(u'\\')
        || commande.contains(u':') || commande.contains(QStringLiteral("..")))
        return false;
    if (!commande.endsWith(QStringLiteral(".bat"), Qt::CaseInsensitive))
        return false;
    const QFileInfo file(QDir(rep_actions).filePath(commande));
    return file.isFile() && file.fileName() == commande;
}

QString Traitement::texte_acceptation(const QString &commande)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande + kCrLf
        + QStringLiteral("a bien été lancée par l'automate");
}

QString Traitement::texte_refus(const QString &commande)
{
    return QStringLiteral(" L'action demandée") + kCrLf + commande + kCrLf
        + QStringLiteral("n'a pas été comprise par l'automate") + kCrLf
        + QStringLiteral("vérifiez vos fichiers de clefs ou faites une synchronisation");
}

QString Traitement::texte_echec(const QString &commande, qint32 resultat)
{
    return QStringLiteral(" La commande : ") + kCrLf + commande + kCrLf
        + QStringLiteral("n'a pas pu être lancée par l'automate") + QStringLiteral(" (Erreur ")
        + QString::number(resultat) + u')';
}

void Traitement::ligne_log()
{
    Form1::ajouter(m_form.Text3, journal::horodatage() + QStringLiteral("mail  ")
                                     + m_form.Label10->text() + u' ' + m_form.Label11->text()
                                     + u' ' + m_form.Label12->text() + kCrLf);
}

void Traitement::traite_message()
{
    if (m_sequenceur)
        m_sequenceur->remplit_liste();
    QTreeWidgetItem *selected = m_form.lvwmessages->currentItem();
    if (!selected)
        return;

    const QString numero = selected->text(0);
    // The session's events may empty the list while a call waits: the entry is
    // found again by its place and number, never through this pointer.
    const int index = m_form.lvwmessages->indexOfTopLevelItem(selected);
    // The session writes the archive whole before it gives the mail, so that
    // every judged mail leaves a file. A mail that cannot be archived, or is
    // over the size limit, is left in the mailbox, untouched.
    QDir().mkpath(m_state.rep_archives);
    const QString archive = m_state.rep_archives + nom_archive(QDateTime::currentDateTime());
    m_session.setTailleMaxMail(qint64(m_state.taille_max_mail_mo) * 1024 * 1024);
    const std::optional<Pop3Message> message =
        m_session.FetchMessage(qint16(numero.toInt()), archive);
    if (!message) {
        journal::ecrire_journal(m_state, QStringLiteral("le message ") + numero
                                             + QStringLiteral(" n'a pas été relevé, il reste")
                                             + QStringLiteral(" dans la boite"));
        return; // the session has reported why
    }
    if (!message->illisible.isEmpty()) {
        const QString text = QStringLiteral("message ") + numero + QStringLiteral(" illisible (")
            + message->illisible + QStringLiteral("), archivé dans ") + archive;
        if (m_sequenceur)
            m_sequenceur->erreur(text);
        journal::ecrire_journal(m_state, text);
    }

    m_form.Label8->setText(message->Sender.Address);
    m_form.Label9->setText(message->Subject);
    m_form.Text5->setPlainText(message->Body);
    // The launch result of an earlier mail must not show on this one's lines.
    m_form.Label12->clear();

    if (est_objet_commande(message->Subject)) {
        const ParametresCommande p = extract_param(message->Body);
        m_state.param_commande = p.commande;
        m_state.param_code = p.code;
        m_state.param_ok = p.ok;
        m_form.Label10->setText(p.ok ? p.commande : QString());
        m_form.Label11->setText(p.ok ? p.code : QString());
    } else {
        m_state.param_ok = false;
        m_state.param_commande.clear();
        m_state.param_code.clear();
        m_form.Label10->clear();
        m_form.Label11->clear();
    }
    ligne_log();

    // The code is burnt before anything is launched, whatever happens next.
    const auto verification = key_store::verif_clef(m_state, enleve_blancs(m_state.param_code));
    if (verification != key_store::Verification::Acceptee)
        m_state.param_ok = false;
    if (verification == key_store::Verification::NonEnregistree && m_sequenceur)
        m_sequenceur->erreur(QStringLiteral("le fichier clefs n'a pas pu être réécrit : ")
                             + m_state.fichier_clefs);

    if (m_state.param_ok && !commande_autorisee(m_state.param_commande, m_state.rep_actions))
        m_state.param_ok = false;

    if (m_state.param_ok) {
        const qint32 resultat = m_lanceur(m_state.param_commande, m_state.rep_actions);
        const bool lance = resultat > kLancementReussi;
        m_form.Label12->setText(lance ? QStringLiteral("OK")
                                      : QStringLiteral("Erreur ") + QString::number(resultat));
        ligne_log();
        m_state.reponse_texte = lance ? texte_acceptation(m_state.param_commande)
                                      : texte_echec(m_state.param_commande, resultat);
    } else {
        m_state.reponse_texte = texte_refus(m_state.param_commande);
    }

    if (!journal::ecrire_journal(m_state, m_state.reponse_texte) && m_sequenceur)
        m_sequenceur->erreur(QStringLiteral("le journal n'a pas pu être écrit : ")
                             + m_state.fichier_journal);

    m_state.reponse_objet = QStringLiteral("Re:") + m_form.Label9->text();
    // A mail sent by a machine gets no answer, or two servers could answer each
    // other for ever.
    m_state.reponse_a_envoyer = !message->automatique;
    if (message->automatique && m_sequenceur)
        m_sequenceur->information(QStringLiteral("message automatique de ") + message->Sender.Address
                             + QStringLiteral(" : pas de réponse"));

    m_session.DeleteMessage(numero.toInt());
    QTreeWidgetItem *entry = m_form.lvwmessages->topLevelItem(index);
    if (entry && entry->text(0) == numero)
        delete m_form.lvwmessages->takeTopLevelItem(index);
}
