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

namespace tavrin::ui {

// 15 twips make one pixel at 96 dots per inch. Qt scales the pixels for
// high-DPI screens, so every window is laid out in these fixed pixels.
constexpr int Px(int twips) { return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15); }
inline QRect Tw(int left, int top, int width, int height) {
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

// Registers the Tahoma that Debian's fonts-wine package carries, when it is
// there, and names close stand-ins for Tahoma and Verdana otherwise. Returns
// true when a real Tahoma is available.
bool LoadWizardFonts();
// A font of the wizard at a size in points at 96 dots per inch (the size
// is set in pixels, so that text and the pixel layout scale together).
QFont Tahoma(double points, bool bold = false);
QFont Verdana(double points, bool bold = false);

inline const QColor kBandBorder(192, 192, 192);
inline const QColor kHintYellow(255, 255, 192);
inline const QColor kLinkBlue(0, 0, 255);
inline const QColor kTitleGreen(0, 128, 0);
inline const QColor kTitleGrey(128, 128, 128);
inline const QColor kDescriptionGrey(64, 64, 64);

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// A filled rectangle with a one-pixel border: the header and footer bands
// and the hint box. It is placed behind the controls drawn on it.
class Band : public QWidget {
public:
    Band(QWidget* parent, const QRect& geometry, const QColor& fill, const QColor& border = kBandBorder);
    QColor fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor fill_, border_;
};

// A label placed at a twips rectangle, with a font and a colour.
QLabel* MakeLabel(QWidget* parent, const QString& text, const QRect& geometry, const QFont& font,
                  const QColor& colour = Qt::black, bool wrap = false);

// " [ ? ]" in blue with a pointing-hand pointer and the tooltip "Click to
// Know More..."; clicking it emits clicked().
class HelpLink : public QLabel {
    Q_OBJECT
public:
    HelpLink(QWidget* parent, const QRect& geometry, const QFont& font);
    static constexpr const char* kText = " [ ? ]";
    static constexpr const char* kTip = "Click to Know More...";
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
};

// The pictures of the windows and the list.
enum class Picture { Information, Folder, Person };
QPixmap PicturePixmap(Picture p);
// The application icon (16 x 16 and 32 x 32).
QIcon AppIcon();

// The Windows common controls initialisation (InitCommonControls) that the
// single-folder and status windows make when they are created; nothing
// elsewhere.
void InitCommonControlsLibrary();

// Raises a top-level window and gives it the focus (the offscreen
// platform has no window stack, so nothing is asked of it there).
void BringToFront(QWidget* window);

// A caption with one "&" per literal ampersand as Qt's group frames and
// buttons need it ("&&" draws one "&").
QString EscapeAmpersands(const QString& text);

}  // namespace tavrin::ui
