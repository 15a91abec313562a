#include "server/mail/resultats_authentification.h"

#include <optional>

namespace {

enum class Sorte { Mot, Chaine, Point, Egal, PointVirgule, Barre };

struct Jeton {
    Sorte sorte;
    QString texte;             // a quoted string's text without its quotes
    bool espace_avant = false; // blanks or a comment stand before it
};

bool est_blanc(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Splits the value into words and the punctuation of the syntax, skipping
// blanks and (nested) comments. Nothing when a comment or a quoted string is
// never closed.
std::optional<QList<Jeton>> decoupe(const QString &v)
{
    QList<Jeton> jetons;
    bool espace = false;
    qsizetype i = 0;
    const qsizetype n = v.size();
    while (i < n) {
        const QChar c = v.at(i);
        if (est_blanc(c)) {
            espace = true;
            ++i;
        } else if (c == u'(') {
            int profondeur = 0;
            do {
                const QChar d = v.at(i);
                if (d == u'\\')
                    ++i;
                else if (d == u'(')
                    ++profondeur;
                else if (d == u')')
                    --profondeur;
                ++i;
            } while (i < n && profondeur > 0);
            if (profondeur > 0)
                return std::nullopt;
            espace = true;
        } else if (c == u'"') {
            QString texte;
            ++i;
            bool ferme = false;
            while (i < n) {
                QChar d = v.at(i++);
                if (d == u'"') {
                    ferme = true;
                    break;
                }
                if (d == u'\\') {
                    if (i >= n)
                        break;
                    d = v.at(i++);
                }
                texte += d;
            }
            if (!ferme)
                return std::nullopt;
            jetons.append({Sorte::Chaine, texte, espace});
            espace = false;
        } else if (c == u'.' || c == u'=' || c == u';' || c == u'/') {
            const Sorte s = c == u'.'   ? Sorte::Point
                            : c == u'=' ? Sorte::Egal
                            : c == u';' ? Sorte::PointVirgule
                                        : Sorte::Barre;
            jetons.append({s, QString(c), espace});
            espace = false;
            ++i;
        } else {
            const qsizetype debut = i;
            while (i < n) {
                const QChar d = v.at(i);
                if (est_blanc(d) || d == u'(' || d == u'"' || d == u'.' || d == u'=' || d == u';' ||
                    d == u'/')
                    break;
                ++i;
            }
            jetons.append({Sorte::Mot, v.mid(debut, i - debut), espace});
            espace = false;
        }
    }
    return jetons;
}

class Lecteur
{
public:
    explicit Lecteur(const QList<Jeton> &jetons) : m_jetons(jetons) {}

    bool fini() const { return m_pos >= m_jetons.size(); }
    const Jeton *courant() const { return fini() ? nullptr : &m_jetons.at(m_pos); }
    bool est(Sorte s) const { return !fini() && m_jetons.at(m_pos).sorte == s; }
    void avance() { ++m_pos; }
    qsizetype position() const { return m_pos; }
    void revient(qsizetype pos) { m_pos = pos; }

    // A keyword (method, result, property name): one word.
    std::optional<QString> mot()
    {
        if (!est(Sorte::Mot))
            return std::nullopt;
        return m_jetons.at(m_pos++).texte;
    }

    // A value (authserv-id, property value): the words, quoted strings, dots
    // and slashes that follow each other without a blank or a comment between
    // them, so that "example.com", "user@example.com" and "\"a b\"@example.com"
    // come out whole. Empty when none stands here.
    QString valeur()
    {
        QString texte;
        bool premier = true;
        while (!fini()) {
            const Jeton &j = m_jetons.at(m_pos);
            const bool partie = j.sorte == Sorte::Mot || j.sorte == Sorte::Chaine ||
                                j.sorte == Sorte::Point || j.sorte == Sorte::Barre;
            if (!partie || (!premier && j.espace_avant))
                break;
            texte += j.texte;
            premier = false;
            ++m_pos;
        }
        return texte;
    }

private:
    const QList<Jeton> &m_jetons;
    qsizetype m_pos = 0;
};

// method [ "/" version ] "=" result, then properties ("ptype.property=value",
// and the bare "name=value" that "reason" and Microsoft's "action" use), up
// to the next ";" or the end.
std::optional<ResultatMethode> lire_resultat(Lecteur &l)
{
    ResultatMethode r;
    const auto methode = l.mot();
    if (!methode)
        return std::nullopt;
    r.methode = methode->toLower();
    if (l.est(Sorte::Barre)) {
        l.avance();
        if (!l.mot())
            return std::nullopt;
    }
    if (!l.est(Sorte::Egal))
        return std::nullopt;
    l.avance();
    const auto resultat = l.mot();
    if (!resultat)
        return std::nullopt;
    r.resultat = resultat->toLower();
    while (!l.fini() && !l.est(Sorte::PointVirgule)) {
        const auto nom = l.mot();
        if (!nom)
            return std::nullopt;
        QString cle = nom->toLower();
        if (l.est(Sorte::Point)) {
            l.avance();
            const auto propriete = l.mot();
            if (!propriete)
                return std::nullopt;
            cle += u'.' + propriete->toLower();
        }
        if (!l.est(Sorte::Egal))
            return std::nullopt;
        l.avance();
        r.proprietes.append({cle, l.valeur()});
    }
    return r;
}

} // namespace

QString ResultatMethode::propriete(const QString &nom) const
{
    for (const auto &p : proprietes)
        if (p.first == nom)
            return p.second;
    return {};
}

ResultatsAuthentification lire_resultats_authentification(const QByteArray &valeur)
{
    ResultatsAuthentification resultats;
    const auto jetons = decoupe(QString::fromUtf8(valeur));
    if (!jetons)
        return resultats;
    Lecteur l(*jetons);

    // A first word followed by "=" or "/" is a method: no authserv-id.
    const qsizetype depart = l.position();
    resultats.serveur = l.valeur();
    if (l.est(Sorte::Egal) || l.est(Sorte::Barre)) {
        l.revient(depart);
        resultats.serveur.clear();
        resultats.sans_serveur = true;
    } else {
        if (resultats.serveur.isEmpty())
            return resultats;
        // An optional version after the authserv-id.
        if (const Jeton *j = l.courant(); j && j->sorte == Sorte::Mot && j->espace_avant) {
            bool nombre = false;
            j->texte.toUInt(&nombre);
            if (!nombre)
                return resultats;
            l.avance();
        }
        if (!l.fini() && !l.est(Sorte::PointVirgule))
            return resultats;
    }

    bool premier = resultats.sans_serveur;
    while (!l.fini()) {
        if (!premier) {
            if (!l.est(Sorte::PointVirgule))
                return resultats;
            l.avance();
        }
        premier = false;
        // Empty items, as a trailing ";" leaves, and the "none" of a server
        // that checked nothing.
        if (l.fini() || l.est(Sorte::PointVirgule))
            continue;
        if (const Jeton *j = l.courant();
            j->sorte == Sorte::Mot && j->texte.compare(u"none", Qt::CaseInsensitive) == 0) {
            const qsizetype avant = l.position();
            l.avance();
            if (l.fini() || l.est(Sorte::PointVirgule))
                continue;
            l.revient(avant);
        }
        const auto resultat = lire_resultat(l);
        if (!resultat)
            return {}; // the results read before the fault must not count either
        resultats.resultats.append(*resultat);
    }
    resultats.lisible = true;
    return resultats;
}
