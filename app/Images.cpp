#include "app/Images.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QSvgRenderer>

// The resources live in a static library: nothing would pull them in.
static void LoadIconResources()
{
    static const bool loaded = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)loaded;
}

namespace {

const char* const kCommandSources[kCommandImageCount] = {
    ":/icons/new.svg",         ":/icons/open.svg",        ":/icons/save.svg",       ":/icons/add-item.svg",
    ":/icons/delete-item.svg", ":/icons/modify-item.svg", ":/icons/start-test.svg",     ":/icons/stop-test.svg",
};

// Light grey of the picture's brightness; fully transparent pixels stay so.
QImage Greyed(QImage image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0)
                continue;
            const int grey = 128 + qGray(c.rgb()) / 2;
            image.setPixelColor(x, y, QColor(grey, grey, grey, c.alpha()));
        }
    }
    return image;
}

// Draws its SVG source anew for every size in device pixels asked for, the
// greyed form for a disabled use.
class TSvgIconEngine final : public QIconEngine {
public:
    explicit TSvgIconEngine(QString source) : FSource(std::move(source)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pixmap = this->pixmap((QSizeF(rect.size()) * scale).toSize(), mode, state);
        pixmap.setDevicePixelRatio(scale);
        painter->drawPixmap(rect, pixmap);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        if (size.isEmpty())
            return {};
        const bool greyed = mode == QIcon::Disabled;
        const QString key = QStringLiteral("orvel-icon:%1:%2x%3:%4")
                                .arg(FSource)
                                .arg(size.width())
                                .arg(size.height())
                                .arg(greyed);
        QPixmap pixmap;
        if (QPixmapCache::find(key, &pixmap))
            return pixmap;
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        {
            QSvgRenderer renderer(FSource);
            QPainter painter(&image);
            renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
        }
        pixmap = QPixmap::fromImage(greyed ? Greyed(image) : image);
        QPixmapCache::insert(key, pixmap);
        return pixmap;
    }

    QIconEngine* clone() const override { return new TSvgIconEngine(FSource); }
    QString key() const override { return QStringLiteral("TSvgIconEngine"); }

private:
    QString FSource;
};

QIcon SvgIcon(const char* source)
{
    LoadIconResources();
    return QIcon(new TSvgIconEngine(QString::fromLatin1(source)));
}

}  // namespace

std::vector<QIcon> CommandIcons()
{
    std::vector<QIcon> icons;
    for (const char* source : kCommandSources)
        icons.push_back(SvgIcon(source));
    return icons;
}

QIcon ApplicationIcon() { return SvgIcon(":/icons/orvel.svg"); }
