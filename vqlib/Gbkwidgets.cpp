#include "vqlib/Gbkwidgets.h"

#include "vqlib/Gbk.h"

#include <QLineEdit>
#include <QTextBoundaryFinder>
#include <QValidator>

QString FromGbk(const std::string& gbk)
{
    return QString::fromStdString(GbkToUtf8(gbk));
}

std::optional<std::string> ToGbk(const QString& text)
{
    // toStdString() would turn a lone surrogate into a substitute character.
    if (!text.isValidUtf16())
        return std::nullopt;
    return Utf8ToGbk(text.toStdString());
}

namespace {

// -1 when the text holds a character GBK cannot represent.
int ByteCount(QStringView text)
{
    const auto gbk = ToGbk(text.toString());
    return gbk ? static_cast<int>(gbk->size()) : -1;
}

// How much of text, in whole characters, fits into room bytes of GBK.
qsizetype FittingLength(const QString& text, int room)
{
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype kept = 0;
    int used = 0;
    for (qsizetype next = characters.toNextBoundary(); next > kept; next = characters.toNextBoundary()) {
        const int bytes = ByteCount(QStringView(text).mid(kept, next - kept));
        if (bytes < 0 || used + bytes > room)
            break;
        used += bytes;
        kept = next;
    }
    return kept;
}

// Refuses user input that GBK cannot hold. Input that makes the text longer
// than the limit is cut to what fits, as a limited edit does with a paste;
// when nothing of it fits it is refused. Qt reverts a refused edit itself. A
// text set by the program is shown as it is, and the user may then shorten
// it but not lengthen it.
class TGbkValidator : public QValidator {
public:
    TGbkValidator(QLineEdit* edit, int maxBytes)
        : QValidator(edit), FEdit(edit), FMaxBytes(maxBytes), FShown(edit->text()), FShownBytes(ByteCount(FShown))
    {
        QObject::connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
            FShown = text;
            FShownBytes = ByteCount(text);
        });
    }

    State validate(QString& input, int& pos) const override
    {
        const int bytes = ByteCount(input);
        if (bytes >= 0 && bytes <= FMaxBytes)
            return Acceptable;
        // setText() clears the undo history; an edit by the user adds to it.
        if (!FEdit->isUndoAvailable())
            return Intermediate;
        if (bytes >= 0 && bytes < FShownBytes)
            return Intermediate;
        if (bytes >= 0 && FitInsertion(input, pos))
            return Acceptable;
        return Invalid;
    }

private:
    // The edit put new text just before pos into the shown text (perhaps over
    // a selection): keeps as much of it as fits. False when nothing fits.
    bool FitInsertion(QString& input, int& pos) const
    {
        const qsizetype after = input.size() - pos;  // the shown text after the cursor, unchanged
        if (pos < 0 || after < 0 || after > FShown.size()
            || QStringView(input).right(after) != QStringView(FShown).right(after))
            return false;
        const QStringView before = QStringView(FShown).left(FShown.size() - after);
        qsizetype start = 0;  // where the new text begins
        while (start < pos && start < before.size() && input[start] == before[start])
            ++start;
        const int room =
            FMaxBytes - ByteCount(QStringView(input).left(start)) - ByteCount(QStringView(input).right(after));
        const QString inserted = input.mid(start, pos - start);
        const qsizetype kept = FittingLength(inserted, room);
        if (kept == 0)
            return false;
        input = input.left(start) + inserted.left(kept) + input.right(after);
        pos = int(start + kept);
        return true;
    }

    QLineEdit* FEdit;
    int FMaxBytes;
    QString FShown;  // the text before the edit being validated
    int FShownBytes;
};

}  // namespace

void LimitGbkEdit(QLineEdit* edit, int maxBytes)
{
    edit->setValidator(new TGbkValidator(edit, maxBytes));
}
