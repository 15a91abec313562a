#include "server/frame/affichage.h"

#include "server/frame/journal.h"

namespace {
constexpr qsizetype kLongueurMaxText3 = 1000;
} // namespace

QString &Affichage::texte(Champ champ)
{
    switch (champ) {
    case Champ::Label4:
        return m_champs.Label4;
    case Champ::Label5:
        return m_champs.Label5;
    case Champ::Label6:
        return m_champs.Label6;
    case Champ::Label7:
        return m_champs.Label7;
    case Champ::Label8:
        return m_champs.Label8;
    case Champ::Label9:
        return m_champs.Label9;
    case Champ::Label10:
        return m_champs.Label10;
    case Champ::Label11:
        return m_champs.Label11;
    case Champ::Label12:
        return m_champs.Label12;
    case Champ::Label14:
        return m_champs.Label14;
    case Champ::Text2:
        return m_champs.Text2;
    case Champ::Text3:
        return m_champs.Text3;
    case Champ::txtstatus:
        return m_champs.txtstatus;
    case Champ::Text5:
        return m_champs.Text5;
    case Champ::sonnette:
        return m_champs.sonnette;
    case Champ::releve:
        return m_champs.releve;
    case Champ::Label1:
    case Champ::lvwmessages:
        break;
    }
    Q_UNREACHABLE();
}

void Affichage::fixer(Champ champ, const QString &valeur)
{
    texte(champ) = valeur;
    Q_EMIT modifie(champ);
}

void Affichage::ajouter(Champ champ, const QString &ajout)
{
    texte(champ) += ajout;
    Q_EMIT ajoute(champ, ajout);
}

void Affichage::allumer(Lampe couleur)
{
    m_champs.Label1 = couleur;
    Q_EMIT modifie(Champ::Label1);
}

void Affichage::fixer_liste(const QList<LigneBoite> &lignes)
{
    m_champs.lvwmessages = lignes;
    Q_EMIT modifie(Champ::lvwmessages);
}

void Affichage::retirer_ligne(qsizetype index)
{
    if (index < 0 || index >= m_champs.lvwmessages.size())
        return;
    m_champs.lvwmessages.removeAt(index);
    Q_EMIT modifie(Champ::lvwmessages);
}

void Affichage::ligne(Niveau niveau, const QString &pour_fenetre, const QString &pour_journal)
{
    if (m_champs.Text3.size() > kLongueurMaxText3)
        vider(Champ::Text3);
    ajouter(Champ::Text3, journal::horodatage(m_horloge()) + pour_fenetre + QStringLiteral("\r\n"));
    Q_EMIT signale(niveau, pour_journal);
}

void Affichage::information(const QString &texte) { ligne(Niveau::Information, texte, texte); }

void Affichage::erreur(const QString &texte)
{
    const QString avec = QStringLiteral("Erreur : ") + texte;
    ligne(Niveau::Erreur, avec, avec);
}

void Affichage::avertissement(const QString &texte) { ligne(Niveau::Avertissement, texte, texte); }

void Affichage::erreur_session(qint16 numero, const QString &description)
{
    ligne(Niveau::Erreur,
          QStringLiteral("Error ") + QString::number(numero) + QStringLiteral(": ") + description,
          QStringLiteral("Erreur POP3 %1 : %2").arg(numero).arg(description));
}
