#include "controls/Rtflabel.h"

#include "controls/Rtfreader.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <cmath>

namespace {

constexpr uint32_t VersionNr = 0x01030000;  // 1.3.0.0
constexpr int TwipsPerInch = 1440;
constexpr int DefaultDpi = 96;

QTextCharFormat CharFormatOf(const TRtfRun& run)
{
    QTextCharFormat format;
    if (!run.FontName.empty())
        format.setFontFamilies({QString::fromStdString(run.FontName)});
    format.setFontPointSize(run.HalfPoints / 2.0);
    format.setFontWeight(run.Bold ? QFont::Bold : QFont::Normal);
    format.setFontItalic(run.Italic);
    format.setFontUnderline(run.Underline);
    if (run.Color)
        format.setForeground(QColor(QRgb(*run.Color)));
    return format;
}

TRtfRun LookOf(const QTextCharFormat& format, const QFont& defaultFont)
{
    TRtfRun run;
    const QFont font = format.font().resolve(defaultFont);
    const QStringList families = format.fontFamilies().toStringList();
    run.FontName = (families.isEmpty() ? font.family() : families.first()).toStdString();
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : 12.0;
    run.HalfPoints = std::clamp(int(std::lround(points * 2)), RtfMinHalfPoints, RtfMaxHalfPoints);
    run.Bold = font.weight() >= QFont::DemiBold;
    run.Italic = font.italic();
    run.Underline = font.underline();
    if (format.hasProperty(QTextFormat::ForegroundBrush) && format.foreground().style() != Qt::NoBrush)
        run.Color = format.foreground().color().rgb() & 0xFFFFFF;
    return run;
}

int Dpi(int value) { return value > 0 ? value : DefaultDpi; }

int PixelsOf(int twips, int dpi) { return int(std::lround(double(twips) * dpi / TwipsPerInch)); }

}  // namespace

void LoadRtfInto(std::string_view rtf, QTextDocument& target)
{
    const TRtfDocument document = ReadRtf(rtf);
    target.clear();
    QTextCursor cursor(&target);
    bool first = true;
    for (const TRtfParagraph& paragraph : document.Paragraphs) {
        const QTextCharFormat mark = CharFormatOf(paragraph.Mark);
        if (first)
            cursor.setBlockCharFormat(mark);
        else
            cursor.insertBlock(QTextBlockFormat(), mark);
        first = false;
        for (const TRtfRun& run : paragraph.Runs) {
            QString text = QString::fromStdString(run.Text);
            text.replace(QLatin1Char('\n'), QChar::LineSeparator);
            cursor.insertText(text, CharFormatOf(run));
        }
    }
}

std::string SaveRtfFrom(const QTextDocument& source)
{
    std::vector<TRtfParagraph> paragraphs;
    const QFont defaultFont = source.defaultFont();
    for (QTextBlock block = source.begin(); block.isValid(); block = block.next()) {
        TRtfParagraph paragraph;
        paragraph.Mark = LookOf(block.charFormat(), defaultFont);
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            TRtfRun run = LookOf(fragment.fragment().charFormat(), defaultFont);
            QString text = fragment.fragment().text();
            text.replace(QChar::LineSeparator, QLatin1Char('\n'));
            run.Text = text.toStdString();
            if (run.Text.empty())
                continue;
            if (!paragraph.Runs.empty() && paragraph.Runs.back().SameLook(run))
                paragraph.Runs.back().Text += run.Text;
            else
                paragraph.Runs.push_back(std::move(run));
        }
        paragraphs.push_back(std::move(paragraph));
    }
    return WriteRtf(paragraphs);
}

TTwipsRect RTFTargetTwips(const QRect& rect, int dpiX, int dpiY)
{
    dpiX = Dpi(dpiX);
    dpiY = Dpi(dpiY);
    // QRect's right() is inclusive; the arithmetic wants the exclusive edge.
    const int right = rect.left() + rect.width();
    const int bottom = rect.top() + rect.height();
    TTwipsRect twips;
    twips.Left = int(std::lround(double(rect.left() + 1) * TwipsPerInch / dpiX));
    twips.Top = int(std::lround(double(rect.top() + 1) * TwipsPerInch / dpiY));
    twips.Right = twips.Left + int(std::lround(double(right - rect.left() - 1) * TwipsPerInch / dpiX));
    twips.Bottom = twips.Top + int(std::lround(double(bottom - rect.top() - 1) * TwipsPerInch / dpiY));
    return twips;
}

TRTFLabel::TRTFLabel(QWidget* owner) : QLabel(owner), FEditor(new QTextEdit)
{
    setAutoFillBackground(false);
    setText(QString());
}

TRTFLabel::~TRTFLabel()
{
    delete FEditor.data();
}

