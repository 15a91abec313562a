#include "server/frame/signalement.h"

#include "server/frame/affichage.h"
#include "server/frame/journal.h"

Signalement::Signalement(const ServerState &state, Affichage &affichage, Horloge horloge)
    : m_state(state), m_affichage(affichage), m_horloge(std::move(horloge))
{
}

void Signalement::erreur(const QString &texte) const
{
    m_affichage.erreur(texte);
    journal(texte);
}

void Signalement::information(const QString &texte) const
{
    m_affichage.information(texte);
    journal(texte);
}

void Signalement::avertissement(const QString &texte) const
{
    m_affichage.avertissement(texte);
    journal(texte);
}

void Signalement::journal(const QString &texte) const { journal(QStringList{texte}); }

void Signalement::journal(const QStringList &lignes) const
{
    // Said in the log only: a journal entry about the journal would fail the same way.
    if (!journal::ecrire_journal(m_state, lignes, m_horloge()))
        m_affichage.erreur(QStringLiteral("le journal n'a pas pu être écrit : ") +
                           m_state.fichier_journal);
}
