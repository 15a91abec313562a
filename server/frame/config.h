#pragma once

#include "server/frame/mail_settings.h"
#include "server/frame/server_state.h"

#include <QString>

// Reading and saving pop3.ini. Values longer than the read limits are cut,
// numbers are rounded (halves to even) and kept within their range.
namespace config {

inline constexpr char16_t kServeurDefaut[] = u"192.168.1.10";
// Stands for a reply address not configured yet: the server does not poll while
// the setting still holds it. ".invalid" can never be a real mail domain.
inline constexpr char16_t kAdresseReponseDefaut[] = u"tramelon@reponse-a-configurer.invalid";
inline constexpr char16_t kLoginDefaut[] = u"marigolds";

inline constexpr int kTailleLecture = 64;        // at most 63 characters read
inline constexpr int kTailleLectureChemin = 128; // at most 127 for the actions directory

struct Plage {
    int min;
    int max;
};
inline constexpr Plage kPlageTick{1000, 60000};
inline constexpr Plage kPlageCycle{60, 3600};
inline constexpr Plage kPlageTailleMail{1, 2000}; // MB

QString texte_avant_nul(const QString &text);

// The leading decimal number of a text (blanks skipped; no number counts as 0),
// rounded with halves to even, then brought within the range.
int lire_nombre(const QString &text, Plage plage);

// Section "mail": empties reglages_corriges, which this and
// charge_config_timer fill with the values read otherwise than written.
// Section "mail": fills the state and the dialog's fields (and taille_max_mo,
// the largest mail fetched, in MB, 50 unless set). True when the reply
// address is configured, that is when polling may start.
bool charge_config_mail(ServerState &state, MailSettingsFields &fields);

// Polling waits until replies have an address to go from: not empty (blanks
// aside), and not the stand-in of a setting never made.
bool adresse_reponse_configuree(const QString &adresse);

// Sections "TIMER" and "PATH": returns the tick interval in milliseconds; sets
// duree_cycle, the duree field, rep_actions, rep_archives and fichier_clefs.
int charge_config_timer(ServerState &state, MailSettingsFields &fields);

// Saves the dialog's fields, applies them to the state and keeps the sequencer
// step below a shortened cycle. The duree field is rewritten as saved. False
// when pop3.ini could not be rewritten (a full disk): the values apply all the
// same, and the file keeps its former lines whole.
bool sauve_config_mail(ServerState &state, MailSettingsFields &fields);

} // namespace config
