// pop3.ini as the server reads it at start-up: every section and key, with
// its cuts, roundings and ranges.
#include "fuzz/fuzz_input.h"
#include "server/frame/config.h"
#include "server/frame/config_expediteurs.h"
#include "server/frame/mail_settings.h"
#include "server/frame/oauth_settings.h"
#include "server/frame/server_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ServerState state;
    state.fichier_ini = fuzz::fichier(data, size, "pop3.ini");
    state.rep_appli = state.fichier_ini.left(state.fichier_ini.lastIndexOf(u'/') + 1);
    MailSettingsFields champs;
    (void)config::charge_config_mail(state, champs);
    const int intervalle = config::charge_config_timer(state, champs);
    if (state.duree_cycle < config::kPlageCycle.min ||
        state.duree_cycle > config::kPlageCycle.max || intervalle < config::kPlageTick.min ||
        intervalle > config::kPlageTick.max)
        __builtin_trap(); // a value out of its range was let through
    (void)config::charge_config_expediteurs(state.fichier_ini);
    (void)oauth2::verifie(oauth2::lire_reglages(state.fichier_ini));
    return 0;
}
