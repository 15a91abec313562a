#include "server/vmime/sasl_choix.h"

#include <dlfcn.h>
#include <gsasl.h>

namespace {

thread_local const ChoixSasl *t_choix = nullptr;

} // namespace

ChoixSasl::ChoixSasl(Choix choisir) : m_choisir(std::move(choisir)), m_precedent(t_choix)
{
    t_choix = this;
}

ChoixSasl::~ChoixSasl() { t_choix = m_precedent; }

const char *suggestion_en_cours(const std::string &offre, bool *prise)
{
    *prise = t_choix != nullptr;
    return t_choix ? t_choix->m_choisir(offre) : nullptr;
}

// Stands in for GNU SASL's own function, which vmime calls through the
// dynamic linker: the program's definition comes first. Outside a ChoixSasl
// the library's answer is given unchanged.
extern "C" const char *gsasl_client_suggest_mechanism(Gsasl *ctx, const char *mechlist)
{
    bool prise = false;
    const char *choisi = suggestion_en_cours(mechlist ? mechlist : "", &prise);
    if (prise)
        return choisi;
    using Suggestion = const char *(*)(Gsasl *, const char *);
    static const auto bibliotheque =
        reinterpret_cast<Suggestion>(dlsym(RTLD_NEXT, "gsasl_client_suggest_mechanism"));
    return bibliotheque ? bibliotheque(ctx, mechlist) : nullptr;
}
