#include "vqlib/Vqcontrolex.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTreeWidget>

#include <algorithm>

namespace vqlib {

// Lives on the header's viewport, which is the widget that receives the
// header's paint and mouse events.
class TListViewTool::THeaderFilter : public QObject {
public:
    void Attach(QTreeWidget* listView, const QPixmap* up, const QPixmap* down, QColor transparent);
    void Detach();
    void SetSortColumn(int column, bool descending);

    int FColumn = -1;
    bool FPressed = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool HasSection(int column) const;
    QRect SectionRect(int column) const;
    QRect CaptionRect(int column, const QRect& section, Qt::Alignment* alignment) const;
    void RepaintSection(int column);
    void SetPressed(bool pressed);
    bool IsOnSortedSection(const QPoint& pos) const;
    void PaintArrow();
    void OnMouse(QEvent* event);

    QPointer<QTreeWidget> FListView;
    QPointer<QHeaderView> FHeader;
    QPointer<QWidget> FViewport;
    QPixmap FUpImage;
    QPixmap FDownImage;
    const QPixmap* FImage = nullptr;  // FUpImage, FDownImage or none
    bool FInHeaderPaint = false;
};

namespace {

QPixmap WithTransparentColor(const QPixmap* image, QColor transparent)
{
    if (!image || image->isNull())
        return {};
    QPixmap result = *image;
    result.setMask(result.createMaskFromColor(transparent, Qt::MaskInColor));
    return result;
}

}  // namespace

void TListViewTool::THeaderFilter::Attach(QTreeWidget* listView, const QPixmap* up,
                                          const QPixmap* down, QColor transparent)
{
    Detach();
    FUpImage = WithTransparentColor(up, transparent);
    FDownImage = WithTransparentColor(down, transparent);
    if (!listView)
        return;
    FListView = listView;
    FHeader = listView->header();
    FViewport = FHeader->viewport();
    FHeader->setSortIndicatorShown(false);
    FViewport->installEventFilter(this);
}

void TListViewTool::THeaderFilter::Detach()
{
    if (FViewport) {
        FViewport->removeEventFilter(this);
        FViewport->update();
    }
    FListView = nullptr;
    FHeader = nullptr;
    FViewport = nullptr;
    FImage = nullptr;
    FColumn = -1;
    FPressed = false;
}

void TListViewTool::THeaderFilter::SetSortColumn(int column, bool descending)
{
    FImage = descending ? &FDownImage : &FUpImage;
    if (FImage->isNull())
        FImage = nullptr;
    if (!FHeader)
        return;
    FPressed = false;
    if (FColumn != -1) {
        RepaintSection(FColumn);
        FColumn = -1;
    }
    if (column < 0)
        return;
    FColumn = column;
    RepaintSection(FColumn);
}

bool TListViewTool::THeaderFilter::HasSection(int column) const
{
    return FHeader && column >= 0 && column < FHeader->count() && !FHeader->isSectionHidden(column);
}

QRect TListViewTool::THeaderFilter::SectionRect(int column) const
{
    if (!HasSection(column))
        return {};
    return QRect(FHeader->sectionViewportPosition(column), 0, FHeader->sectionSize(column),
                 FViewport->height());
}

void TListViewTool::THeaderFilter::RepaintSection(int column)
{
    const QRect rect = SectionRect(column);
    if (!rect.isEmpty())
        FViewport->update(rect);
}

// Where the header's own drawing puts the caption, in viewport coordinates,
// and how it aligns it.
QRect TListViewTool::THeaderFilter::CaptionRect(int column, const QRect& section, Qt::Alignment* alignment) const
{
    const QAbstractItemModel* model = FHeader->model();
    const QString caption = model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    QFont font = FHeader->font();
    const QVariant fontData = model->headerData(column, Qt::Horizontal, Qt::FontRole);
    if (fontData.canConvert<QFont>())
        font = fontData.value<QFont>().resolve(font);
    const QFontMetrics metrics(font);

    QStyleOptionHeader option;
    option.initFrom(FHeader);
    option.rect = section;
    option.section = column;
    option.text = caption;
    option.orientation = Qt::Horizontal;
    const QRect label = FHeader->style()->subElementRect(QStyle::SE_HeaderLabel, &option, FHeader);
    const QVariant alignData = model->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole);
    *alignment = alignData.isValid() ? Qt::Alignment(alignData.toInt()) : FHeader->defaultAlignment();
    const QSize textSize(metrics.horizontalAdvance(caption), metrics.height());
    return QStyle::alignedRect(FHeader->layoutDirection(), *alignment, textSize, label);
}