void TRTFLabel::Loaded()
{
    if (FEditor) {
        FEditor->hide();
        FEditor->setGeometry(0, 0, 10, 10);
        FEditor->setLineWrapMode(QTextEdit::NoWrap);
        FEditor->setFrameStyle(QFrame::NoFrame);
    }
    setText(QString());
}

void TRTFLabel::SetWordWrap(bool value)
{
    FWordWrap = value;
    if (parentWidget() && FEditor)
        FEditor->setLineWrapMode(value ? QTextEdit::WidgetWidth : QTextEdit::NoWrap);
}

void TRTFLabel::SetTransparent(bool value)
{
    FTransparent = value;
    update();
}

QColor TRTFLabel::Color() const
{
    return FColor.isValid() ? FColor : palette().color(QPalette::Window);
}

void TRTFLabel::SetColor(const QColor& value)
{
    FColor = value;
    update();
}

QString TRTFLabel::GetVersion() const
{
    const uint32_t nr = GetVersionNr();
    return QStringLiteral("%1.%2.%3.%4").arg(nr >> 24).arg((nr >> 16) & 0xFF).arg((nr >> 8) & 0xFF).arg(nr & 0xFF);
}

uint32_t TRTFLabel::GetVersionNr() const
{
    return VersionNr;
}

void TRTFLabel::BeginUpdate()
{
    ++FUpdateCount;
}

void TRTFLabel::EndUpdate()
{
    if (FUpdateCount == 0)
        return;
    if (--FUpdateCount == 0)
        ShowRTF();
}

QTextEdit* TRTFLabel::GetRichEdit()
{
    if (!parentWidget() || !FEditor)
        return nullptr;
    FEditor->setParent(parentWidget());
    FEditor->hide();
    FEditor->clear();
    FEditor->setCurrentCharFormat(QTextCharFormat());
    return FEditor;
}

void TRTFLabel::ShowRTF()
{
    // Only an editor handed out by GetRichEdit holds composed text; without
    // one, RichText stays as it is rather than being replaced by nothing.
    if (parentWidget() && FEditor && FEditor->parentWidget()) {
        FRichText = SaveRtfFrom(*FEditor->document());
        FEditor->setParent(nullptr);
    }
    update();
}

void TRTFLabel::CopyFromRichEdit(QTextEdit* editor)
{
    FRichText = SaveRtfFrom(*editor->document());
    update();
}

void TRTFLabel::CopyToRichEdit(QTextEdit* editor) const
{
    editor->setAcceptRichText(true);
    LoadRtfInto(FRichText, *editor->document());
}

void TRTFLabel::Print(const QString& title)
{
    if (!parentWidget() || !FEditor)
        return;
    CopyToRichEdit(FEditor);
    QPrinter printer;
    printer.setDocName(title);
    QPrintDialog dialog(&printer, window());
    if (dialog.exec() == QDialog::Accepted)
        FEditor->document()->print(&printer);
}

QColor TRTFLabel::RTFBackgroundColor() const
{
    if (!FTransparent)
        return Color();
    const QWidget* parent = parentWidget();
    return (parent ? parent->palette() : palette()).color(QPalette::Window);
}

void TRTFLabel::RTFPaint(QPainter& painter, const QRect& rect)
{
    QTextDocument document;
    document.setDefaultFont(font());
    document.setDocumentMargin(0);
    LoadRtfInto(FRichText, document);

    const int dpiX = Dpi(painter.device() ? painter.device()->logicalDpiX() : 0);
    const int dpiY = Dpi(painter.device() ? painter.device()->logicalDpiY() : 0);
    const TTwipsRect twips = RTFTargetTwips(rect, dpiX, dpiY);
    const QRect target(QPoint(PixelsOf(twips.Left, dpiX), PixelsOf(twips.Top, dpiY)),
                       QPoint(PixelsOf(twips.Right, dpiX) - 1, PixelsOf(twips.Bottom, dpiY) - 1));

    painter.save();
    painter.fillRect(target, RTFBackgroundColor());
    painter.setClipRect(target, Qt::IntersectClip);
    painter.translate(target.topLeft());
    // Lines break at the rectangle's width, as formatting for a page does;
    // WordWrap only concerns the editor.
    document.setTextWidth(target.width());
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = QRectF(0, 0, target.width(), target.height());
    context.palette = palette();
    document.documentLayout()->draw(&painter, context);
    painter.restore();
}

void TRTFLabel::paintEvent(QPaintEvent* event)
{
    if (!text().isEmpty())
        setText(QString());
    if (!FTransparent)
        QPainter(this).fillRect(rect(), Color());
    QLabel::paintEvent(event);
    Paint();
}

void TRTFLabel::Paint()
{
    if (FUpdateCount > 0 || !FEditor || FPainting)
        return;
    FPainting = true;
    QPainter painter(this);
    painter.setBackgroundMode(Qt::TransparentMode);
    RTFPaint(painter, QRect(0, 0, width(), height()));
    FPainting = false;
}
