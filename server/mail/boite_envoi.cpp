#include "server/mail/boite_envoi.h"

#include "common/durable_file.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <atomic>
#include <optional>

namespace {

const QByteArray kMagic("TRAMELON-OUTBOX 1");
const QString kSuffix = QStringLiteral(".reply");
const QString kSetAside = QStringLiteral(".illisible");

QByteArray ligne_entete(const QByteArray &key, const QByteArray &value)
{
    return key + ": " + value + '\n';
}

// The file names sort in the order the replies were composed.
QString nom_fichier(const QDateTime &composed, qint16 numero)
{
    static std::atomic<quint32> serial{0};
    return composed.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmsszzz")) +
           QStringLiteral("-%1-%2").arg(serial++ % 100000, 5, 10, QLatin1Char('0')).arg(numero) +
           kSuffix;
}

std::optional<BoiteEnvoi::Entree> lit_entree(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    const qsizetype end = data.indexOf("\n\n");
    if (!data.startsWith(kMagic + '\n') || end < 0)
        return std::nullopt;
    BoiteEnvoi::Entree entree;
    entree.fichier = path;
    bool numero = false;
    for (const QByteArray &line : data.left(end).split('\n').mid(1)) {
        const qsizetype colon = line.indexOf(": ");
        if (colon < 0)
            return std::nullopt;
        const QByteArray key = line.left(colon);
        const QString value = QString::fromUtf8(line.mid(colon + 2));
        if (key == "numero")
            entree.numero = static_cast<qint16>(value.toInt(&numero));
        else if (key == "composed")
            entree.composee = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == "mail-from")
            entree.mail.mailfrom = value;
        else if (key == "rcpt-to")
            entree.mail.rcptto = value;
    }
    entree.mail.bytes = data.mid(end + 2);
    if (!numero || !entree.composee.isValid() || entree.mail.mailfrom.isEmpty() ||
        entree.mail.rcptto.isEmpty() || entree.mail.bytes.isEmpty())
        return std::nullopt;
    return entree;
}

QString nonRetire(const BoiteEnvoi::Entree &entree)
{
    return QStringLiteral("Réponse n %1 retirée, mais son fichier %2 n'a pu être supprimé")
        .arg(entree.numero)
        .arg(entree.fichier);
}

} // namespace

BoiteEnvoi::BoiteEnvoi(const QString &dossier) : m_dossier(dossier) {}

