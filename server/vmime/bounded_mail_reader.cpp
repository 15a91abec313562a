#include "server/vmime/bounded_mail_reader.h"

#include "server/vmime/mail_limits.h"
#include "server/vmime/mail_parser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace lecture_bornee {

namespace {

const QByteArray kDebut = QByteArrayLiteral("tramelon-analyse 1");
const QByteArray kFin = QByteArrayLiteral("fin");
// The answer holds at most the decoded body and the header texts.
constexpr qint64 kTailleSortie = 8LL * 1024 * 1024;
constexpr int kPasAttenteMs = 100;

QByteArray champ(const char *nom, const QByteArray &valeur)
{
    return QByteArray(nom) + ' ' + valeur.toPercentEncoding() + '\n';
}

QByteArray champ(const char *nom, const QString &valeur) { return champ(nom, valeur.toUtf8()); }

// In the child, between fork and exec: system calls only.
void borner(const Bornes &bornes, pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127); // the server died before the line above
    const rlim_t cpu = static_cast<rlim_t>(bornes.secondes_cpu);
    const rlimit temps{cpu, cpu + 1}; // SIGXCPU, then SIGKILL a second later
    ::setrlimit(RLIMIT_CPU, &temps);
    if (kMemoireBornee) {
        const rlimit memoire{static_cast<rlim_t>(bornes.memoire),
                             static_cast<rlim_t>(bornes.memoire)};
        ::setrlimit(RLIMIT_AS, &memoire);
    }
    const rlimit core{0, 0};
    ::setrlimit(RLIMIT_CORE, &core);
    // Sockets, files and pipes of the server close at exec, whoever opened them.
    if (::close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    rlimit fichiers{};
    ::getrlimit(RLIMIT_NOFILE, &fichiers);
    const int dernier = fichiers.rlim_cur == RLIM_INFINITY || fichiers.rlim_cur > 65536
                            ? 65536
                            : static_cast<int>(fichiers.rlim_cur);
    for (int fd = STDERR_FILENO + 1; fd < dernier; ++fd) {
        const int drapeaux = ::fcntl(fd, F_GETFD);
        if (drapeaux >= 0 && !(drapeaux & FD_CLOEXEC))
            ::fcntl(fd, F_SETFD, drapeaux | FD_CLOEXEC);
    }
}

} // namespace

QString programme_par_defaut()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tramelon-analyse");
}

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

Resultat lire(const QString &programme, const QString &chemin, const Bornes &bornes,
              const std::function<bool()> &annule)
{
    QProcess analyse;
    analyse.setProgram(programme);
    analyse.setArguments({chemin});
    analyse.setStandardInputFile(QProcess::nullDevice());
    analyse.setStandardErrorFile(QProcess::nullDevice());
    const pid_t parent = ::getpid();
    analyse.setChildProcessModifier([bornes, parent] { borner(bornes, parent); });
    analyse.start();
    if (!analyse.waitForStarted())
        return {std::nullopt, QStringLiteral("programme de lecture %1 non lancé (%2)")
                                  .arg(programme, analyse.errorString())};

    const QString depasse =
        QStringLiteral("lecture arrêtée au-delà de ses limites (%1 s de calcul, %2 Mo, %3 s)")
            .arg(bornes.secondes_cpu)
            .arg(bornes.memoire / (1024 * 1024))
            .arg(bornes.delai_ms / 1000);
    QElapsedTimer horloge;
    horloge.start();
    while (!analyse.waitForFinished(kPasAttenteMs)) {
        const bool annulee = annule && annule();
        if (annulee || horloge.elapsed() > bornes.delai_ms ||
            analyse.bytesAvailable() > kTailleSortie) {
            analyse.kill();
            analyse.waitForFinished();
            if (annulee)
                return {std::nullopt, QStringLiteral("lecture du message interrompue")};
            return {mis_de_cote(chemin, depasse), {}};
        }
        if (analyse.state() == QProcess::NotRunning)
            break;
    }
    // Past its processor time the kernel kills it (SIGXCPU, then SIGKILL); past
    // its memory vmime's allocation fails and it aborts.
    if (analyse.exitStatus() != QProcess::NormalExit)
        return {mis_de_cote(chemin,
                            depasse +
                                QStringLiteral(", arrêt par le signal %1").arg(analyse.exitCode())),
                {}};
    if (analyse.exitCode() != 0)
        return {std::nullopt, QStringLiteral("relecture impossible")};
    if (std::optional<Pop3Message> mail = decoder(analyse.readAllStandardOutput()))
        return {std::move(mail), {}};
    return {mis_de_cote(chemin, QStringLiteral("lecture sans résultat lisible")), {}};
}

} // namespace lecture_bornee
