#include "server/frame/journal.h"

#include "common/ansi_text.h"
#include "common/durable_file.h"

#include <QLocale>

namespace journal {

QString mois(const QDate &date) { return date.toString(QStringLiteral("yyyy-MM")); }

QString chemin_journal(const QString &rep_appli, const QString &mois)
{
    return rep_appli + QStringLiteral("journal_") + mois + QStringLiteral(".txt");
}

void initialise(ServerState &state, const QDateTime &now)
{
    state.mois_courant = mois(now.date());
    state.fichier_journal = chemin_journal(state.rep_appli, state.mois_courant);
    state.mois_journal = state.mois_courant;
}

void verifie_mois(ServerState &state, const QDateTime &now)
{
    state.mois_courant = mois(now.date());
    if (state.mois_courant != state.mois_journal) {
        state.fichier_journal = chemin_journal(state.rep_appli, state.mois_courant);
        state.mois_journal = state.mois_courant;
    }
}

namespace {

bool est_saut_de_ligne(QChar c)
{
    return c == u'\r' || c == u'\n' || c == QChar(0x85) || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

} // namespace

QString sur_une_ligne(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (est_saut_de_ligne(c)) {
            // CR LF is one break, not two.
            if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            if (!result.endsWith(u' '))
                result.append(u' ');
        } else if (c.category() == QChar::Other_Control) {
            result.append(u'?');
        } else {
            result.append(c);
        }
    }
    return result;
}

QString masque_code(const QString &code) { return code.left(2) + u'*'; }

QString ligne_journal(const QStringList &lignes, const QDateTime &now)
{
    QStringList propres;
    propres.reserve(lignes.size());
    for (const QString &ligne : lignes)
        propres.append(sur_une_ligne(ligne));
    // French whatever the process was started with: a service has no LANG, and
    // the journal must read as it does on the operator's desktop. The locale's
    // long time names the time zone on Linux; the journal's readers expect the
    // bare 24-hour time.
    static const QLocale francais(QLocale::French, QLocale::France);
    return francais.toString(now.date(), QLocale::LongFormat) + QStringLiteral(" * ") +
           now.time().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  :   *** ") +
           propres.join(QStringLiteral("\r\n"));
}

bool ecrire_journal(const ServerState &state, const QString &text, const QDateTime &now,
                    QString *error)
{
    return ecrire_journal(state, QStringList{text}, now, error);
}

bool ecrire_journal(const ServerState &state, const QStringList &lignes, const QDateTime &now,
                    QString *error)
{
    // A failed append (a full disk) is cut back, so that no half entry is left
    // for the next one to run into.
    return durable::ajouter(state.fichier_journal,
                            ansi::encode(ligne_journal(lignes, now)) + "\r\n", error);
}

QString horodatage(const QDateTime &now)
{
    return now.toString(QStringLiteral("dd/MM/yy hh:mm:ss "));
}

} // namespace journal
