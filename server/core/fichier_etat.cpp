#include "server/core/fichier_etat.h"

#include "common/durable_file.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>

namespace fichier_etat {

namespace {
// The file is a few lines; anything longer is not ours.
constexpr qint64 kTailleMax = 4096;

bool processus_vivant(qint64 pid)
{
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
} // namespace

QString chemin(const QString &rep_appli) { return rep_appli + QStringLiteral("etat.txt"); }

QString contenu(const EtatReleve &etat, qint64 pid)
{
    return etat.texte() + u'\n' +
           QStringLiteral("écrit le %1 par le processus %2\n")
               .arg(etat.maintenant.toString(QStringLiteral("dd/MM/yyyy à HH:mm:ss")))
               .arg(pid);
}

bool ecrire(const QString &rep_appli, const EtatReleve &etat, QString *erreur)
{
    return durable::remplacer(chemin(rep_appli),
                              contenu(etat, QCoreApplication::applicationPid()).toUtf8(), erreur);
}

std::optional<QString> lire(const QString &rep_appli, QString *erreur)
{
    QFile fichier(chemin(rep_appli));
    if (!fichier.open(QIODevice::ReadOnly)) {
        *erreur = QStringLiteral("pas d'état dans %1 (%2) : le serveur n'y a pas encore fini de "
                                 "cycle")
                      .arg(fichier.fileName(), fichier.errorString());
        return std::nullopt;
    }
    QString texte = QString::fromUtf8(fichier.read(kTailleMax));
    static const QRegularExpression processus(QStringLiteral("par le processus (\\d+)"));
    const QRegularExpressionMatch trouve = processus.match(texte);
    if (!trouve.hasMatch() || !processus_vivant(trouve.captured(1).toLongLong()))
        texte += QStringLiteral("ce processus ne tourne plus : l'état ci-dessus est le dernier "
                                "qu'il a écrit\n");
    return texte;
}

} // namespace fichier_etat
