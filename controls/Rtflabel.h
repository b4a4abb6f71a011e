#pragma once
// A label that paints formatted text given as RTF source (code page 936).

#include <QColor>
#include <QLabel>
#include <QPointer>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

class QPainter;
class QTextDocument;
class QTextEdit;

// RTF source <-> Qt rich text, through our own reader and writer.
void LoadRtfInto(std::string_view rtf, QTextDocument& target);
std::string SaveRtfFrom(const QTextDocument& source);

struct TTwipsRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TTwipsRect&) const = default;
};
// The rectangle the text goes into, in twips, one pixel in from the left and top.
TTwipsRect RTFTargetTwips(const QRect& rect, int dpiX, int dpiY);

class TRTFLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(QString Version READ GetVersion WRITE SetVersion)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
public:
    explicit TRTFLabel(QWidget* owner = nullptr);
    ~TRTFLabel() override;

    // RTF source bytes. Setting it does not repaint by itself.
    const std::string& RichText() const { return FRichText; }
    void SetRichText(std::string rtf) { FRichText = std::move(rtf); }

    // Call once the form's layout has been set up.
    void Loaded();

    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);

    // Background: the parent's colour when Transparent, else Color (which
    // follows the palette until it is set).
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    QColor Color() const;
    void SetColor(const QColor& value);

    QString GetVersion() const;
    uint32_t GetVersionNr() const;
    void SetVersion(const QString&) {}  // the version is fixed

    // While the update count is above 0 only the background is painted. The
    // EndUpdate that brings it back to 0 runs ShowRTF.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    // The hidden editor, emptied, for composing text; nullptr without a parent.
    QTextEdit* GetRichEdit();
    // Takes the text composed in the editor handed out by GetRichEdit and repaints.
    void ShowRTF();
    void CopyFromRichEdit(QTextEdit* editor);
    void CopyToRichEdit(QTextEdit* editor) const;
    // Asks the system's print dialog, then prints the text under the given title.
    void Print(const QString& title);

    void RTFPaint(QPainter& painter, const QRect& rect);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string FRichText;
    QPointer<QTextEdit> FEditor;  // QPointer: a parent given by GetRichEdit may delete it first
    int FUpdateCount = 0;
    bool FWordWrap = false;
    bool FPainting = false;
    bool FTransparent = false;
    QColor FColor;

    QColor RTFBackgroundColor() const;
    void Paint();
};
