#include "ui/common/look.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

// The pictures compiled into the static ui library need registering.
static void InitWizardResources() { Q_INIT_RESOURCE(wizard); }

namespace tavrin::ui {

namespace {
// Where Debian's fonts-wine puts its Tahoma.
constexpr const char* kWineFonts = "/usr/share/wine/fonts/";

}  // namespace

bool LoadWizardFonts() {
    bool tahoma = QFontDatabase::families().contains(QStringLiteral("Tahoma"));
    if (!tahoma) {
        // Only the regular face: the bold face of that package gives "/" an
        // advance several times too wide, so paths in bold labels fall
        // apart; Qt emboldens the regular face instead.
        for (const char* file : {"tahoma.ttf"}) {
            const QString path = QString::fromLatin1(kWineFonts) + QString::fromLatin1(file);
            if (QFile::exists(path) && QFontDatabase::addApplicationFont(path) >= 0) tahoma = true;
        }
    }
    // Close stand-ins: Verdana's design lives on in Bitstream Vera and
    // DejaVu Sans; Tahoma is a narrower Verdana.
    const QStringList verdanaLike{QStringLiteral("DejaVu Sans"), QStringLiteral("Bitstream Vera Sans"),
                                  QStringLiteral("Liberation Sans"), QStringLiteral("Arial")};
    QFont::insertSubstitutions(QStringLiteral("Verdana"), verdanaLike);
    QStringList tahomaLike{QStringLiteral("DejaVu Sans Condensed")};
    tahomaLike += verdanaLike;
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), tahomaLike);
    return tahoma;
}

QFont Font(const wizard::FontSpec& font) {
    QFont f(font.face == wizard::Face::Verdana ? QStringLiteral("Verdana") : QStringLiteral("Tahoma"));
    f.setPixelSize(static_cast<int>(std::lround(font.centiPoints * 96.0 / 7200.0)));
    f.setBold(font.bold);
    f.setStyleHint(QFont::SansSerif);
    f.setKerning(false);
    return f;
}

Band::Band(QWidget* parent, const QRect& geometry, const QColor& fill) : QWidget(parent), fill_(fill) {
    setGeometry(geometry);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    lower();
}

void Band::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), fill_);
    p.setPen(Colour(wizard::kBandBorder));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

HelpLink::HelpLink(QWidget* parent) : QLabel(parent) { setCursor(Qt::PointingHandCursor); }

void HelpLink::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(e);
}

QPixmap PicturePixmap(wizard::Picture pic) {
    using wizard::Picture;
    QPixmap px(16, 16);
    px.fill(Qt::transparent);
    QPainter p(&px);
    p.setRenderHint(QPainter::Antialiasing);
    switch (pic) {
    case Picture::Information: {
        // A blue circular badge with a white letter i.
        p.setPen(QPen(QColor(0, 60, 160), 1));
        p.setBrush(QColor(40, 110, 220));
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(7, 3, 2.2, 2.2));
        p.drawRect(QRectF(7, 6.5, 2.2, 6.5));
        break;
    }
    case Picture::Folder: {
        // A yellow folder: a tab on the back, the front panel lower.
        p.setPen(QPen(QColor(170, 120, 0), 1));
        p.setBrush(QColor(240, 200, 60));
        QPainterPath back;
        back.moveTo(1.5, 3.5);
        back.lineTo(6, 3.5);
        back.lineTo(7.5, 5);
        back.lineTo(14.5, 5);
        back.lineTo(14.5, 13.5);
        back.lineTo(1.5, 13.5);
        back.closeSubpath();
        p.drawPath(back);
        p.setBrush(QColor(255, 222, 100));
        p.drawRect(QRectF(1.5, 6.5, 13, 7));
        break;
    }
    case Picture::None: break;
    case Picture::Person: {
        // A person's head and shoulders.
        p.setPen(QPen(QColor(40, 70, 130), 1));
        p.setBrush(QColor(90, 140, 210));
        QPainterPath body;
        body.moveTo(2, 15.5);
        body.cubicTo(2, 10, 5, 9, 8, 9);
        body.cubicTo(11, 9, 14, 10, 14, 15.5);
        body.closeSubpath();
        p.drawPath(body);
        p.setBrush(QColor(250, 210, 170));
        p.setPen(QPen(QColor(150, 100, 60), 1));
        p.drawEllipse(QRectF(4.5, 1, 7, 7.5));
        break;
    }
    }
    return px;
}

QIcon AppIcon() {
    static const bool registered = (InitWizardResources(), true);
    (void)registered;
    QIcon icon;
    for (int size : {16, 32, 48}) {
        const QString path = QStringLiteral(":/tavrin/icons/tavrin-msg-to-pst-%1.png").arg(size);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    return icon;
}

void BringToFront(QWidget* window) {
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) return;
    window->raise();
    window->activateWindow();
}

QString EscapeAmpersands(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return out;
}

}  // namespace tavrin::ui
