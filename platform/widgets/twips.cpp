#include "platform/widgets/twips.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QPushButton>
#include <QStyle>

namespace {

int largeur(const QFont &font, const QString &text)
{
    int widest = 0;
    for (const QString &line : text.split(u'\n'))
        widest = qMax(widest, QFontMetrics(font).horizontalAdvance(line));
    return widest;
}

// What the style takes across a button besides its caption: frame and padding,
// or a check box's indicator and spacing.
int marge(QAbstractButton *button)
{
    constexpr int kArrondi = 2;
    if (qobject_cast<QPushButton *>(button)) {
        const QStyle *style = button->style();
        return style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
               2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button) + kArrondi;
    }
    return button->sizeHint().width() - largeur(button->font(), button->text()) + kArrondi;
}

// The blank nearest the middle of a caption, or -1.
qsizetype blanc_du_milieu(const QString &text)
{
    const qsizetype middle = text.size() / 2;
    const qsizetype before = text.lastIndexOf(u' ', middle);
    const qsizetype after = text.indexOf(u' ', middle);
    return (before < 0 || (after >= 0 && after - middle < middle - before)) ? after : before;
}

} // namespace

void ajuster_boutons(QWidget *window)
{
    constexpr int kMargeVerticale = 10;
    constexpr double kMinimum = 6;
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        QFont font = button->font();
        QString text = button->text();
        const int place = button->width() - marge(button);
        const qsizetype blank = blanc_du_milieu(text);
        if (largeur(font, text) > place && blank > 0 &&
            2 * QFontMetrics(font).lineSpacing() + kMargeVerticale <= button->height())
            text[blank] = u'\n';
        while (font.pointSizeF() > kMinimum && largeur(font, text) > place)
            font.setPointSizeF(font.pointSizeF() - 0.25);
        button->setFont(font);
        button->setText(text);
    }
}
