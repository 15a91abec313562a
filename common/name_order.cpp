#include "common/name_order.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

namespace ordre_noms {

namespace {

QCollator collateur()
{
    QCollator collator{QLocale(QLocale::French, QLocale::France)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator;
}

} // namespace

bool avant(const QString &a, const QString &b)
{
    // QCollator is not safe to share between threads; one per thread is cheap.
    thread_local const QCollator collator = collateur();
    const int order = collator.compare(a, b);
    // Names equal but for case (both may exist on this system) keep one fixed
    // order, so that a listing never changes from one run to the next.
    return order != 0 ? order < 0 : a < b;
}

void trier(QStringList &noms) { std::sort(noms.begin(), noms.end(), avant); }

} // namespace ordre_noms
