#include "server/core/oauth/poste_http.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

namespace {

struct Lecture {
    QByteArray corps;
    qint64 tailleMax = 0;
    bool trop_long = false;
    const std::atomic<bool> *annule = nullptr;
    CURL *transfert = nullptr;
};

size_t recevoir(char *octets, size_t taille, size_t nombre, void *donnees)
{
    auto *lecture = static_cast<Lecture *>(donnees);
    const size_t recu = taille * nombre;
    curl_off_t annonce = -1;
    curl_easy_getinfo(lecture->transfert, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &annonce);
    if (annonce > lecture->tailleMax ||
        lecture->corps.size() + static_cast<qint64>(recu) > lecture->tailleMax) {
        lecture->trop_long = true;
        return 0; // ends the transfer here, before anything more is read
    }
    lecture->corps.append(octets, static_cast<qsizetype>(recu));
    return recu;
}

int suivre(void *donnees, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Lecture *>(donnees)->annule->load() ? 1 : 0;
}

} // namespace

ReponseHttp poster_borne(const QUrl &url, const QByteArray &formulaire, int timeoutMs,
                         qint64 tailleMax, const std::atomic<bool> &annule)
{
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    ReponseHttp reponse;
    const QString pasDeReponse = QStringLiteral("pas de réponse de ") + url.host();
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> transfert(curl_easy_init(),
                                                                        curl_easy_cleanup);
    if (!transfert) {
        reponse.echec = QStringLiteral("libcurl ne démarre pas");
        return reponse;
    }
    CURL *c = transfert.get();
    const QByteArray adresse = url.toEncoded();
    curl_slist *entetes = curl_slist_append(nullptr, "Accept: application/json");
    entetes = curl_slist_append(entetes, "Content-Type: application/x-www-form-urlencoded");
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> liberer(entetes,
                                                                              curl_slist_free_all);
    Lecture lecture{{}, tailleMax, false, &annule, c};
    char erreur[CURL_ERROR_SIZE] = {};
    const long secondes = std::max(1L, static_cast<long>(timeoutMs) / 1000);
    curl_easy_setopt(c, CURLOPT_URL, adresse.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, entetes);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, formulaire.constData());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(formulaire.size()));
    curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    // The whole exchange, however slowly the bytes trickle in, and less than
    // a byte a second for that long: either way the endpoint is not answering.
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, secondes);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, recevoir);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &lecture);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, suivre);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &lecture);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, erreur);

    const CURLcode resultat = curl_easy_perform(c);
    long statut = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &statut);
    reponse.statut = static_cast<int>(statut);
    if (lecture.trop_long) {
        reponse.trop_long = true;
        return reponse;
    }
    switch (resultat) {
    case CURLE_OK:
        reponse.corps = std::move(lecture.corps);
        return reponse;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:
        reponse.echec = pasDeReponse;
        break;
    default:
        reponse.echec = QString::fromUtf8(erreur[0] ? erreur : curl_easy_strerror(resultat));
        break;
    }
    reponse.statut = 0; // a broken answer is no answer
    return reponse;
}
