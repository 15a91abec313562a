#include "server/frame/config.h"

#include "common/blancs.h"
#include "platform/private_profile.h"
#include "server/frame/oauth_settings.h"

#include <cfenv>
#include <cmath>

namespace config {

namespace {

QString lire(const QString &section, const QString &key, const QString &defaut, const QString &file,
             int size = kTailleLecture)
{
    return texte_avant_nul(platform::GetPrivateProfileString(section, key, defaut, size, file));
}

bool ecrire(const QString &section, const QString &key, const QString &value, const QString &file)
{
    // A file that cannot be written keeps its old lines whole; the new values
    // still apply to the running server, and the caller says the file is stale.
    return platform::WritePrivateProfileString(section, key, value, file);
}

// A number as the program reads it; when that is not the number written (out
// of range, rounded, not a number) the setting is recorded as corrected.
int lire_nombre_note(ServerState &state, const char *section, const char *key, const char *defaut,
                     Plage plage)
{
    const QString texte = lire(section, key, defaut, state.fichier_ini);
    const int valeur = lire_nombre(texte, plage);
    bool entier = false;
    const int ecrit = texte.trimmed().toInt(&entier);
    if (!entier || ecrit != valeur)
        state.reglages_corriges.append(QStringLiteral("%1=%2 lu comme %3 (de %4 à %5)")
                                           .arg(QLatin1String(key), texte)
                                           .arg(valeur)
                                           .arg(plage.min)
                                           .arg(plage.max));
    return valeur;
}

// A choice between a few words: any other is read as the first one.
QString lire_choix(ServerState &state, const char *key, const QStringList &choix)
{
    const QString texte = lire("mail", key, QString(), state.fichier_ini);
    if (texte.isEmpty() || choix.contains(texte))
        return texte.isEmpty() ? choix.first() : texte;
    state.reglages_corriges.append(
        QStringLiteral("%1=%2 lu comme %3 (%4)")
            .arg(QLatin1String(key), texte, choix.first(), choix.join(QStringLiteral(" ou "))));
    return choix.first();
}

} // namespace

QString texte_avant_nul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

int lire_nombre(const QString &text, Plage plage)
{
    qsizetype i = 0;
    while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t'))
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        ++i;
    while (i < text.size() && text.at(i).isDigit())
        ++i;
    if (i < text.size() && text.at(i) == u'.') {
        ++i;
        while (i < text.size() && text.at(i).isDigit())
            ++i;
    }
    bool ok = false;
    double value = text.mid(start, i - start).toDouble(&ok);
    if (!ok)
        value = 0;
    // Halves go to the even neighbour: 120.5 gives 120, 121.5 gives 122.
    std::fesetround(FE_TONEAREST);
    value = std::nearbyint(value);
    if (value < plage.min)
        return plage.min;
    if (value > plage.max)
        return plage.max;
    return int(value);
}

bool charge_config_mail(ServerState &state, MailSettingsFields &fields)
{
    const QString &ini = state.fichier_ini;
    state.nom_serveur_smtp =
        lire("mail", "serveur_smtp", QStringView(kServeurDefaut).toString(), ini);
    fields.serveur_mail = state.nom_serveur_smtp;
    state.nom_serveur_pop =
        lire("mail", "serveur_pop", QStringView(kServeurDefaut).toString(), ini);
    fields.serveur_pop = state.nom_serveur_pop;
    state.adresse_reponse =
        lire("mail", "repondre", QStringView(kAdresseReponseDefaut).toString(), ini);
    fields.repondre_a = state.adresse_reponse;
    state.reglages_corriges.clear();
    fields.auth_smtp = lire_choix(state, "authentification",
                                  {QStringLiteral("off"), QStringLiteral("on")}) == u"on";
    state.auth_smtp = fields.auth_smtp;
    state.login_pop = lire("mail", "login", QStringView(kLoginDefaut).toString(), ini);
    fields.login = state.login_pop;
    state.pass_pop = lire("mail", "pass", QStringView(kLoginDefaut).toString(), ini);
    fields.Password = state.pass_pop;
    fields.connexion_oauth2 = lire_choix(state, "connexion",
                                         {QStringView(oauth2::kConnexionMotDePasse).toString(),
                                          QStringView(oauth2::kConnexionOAuth2).toString()}) ==
                              QStringView(oauth2::kConnexionOAuth2);
    // Not in the dialog: the doorbell is set once in the file, if ever.
    state.nom_serveur_imap = enleve_blancs(lire("mail", "serveur_imap", QString(), ini));
    fields.serveur_imap = state.nom_serveur_imap;
    // Not in the dialog: a limit an administrator sets once, if ever.
    state.taille_max_mail_mo =
        lire_nombre_note(state, "mail", "taille_max_mo", "50", kPlageTailleMail);
    return adresse_reponse_configuree(state.adresse_reponse);
}

bool adresse_reponse_configuree(const QString &adresse)
{
    const QString nettoyee = enleve_blancs(adresse);
    return !nettoyee.isEmpty() && nettoyee != QStringView(kAdresseReponseDefaut);
}

int charge_config_timer(ServerState &state, MailSettingsFields &fields)
{
    const QString &ini = state.fichier_ini;
    const int tick = lire_nombre_note(state, "TIMER", "compteur1", "1000", kPlageTick);
    state.duree_cycle = qint16(lire_nombre_note(state, "TIMER", "relance", "300", kPlageCycle));
    fields.duree = QString::number(state.duree_cycle);
    state.rep_actions =
        lire("PATH", "repertoire_commande", state.rep_appli, ini, kTailleLectureChemin);
    // Anchored at the program's folder, whatever folder the server was started from.
    state.rep_archives = state.rep_appli + QStringLiteral("arch_messages/");
    state.fichier_clefs = state.rep_appli + QStringLiteral("clefs.dat");
    return tick;
}

bool sauve_config_mail(ServerState &state, MailSettingsFields &fields)
{
    const QString &ini = state.fichier_ini;
    bool ecrit = true;
    ecrit &= ecrire("mail", "serveur_smtp", fields.serveur_mail, ini);
    state.nom_serveur_smtp = enleve_blancs(fields.serveur_mail);
    ecrit &= ecrire("mail", "serveur_pop", fields.serveur_pop, ini);
    state.nom_serveur_pop = enleve_blancs(fields.serveur_pop);
    ecrit &= ecrire("mail", "repondre", fields.repondre_a, ini);
    state.adresse_reponse = enleve_blancs(fields.repondre_a);
    ecrit &= ecrire("mail", "authentification", fields.auth_smtp ? "on" : "off", ini);
    state.auth_smtp = fields.auth_smtp;
    state.login_pop = enleve_blancs(fields.login);
    ecrit &= ecrire("mail", "login", state.login_pop, ini);
    state.pass_pop = enleve_blancs(fields.Password);
    ecrit &= ecrire("mail", "pass", state.pass_pop, ini);
    // Written once OAuth 2.0 was chosen: a file that never had it stays as it was.
    if (fields.connexion_oauth2 || !lire("mail", "connexion", QString(), ini).isEmpty())
        ecrit &= ecrire("mail", "connexion",
                        QStringView(fields.connexion_oauth2 ? oauth2::kConnexionOAuth2
                                                            : oauth2::kConnexionMotDePasse)
                            .toString(),
                        ini);

    const int duree = lire_nombre(enleve_blancs(fields.duree), kPlageCycle);
    fields.duree = QString::number(duree);
    ecrit &= ecrire("TIMER", "relance", fields.duree, ini);
    state.duree_cycle = qint16(duree);
    // The next tick then ends the current cycle.
    if (state.etape_sequenceur >= state.duree_cycle)
        state.etape_sequenceur = qint16(state.duree_cycle - 1);
    return ecrit;
}

} // namespace config
