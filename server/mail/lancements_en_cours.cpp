#include "server/mail/lancements_en_cours.h"

#include "common/durable_file.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kVersion = QStringLiteral("TRAMELON-LANCEMENTS 1");

QJsonObject vers_json(const LancementEnCours &l)
{
    QJsonArray references;
    for (const QByteArray &r : l.references)
        references.append(QString::fromLatin1(r));
    return {
        {QStringLiteral("id"), l.id},
        {QStringLiteral("pid"), l.pid},
        {QStringLiteral("debut_processus"), l.debut_processus},
        {QStringLiteral("debut"), l.debut.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("commande"), l.commande},
        {QStringLiteral("sortie"), l.sortie},
        {QStringLiteral("duree_max"), l.duree_max},
        {QStringLiteral("resultat"), l.avec_resultat},
        {QStringLiteral("expediteur"), l.expediteur},
        {QStringLiteral("objet"), l.objet},
        {QStringLiteral("numero"), l.numero},
        {QStringLiteral("message_id"), QString::fromLatin1(l.message_id)},
        {QStringLiteral("references"), references},
    };
}

LancementEnCours depuis_json(const QJsonObject &o)
{
    LancementEnCours l;
    l.id = o.value(QStringLiteral("id")).toString();
    l.pid = o.value(QStringLiteral("pid")).toInteger();
    l.debut_processus = o.value(QStringLiteral("debut_processus")).toString();
    l.debut = QDateTime::fromString(o.value(QStringLiteral("debut")).toString(), Qt::ISODateWithMs);
    l.commande = o.value(QStringLiteral("commande")).toString();
    l.sortie = o.value(QStringLiteral("sortie")).toString();
    l.duree_max = o.value(QStringLiteral("duree_max")).toInt();
    l.avec_resultat = o.value(QStringLiteral("resultat")).toBool();
    l.expediteur = o.value(QStringLiteral("expediteur")).toString();
    l.objet = o.value(QStringLiteral("objet")).toString();
    l.numero = qint16(o.value(QStringLiteral("numero")).toInt());
    l.message_id = o.value(QStringLiteral("message_id")).toString().toLatin1();
    for (const QJsonValue &r : o.value(QStringLiteral("references")).toArray())
        l.references.append(r.toString().toLatin1());
    return l;
}

} // namespace

LancementsEnCours::LancementsEnCours(QString chemin) : m_chemin(std::move(chemin)) {}

bool LancementsEnCours::charger(QString *erreur)
{
    m_entrees.clear();
    QFile file(m_chemin);
    if (!file.exists())
        return true;
    QJsonParseError analyse{};
    const QJsonDocument doc = file.open(QIODevice::ReadOnly)
                                  ? QJsonDocument::fromJson(file.readAll(), &analyse)
                                  : QJsonDocument();
    file.close();
    const QJsonObject racine = doc.object();
    if (analyse.error != QJsonParseError::NoError || !doc.isObject() ||
        racine.value(QStringLiteral("version")).toString() != kVersion) {
        // Left in place it would be lost at the next launch, which rewrites it.
        QFile::rename(m_chemin, m_chemin + QStringLiteral(".illisible"));
        *erreur = QStringLiteral("liste des commandes en cours illisible, mise de côté : ") +
                  m_chemin + QStringLiteral(".illisible");
        return false;
    }
    for (const QJsonValue &v : racine.value(QStringLiteral("lancements")).toArray()) {
        const LancementEnCours l = depuis_json(v.toObject());
        if (!l.id.isEmpty())
            m_entrees.append(l);
    }
    return true;
}

bool LancementsEnCours::ecrire(const LancementEnCours &lancement, QString *erreur)
{
    for (LancementEnCours &l : m_entrees) {
        if (l.id == lancement.id) {
            l = lancement;
            return sauver(erreur);
        }
    }
    m_entrees.append(lancement);
    return sauver(erreur);
}

bool LancementsEnCours::retirer(const QString &id, QString *erreur)
{
    const auto avant = m_entrees.size();
    m_entrees.removeIf([&id](const LancementEnCours &l) { return l.id == id; });
    return m_entrees.size() == avant || sauver(erreur);
}

bool LancementsEnCours::sauver(QString *erreur) const
{
    QJsonArray lancements;
    for (const LancementEnCours &l : m_entrees)
        lancements.append(vers_json(l));
    const QJsonObject racine{{QStringLiteral("version"), kVersion},
                             {QStringLiteral("lancements"), lancements}};
    return durable::remplacer(m_chemin, QJsonDocument(racine).toJson(QJsonDocument::Indented),
                              erreur, durable::kProprietaireSeul);
}
