#include "server/vmime/bounded_mail_reader.h"

#include "server/vmime/lecteur_borne.h"
#include "server/vmime/mail_limits.h"
#include "server/vmime/mail_parser.h"

#include <QFile>

#include <sys/wait.h>

namespace lecture_bornee {

namespace {

const QByteArray kDebut = QByteArrayLiteral("lecture 1");
const QByteArray kFin = QByteArrayLiteral("fin");
// The answer holds at most the decoded body and the header texts.
constexpr qint64 kTailleSortie = 8LL * 1024 * 1024;

QByteArray champ(const char *nom, const QByteArray &valeur)
{
    return QByteArray(nom) + ' ' + valeur.toPercentEncoding() + '\n';
}

QByteArray champ(const char *nom, const QString &valeur) { return champ(nom, valeur.toUtf8()); }

} // namespace

QByteArray encoder(const Pop3Message &mail)
{
    QByteArray sortie = kDebut + '\n';
    sortie += champ("Subject", mail.Subject);
    sortie += champ("Body", mail.Body);
    sortie += champ("Sender", mail.Sender.Address);
    sortie += champ("automatique", QByteArray(mail.Automatic ? "1" : "0"));
    sortie += champ("raison_automatique", mail.AutomaticReason);
    sortie += champ("raison_sans_adresse", mail.NoAddressReason);
    sortie += champ("MessageId", mail.MessageId);
    for (const QByteArray &reference : mail.References)
        sortie += champ("References", reference);
    sortie += champ("illisible", mail.Unreadable);
    sortie += champ("AuthenticationResults", mail.AuthenticationResults);
    sortie += champ("FromDomain", mail.FromDomain);
    return sortie + kFin + '\n';
}

bool reponse_entiere(const QByteArray &sortie) { return sortie.endsWith('\n' + kFin + '\n'); }

std::optional<Pop3Message> decoder(const QByteArray &sortie)
{
    QList<QByteArray> lignes = sortie.split('\n');
    if (lignes.size() < 3 || lignes.first() != kDebut || !lignes.last().isEmpty() ||
        lignes.at(lignes.size() - 2) != kFin)
        return std::nullopt;
    Pop3Message mail;
    for (qsizetype i = 1; i < lignes.size() - 2; ++i) {
        const QByteArray &ligne = lignes.at(i);
        const qsizetype blanc = ligne.indexOf(' ');
        if (blanc < 0)
            return std::nullopt;
        const QByteArray nom = ligne.left(blanc);
        const QByteArray octets = QByteArray::fromPercentEncoding(ligne.mid(blanc + 1));
        const QString texte = QString::fromUtf8(octets);
        if (nom == "Subject")
            mail.Subject = texte;
        else if (nom == "Body")
            mail.Body = texte;
        else if (nom == "Sender")
            mail.Sender.Address = texte;
        else if (nom == "automatique")
            mail.Automatic = octets == "1";
        else if (nom == "raison_automatique")
            mail.AutomaticReason = texte;
        else if (nom == "raison_sans_adresse")
            mail.NoAddressReason = texte;
        else if (nom == "MessageId")
            mail.MessageId = octets;
        else if (nom == "References")
            mail.References.append(octets);
        else if (nom == "illisible")
            mail.Unreadable = texte;
        else if (nom == "AuthenticationResults")
            mail.AuthenticationResults = octets;
        else if (nom == "FromDomain")
            mail.FromDomain = texte;
        else
            return std::nullopt;
    }
    return mail;
}

Pop3Message mis_de_cote(const QString &chemin, const QString &raison)
{
    Pop3Message mail;
    QFile file(chemin);
    if (file.open(QIODevice::ReadOnly)) {
        if (const std::optional<QByteArray> head = mail_limits::entete(file))
            mail = parse_mail_head(*head);
    }
    mail.Unreadable = raison;
    return mail;
}

Resultat lire(const QString &chemin, const Bornes &bornes, const std::function<bool()> &annule)
{
    const Issue issue = faire_lire(chemin, bornes, kTailleSortie, annule);
    Resultat resultat;
    resultat.panne = issue.panne;
    const QString depasse =
        QStringLiteral("lecture arrêtée au-delà de ses limites (%1 s de calcul, %2 Mo, %3 s)")
            .arg(bornes.secondes_cpu)
            .arg(bornes.memoire / (1024 * 1024))
            .arg(bornes.delai_ms / 1000);
    switch (issue.fin) {
    case Issue::Fin::Impossible:
        resultat.echec = issue.echec;
        return resultat;
    case Issue::Fin::Annulee:
        resultat.echec = QStringLiteral("lecture du message interrompue");
        return resultat;
    case Issue::Fin::Depassee:
        resultat.mail = mis_de_cote(chemin, depasse);
        return resultat;
    case Issue::Fin::Terminee:
        break;
    }
    // Past its processor time the kernel kills it (SIGXCPU, then SIGKILL); past
    // its memory vmime's allocation fails and it aborts.
    if (WIFSIGNALED(issue.statut))
        resultat.mail = mis_de_cote(
            chemin,
            depasse + QStringLiteral(", arrêt par le signal %1").arg(WTERMSIG(issue.statut)));
    else if (!WIFEXITED(issue.statut) || WEXITSTATUS(issue.statut) != 0)
        resultat.echec = QStringLiteral("relecture impossible");
    else if (std::optional<Pop3Message> mail = decoder(issue.sortie))
        resultat.mail = std::move(mail);
    else
        resultat.mail = mis_de_cote(chemin, QStringLiteral("lecture sans résultat lisible"));
    return resultat;
}

} // namespace lecture_bornee