void TListViewTool::THeaderFilter::PaintArrow()
{
    if (FColumn == -1 || !FImage)
        return;
    const QRect section = SectionRect(FColumn);
    if (section.isEmpty())
        return;
    Qt::Alignment alignment;
    const QRect caption = CaptionRect(FColumn, section, &alignment);
    const int sectionRight = section.left() + section.width();  // exclusive
    const int imageWidth = FImage->width();

    int y = (section.height() - caption.height()) / 2;
    if (FPressed)
        ++y;
    // After the caption, on the side where the section has room: before a
    // caption that keeps to the right edge.
    const bool beforeCaption = QStyle::visualAlignment(FHeader->layoutDirection(), alignment) & Qt::AlignRight;
    int x = beforeCaption ? caption.left() - imageWidth : std::max(caption.right() + 1, section.left());
    if (imageWidth > sectionRight - x)
        x = sectionRight - imageWidth;
    x = std::max(x, section.left());
    const int width = std::min(imageWidth, section.width());

    QPainter painter(FViewport);
    painter.setClipRect(section);
    painter.drawPixmap(QPoint(x, section.top() + y), *FImage, QRect(0, 0, width, FImage->height()));
}

bool TListViewTool::THeaderFilter::IsOnSortedSection(const QPoint& pos) const
{
    return FColumn != -1 && FViewport->rect().contains(pos) && FHeader->logicalIndexAt(pos) == FColumn;
}

void TListViewTool::THeaderFilter::SetPressed(bool pressed)
{
    if (FPressed == pressed)
        return;
    FPressed = pressed;
    RepaintSection(FColumn);
}

void TListViewTool::THeaderFilter::OnMouse(QEvent* event)
{
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint pos = mouse->position().toPoint();
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (mouse->button() == Qt::LeftButton && IsOnSortedSection(pos))
            SetPressed(true);
        break;
    case QEvent::MouseMove:
        if (!IsOnSortedSection(pos))
            SetPressed(false);
        break;
    case QEvent::MouseButtonRelease:
        if (mouse->button() == Qt::LeftButton)
            SetPressed(false);
        break;
    default:
        break;
    }
}

bool TListViewTool::THeaderFilter::eventFilter(QObject* watched, QEvent* event)
{
    // The type first: while the list is being destroyed other events still
    // arrive, and the header must not be touched then.
    switch (event->type()) {
    case QEvent::Paint:
        if (watched != FViewport || !FHeader)
            return false;
        if (FInHeaderPaint)
            return false;  // the nested delivery below: let the header paint
        FInHeaderPaint = true;
        QCoreApplication::sendEvent(FViewport, event);
        FInHeaderPaint = false;
        PaintArrow();
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        if (watched == FViewport && FHeader)
            OnMouse(event);
        return false;
    default:
        return false;
    }
}

TListViewTool::TListViewTool() : FFilter(std::make_unique<THeaderFilter>()) {}

TListViewTool::~TListViewTool() { FFilter->Detach(); }

void TListViewTool::Attach(QTreeWidget* listView, const QPixmap* upImage, const QPixmap* downImage,
                           QColor transparentColor)
{
    FFilter->Attach(listView, upImage, downImage, transparentColor);
}

void TListViewTool::Detach() { FFilter->Detach(); }

void TListViewTool::SetSortColumn(int column, bool descending)
{
    FFilter->SetSortColumn(column, descending);
}

int TListViewTool::Column() const { return FFilter->FColumn; }
bool TListViewTool::Pressed() const { return FFilter->FPressed; }

}  // namespace vqlib