bool BoiteEnvoi::ajoute(qint16 numero, const ComposedMail &mail, const QDateTime &now,
                        const QString &etiquette)
{
    m_erreur.clear();
    // Line breaks in the envelope would break the record, and the envelope.
    const auto une_ligne = [](const QString &field) {
        return !field.contains(u'\n') && !field.contains(u'\r');
    };
    for (const QString &field : {mail.mailfrom, mail.rcptto}) {
        if (field.isEmpty() || !une_ligne(field) || !une_ligne(etiquette)) {
            m_erreur =
                QStringLiteral("Réponse n %1 non enregistrée : adresse non valide").arg(numero);
            return false;
        }
    }
    QDir dir;
    if (!dir.mkpath(m_dossier)) {
        m_erreur = QStringLiteral("Impossible de créer le dossier des réponses %1").arg(m_dossier);
        return false;
    }
    QFile::setPermissions(m_dossier,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QByteArray record = kMagic + '\n';
    record += ligne_entete("numero", QByteArray::number(numero));
    record += ligne_entete("composed", now.toUTC().toString(Qt::ISODateWithMs).toLatin1());
    record += ligne_entete("mail-from", mail.mailfrom.toUtf8());
    record += ligne_entete("rcpt-to", mail.rcptto.toUtf8());
    if (!etiquette.isEmpty())
        record += ligne_entete("etiquette", etiquette.toUtf8());
    record += '\n';
    record += mail.bytes;

    // The folder is synced with the file: the mail it answers is deleted from
    // the mailbox right after, and a reply lost to a power cut would not come back.
    QString why;
    if (durable::remplacer(QDir(m_dossier).filePath(nom_fichier(now, numero)), record, &why,
                           durable::kProprietaireSeul))
        return true;
    m_erreur =
        QStringLiteral("Réponse n %1 non enregistrée dans %2 : %3").arg(numero).arg(m_dossier, why);
    return false;
}

QList<BoiteEnvoi::Entree> BoiteEnvoi::en_attente()
{
    m_erreur.clear();
    QList<Entree> entrees;
    const QDir dir(m_dossier);
    for (const QString &name :
         dir.entryList({QLatin1Char('*') + kSuffix}, QDir::Files, QDir::Name)) {
        const QString path = dir.filePath(name);
        if (auto entree = lit_entree(path)) {
            entrees.append(*entree);
            continue;
        }
        // One unreadable file must not stop the others nor come back every round.
        // A failed rename leaves it for the next round, which says so again.
        QFile::rename(path, path + kSetAside);
        m_erreur =
            QStringLiteral("Réponse en attente illisible, mise de côté : %1").arg(path + kSetAside);
    }
    return entrees;
}

bool BoiteEnvoi::contient(const QString &etiquette) const
{
    const QByteArray ligne = '\n' + ligne_entete("etiquette", etiquette.toUtf8());
    const QDir dir(m_dossier);
    for (const QString &name : dir.entryList({QLatin1Char('*') + kSuffix}, QDir::Files)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray tete = file.read(4096);
        const qsizetype fin = tete.indexOf("\n\n");
        if (tete.left(fin < 0 ? tete.size() : fin + 1).contains(ligne))
            return true;
    }
    return false;
}

bool BoiteEnvoi::retire(const Entree &entree) { return QFile::remove(entree.fichier); }

BoiteEnvoi::Tour BoiteEnvoi::envoie(SmtpSender &smtp, const QDateTime &now)
{
    Tour round;
    // The send processes window events: a tick meanwhile must not send the
    // same replies a second time.
    if (m_envoi_en_cours)
        return round;
    m_envoi_en_cours = true;
    const auto done = qScopeGuard([this] { m_envoi_en_cours = false; });
    const QList<Entree> entrees = en_attente();
    if (!m_erreur.isEmpty())
        round.lignes.append(m_erreur);
    for (qsizetype i = 0; i < entrees.size(); ++i) {
        const Entree &entree = entrees.at(i);
        if (entree.composee.daysTo(now) >= kDelaiAbandonJours) {
            if (!retire(entree))
                round.lignes.append(nonRetire(entree));
            round.lignes.append(
                QStringLiteral("Réponse n %1 à %2 abandonnée : non envoyée depuis le %3")
                    .arg(entree.numero)
                    .arg(entree.mail.rcptto,
                         entree.composee.toLocalTime().toString(QStringLiteral("dd/MM/yy HH:mm"))));
            continue;
        }
        bool sessionOpened = false;
        const QMetaObject::Connection watch = QObject::connect(
            &smtp, &SmtpSender::ConnectionMade, &smtp, [&sessionOpened] { sessionOpened = true; });
        const bool accepted = smtp.sendcomposed(entree.mail);
        QObject::disconnect(watch);
        if (accepted) {
            ++round.envoyees;
            if (!retire(entree))
                round.lignes.append(nonRetire(entree));
            continue;
        }
        if (smtp.permanentfailure) {
            // Sent again it would be refused again: said once, then dropped.
            if (!retire(entree))
                round.lignes.append(nonRetire(entree));
            round.lignes.append(QStringLiteral("Réponse n %1 à %2 abandonnée : refusée par le "
                                               "serveur SMTP (%3)")
                                    .arg(entree.numero)
                                    .arg(entree.mail.rcptto, smtp.statustext()));
            continue;
        }
        round.lignes.append(
            QStringLiteral("Réponse n %1 à %2 non envoyée (%3), gardée pour un nouvel essai")
                .arg(entree.numero)
                .arg(entree.mail.rcptto, smtp.statustext()));
        if (!sessionOpened) {
            round.restantes += static_cast<int>(entrees.size() - i);
            return round;
        }
        ++round.restantes;
    }
    return round;
}
