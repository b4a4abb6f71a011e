#include "vqlib/Gbkwidgets.h"

#include "vqlib/Gbk.h"

#include <QLineEdit>
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

// Refuses user input that GBK cannot hold or that makes the text longer than
// the limit. Qt reverts a refused edit itself. A text set by the program is
// shown as it is, and the user may then shorten it but not lengthen it.
class TGbkValidator : public QValidator {
public:
    TGbkValidator(QLineEdit* edit, int maxBytes)
        : QValidator(edit), FEdit(edit), FMaxBytes(maxBytes), FShownBytes(ByteCount(edit->text()))
    {
        QObject::connect(edit, &QLineEdit::textChanged, this,
                         [this](const QString& text) { FShownBytes = ByteCount(text); });
    }

    State validate(QString& input, int&) const override
    {
        const int bytes = ByteCount(input);
        if (bytes >= 0 && bytes <= FMaxBytes)
            return Acceptable;
        // setText() clears the undo history; an edit by the user adds to it.
        if (!FEdit->isUndoAvailable())
            return Intermediate;
        if (bytes >= 0 && bytes < FShownBytes)
            return Intermediate;
        return Invalid;
    }

private:
    // -1 when the text holds a character GBK cannot represent.
    static int ByteCount(const QString& text)
    {
        const auto gbk = ToGbk(text);
        return gbk ? static_cast<int>(gbk->size()) : -1;
    }

    QLineEdit* FEdit;
    int FMaxBytes;
    int FShownBytes;
};

}  // namespace

void LimitGbkEdit(QLineEdit* edit, int maxBytes)
{
    edit->setValidator(new TGbkValidator(edit, maxBytes));
}
