// clefs.dat as both programs load it into their key tables.
#include "common/key_file.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString chemin = fuzz::fichier(data, size, "clefs.dat");
    for (const int slots : {103, 201}) {
        QStringList table;
        const std::optional<int> lues = fichier_clefs::charger(chemin, table, slots);
        if (!lues || table.size() != slots || *lues > slots - 1 || !table.first().isEmpty())
            __builtin_trap(); // slot 0 never holds a key; the table keeps its size
    }
    (void)fichier_clefs::lire(chemin, 200);
    return 0;
}
