// The wizard's look, shared by its windows: geometry in twips, the Tahoma and
// Verdana fonts, the white header and footer bands, the light-yellow hint
// box, the blue " [ ? ]" help links and the small 16 x 16 pictures.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

#include <string>

#include "engine/wizard/layout.h"

namespace tavrin::ui {

// 15 twips make one pixel at 96 dots per inch. Qt scales the pixels for
// high-DPI screens, so every window is laid out in these fixed pixels.
constexpr int Px(int twips) { return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15); }
inline QRect Tw(const wizard::Twips& t) { return QRect(Px(t.left), Px(t.top), Px(t.width), Px(t.height)); }

// Registers the Tahoma that Debian's fonts-wine package carries, when it is
// there, and names close stand-ins for Tahoma and Verdana otherwise. Returns
// true when a real Tahoma is available.
bool LoadWizardFonts();
// A font of the wizard at its size in points at 96 dots per inch (the size
// is set in pixels, so that text and the pixel layout scale together).
QFont Font(const wizard::FontSpec& font);
// A colour of the layout (0xRRGGBB).
inline QColor Colour(unsigned rgb) { return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// A filled rectangle with a one-pixel border: the header and footer bands
// and the hint box. It is placed behind the controls drawn on it.
class Band : public QWidget {
public:
    Band(QWidget* parent, const QRect& geometry, const QColor& fill);
    QColor fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor fill_;
};

// A help link: a label with a pointing-hand pointer; clicking it emits
// clicked().
class HelpLink : public QLabel {
    Q_OBJECT
public:
    explicit HelpLink(QWidget* parent);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

// The pictures of the windows and the list.
QPixmap PicturePixmap(wizard::Picture p);
// The application icon (16 x 16 and 32 x 32).
QIcon AppIcon();

// Raises a top-level window and gives it the focus (the offscreen
// platform has no window stack, so nothing is asked of it there).
void BringToFront(QWidget* window);

// A caption with one "&" per literal ampersand as Qt's group frames and
// buttons need it ("&&" draws one "&").
QString EscapeAmpersands(const QString& text);

}  // namespace tavrin::ui
