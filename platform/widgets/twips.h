#pragma once

#include <QAbstractButton>
#include <QFont>
#include <QFontMetrics>
#include <QStringList>
#include <QStringView>
#include <QWidget>

// Window geometry is kept in twips as the forms were drawn; 15 twips make a pixel.
constexpr int twips(int t) { return t / 15; }

inline void placer(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

inline void nommer_et_placer(QWidget *w, QStringView name, int left, int top, int width, int height)
{
    w->setObjectName(name.toString());
    placer(w, left, top, width, height);
}

// Fonts whose letters are as wide as those of the Windows sans serif the forms
// were drawn with (Liberation Sans and Arimo share Arial's widths), so captions
// keep their size instead of wrapping or shrinking.
inline QStringList familles_etroites()
{
    return {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Arial")};
}

// The forms' captions: "MS Sans Serif" bold, 9.75 points unless said otherwise;
// where it is missing, a font of the same widths before the system's own.
inline QFont police_formulaire(double points = 9.75, bool gras = true)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies(QStringList{QStringLiteral("MS Sans Serif")} + familles_etroites());
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(gras);
    return font;
}

// The forms were drawn for the narrow fonts of Windows. Where the system's font is
// wider, a caption that does not fit goes on two lines when the button is tall
// enough, and gets a smaller size until it fits, rather than being cut.
inline void ajuster_boutons(QWidget *window)
{
    constexpr int kMarge = 20; // the frame and padding a button takes around its caption
    constexpr double kLisible = 8;
    constexpr double kMinimum = 6;
    auto largeur = [](const QFont &font, const QString &text) {
        int widest = 0;
        for (const QString &line : text.split(u'\n'))
            widest = qMax(widest, QFontMetrics(font).horizontalAdvance(line));
        return widest;
    };
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        QFont font = button->font();
        QString text = button->text();
        const int place = button->width() - kMarge;
        const qsizetype middle = text.size() / 2;
        const qsizetype before = text.lastIndexOf(u' ', middle);
        const qsizetype after = text.indexOf(u' ', middle);
        const qsizetype blank =
            (before < 0 || (after >= 0 && after - middle < middle - before)) ? after : before;
        // One line as long as a readable size will do, two lines otherwise.
        const QFont original = font;
        while (font.pointSizeF() > kLisible && largeur(font, text) > place)
            font.setPointSizeF(font.pointSizeF() - 0.25);
        if (largeur(font, text) > place && blank > 0 &&
            2 * QFontMetrics(original).lineSpacing() + kMarge / 2 <= button->height()) {
            text[blank] = u'\n';
            font = original;
        }
        while (font.pointSizeF() > kMinimum && largeur(font, text) > place)
            font.setPointSizeF(font.pointSizeF() - 0.25);
        button->setFont(font);
        button->setText(text);
    }
}
