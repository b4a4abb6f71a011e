#include "controls/Rtfreader.h"

#include "vqlib/Gbk.h"
#include "vqlib/Utf8.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int GbkCharset = 134;
constexpr int GbkCodePage = 936;
constexpr int DefaultHalfPoints = 24;
constexpr int MaxControlWordLength = 32;
constexpr int MaxUnicodeSkip = 16;

// ---------------------------------------------------------------- code pages

std::string Latin1ToUtf8(std::string_view bytes)
{
    std::string result;
    for (char c : bytes)
        AppendUtf8(result, uint8_t(c));
    return result;
}

// ---------------------------------------------------------------- reader

struct TLook {
    int Font = -1;  // -1: the document's default font
    int HalfPoints = DefaultHalfPoints;
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    int ColorIndex = 0;

    bool operator==(const TLook&) const = default;
};

enum class TDestination { Text, FontTable, ColorTable, Skip };

struct TGroupState {
    TLook Look;
    TDestination Destination = TDestination::Text;
    int UnicodeSkip = 1;  // \uc
};

struct TControl {
    std::string_view Word;
    bool HasParam = false;
    int Param = 0;
};

int ClampInt(long long value, int low, int high)
{
    return int(std::clamp<long long>(value, low, high));
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c)
{
    if (IsAsciiDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsSkippedDestination(std::string_view word)
{
    static constexpr std::string_view skipped[] = {
        "stylesheet", "info", "pict", "header", "headerl", "headerr", "headerf", "footer", "footerl",
        "footerr", "footerf", "footnote", "object", "fldinst", "listtable", "listoverridetable",
        "revtbl", "rsidtbl", "generator", "xmlnstbl", "themedata", "colorschememapping",
        "latentstyles", "datastore", "filetbl", "pgdsctbl", "userprops", "docvar", "bkmkstart",
        "bkmkend", "nonshppict", "shppict", "annotation", "atnid", "atnauthor",
    };
    return std::find(std::begin(skipped), std::end(skipped), word) != std::end(skipped);
}

// Control words that stand for one character.
const char* SymbolUtf8(std::string_view word)
{
    static constexpr std::pair<std::string_view, const char*> symbols[] = {
        {"tab", "\t"},           {"line", "\n"},          {"emdash", "\u2014"},
        {"endash", "\u2013"},    {"bullet", "\u2022"},    {"lquote", "\u2018"},
        {"rquote", "\u2019"},    {"ldblquote", "\u201C"}, {"rdblquote", "\u201D"},
        {"emspace", "\u2003"},   {"enspace", "\u2002"},   {"qmspace", "\u2005"},
    };
    for (const auto& [name, text] : symbols)
        if (name == word)
            return text;
    return nullptr;
}

class TReader {
public:
    explicit TReader(std::string_view source) : FSource(source) {}

    TRtfDocument Read()
    {
        while (FPos < FSource.size() && !FFinished)
            Step();
        FinishFont();
        FlushRun();
        if (!FParagraph.Runs.empty())
            EndParagraph();
        return std::move(FDocument);
    }

private:
    std::string_view FSource;
    size_t FPos = 0;
    bool FFinished = false;
    TRtfDocument FDocument;

    std::vector<TGroupState> FStack;
    int FOverflowDepth = 0;  // groups opened beyond RtfMaxGroupDepth
    TGroupState FState;
    int FDefaultFont = -1;
    int FPendingSkip = 0;  // fallback characters still to drop after \uN
    uint32_t FHighSurrogate = 0;

    // font table entry being read
    bool FFontOpen = false;
    TRtfFont FFont;
    std::string FFontNameBytes;  // code-page bytes not yet decoded into FFont.Name

    // colour table entry being read
    std::vector<std::optional<uint32_t>> FColors;
    uint32_t FColorValue = 0;
    bool FColorGiven = false;

    // text being collected
    TRtfParagraph FParagraph;
    TLook FRunLook;
    std::string FRunText;      // UTF-8, already decoded
    std::string FRunBytes;     // code-page bytes not yet decoded

    void Step()
    {
        const char c = FSource[FPos++];
        switch (c) {
        case '{': OpenGroup(); break;
        case '}': CloseGroup(); break;
        case '\\': ReadControl(); break;
        case '\r':
        case '\n': break;
        default: TextByte(uint8_t(c), false); break;
        }
    }

    void OpenGroup()
    {
        FPendingSkip = 0;
        if (FStack.size() >= size_t(RtfMaxGroupDepth)) {
            ++FOverflowDepth;
            return;
        }
        FStack.push_back(FState);
    }

    void CloseGroup()
    {
        FPendingSkip = 0;
        if (FOverflowDepth > 0) {
            --FOverflowDepth;
            return;
        }
        if (FStack.empty())
            return;  // a stray brace; read on
        const TDestination left = FState.Destination;
        FState = FStack.back();
        FStack.pop_back();
        if (left == TDestination::FontTable && FState.Destination != TDestination::FontTable)
            FinishFont();
        if (FStack.empty())
            FFinished = true;  // the document's own group has ended
    }

    int ReadNumber(bool& present)
    {
        const bool negative = FPos < FSource.size() && FSource[FPos] == '-';
        const size_t start = FPos + (negative ? 1 : 0);
        size_t end = start;
        long long value = 0;
        while (end < FSource.size() && IsAsciiDigit(FSource[end])) {
            value = std::min<long long>(value * 10 + (FSource[end] - '0'), 1LL << 40);
            ++end;
        }
        present = end > start;
        if (!present)
            return 0;
        FPos = end;
        return ClampInt(negative ? -value : value, std::numeric_limits<int>::min(),
                        std::numeric_limits<int>::max());
    }

    void ReadControl()
    {
        if (FPos >= FSource.size())
            return;
        const char c = FSource[FPos];
        if (!IsAsciiLetter(c)) {
            ++FPos;
            ControlSymbol(c);
            return;
        }
        const size_t start = FPos;
        while (FPos < FSource.size() && IsAsciiLetter(FSource[FPos]) && FPos - start < MaxControlWordLength)
            ++FPos;
        while (FPos < FSource.size() && IsAsciiLetter(FSource[FPos]))
            ++FPos;  // an overlong word is read past as a whole
        TControl control;
        control.Word = FSource.substr(start, std::min<size_t>(FPos - start, MaxControlWordLength));
        control.Param = ReadNumber(control.HasParam);
        if (FPos < FSource.size() && FSource[FPos] == ' ')
            ++FPos;
        ControlWord(control);
    }

    void ControlSymbol(char c)
    {
        switch (c) {
        case '\'': HexEscape(); break;
        case '*':
            // marks a destination we may skip; the document's own group is never one
            if (FStack.size() > 1)
                FState.Destination = TDestination::Skip;
            break;
        case '\\':
        case '{':
        case '}': TextByte(uint8_t(c), true); break;
        case '~': TextUtf8("\u00A0"); break;
        case '_': TextUtf8("\u2011"); break;
        case '\r':
        case '\n': ParagraphMark(); break;
        default: break;  // \- and unknown symbols show nothing
        }
    }

    void HexEscape()
    {
        int value = 0;
        int digits = 0;
        while (digits < 2 && FPos < FSource.size()) {
            const int digit = HexValue(FSource[FPos]);
            if (digit < 0)
                break;
            value = value * 16 + digit;
            ++digits;
            ++FPos;
        }
        if (digits == 2)  // a cut-off escape stands for nothing
            TextByte(uint8_t(value), true);
    }

    void ControlWord(const TControl& control)
    {
        const std::string_view word = control.Word;
        const int param = control.Param;
        TLook& look = FState.Look;
        const bool on = !control.HasParam || param != 0;

        if (word == "bin") {
            const size_t count = control.HasParam && param > 0 ? size_t(param) : 0;
            FPos += std::min(count, FSource.size() - FPos);
        } else if (word == "fonttbl") {
            FState.Destination = TDestination::FontTable;
        } else if (word == "colortbl") {
            FState.Destination = TDestination::ColorTable;
            FColors.clear();
            FColorValue = 0;
            FColorGiven = false;
        } else if (IsSkippedDestination(word)) {
            FState.Destination = TDestination::Skip;
        } else if (word == "uc") {
            FState.UnicodeSkip = ClampInt(param, 0, MaxUnicodeSkip);
        } else if (word == "u") {
            UnicodeChar(param);
        } else if (FState.Destination == TDestination::Skip) {
            // nothing inside a skipped destination matters
        } else if (FState.Destination == TDestination::FontTable) {
            FontTableWord(word, param);
        } else if (FState.Destination == TDestination::ColorTable) {
            ColorTableWord(word, param);
        } else if (word == "ansicpg") {
            FDocument.CodePage = param;
        } else if (word == "deff") {
            FDefaultFont = param;
        } else if (word == "f") {
            look.Font = std::max(param, 0);
        } else if (word == "fs") {
            look.HalfPoints = control.HasParam ? ClampInt(param, RtfMinHalfPoints, RtfMaxHalfPoints)
                                               : DefaultHalfPoints;
        } else if (word == "b") {
            look.Bold = on;
        } else if (word == "i") {
            look.Italic = on;
        } else if (word == "ul") {
            look.Underline = on;
        } else if (word == "ulnone") {
            look.Underline = false;
        } else if (word == "cf") {
            look.ColorIndex = std::max(param, 0);
        } else if (word == "plain") {
            look = TLook{};
        } else if (word == "par" || word == "sect" || word == "page") {
            ParagraphMark();
        } else if (const char* symbol = SymbolUtf8(word)) {
            TextUtf8(symbol);
        }
        // every other word (\lang, \pard, \viewkind, ...) changes nothing we show
    }

    void FontTableWord(std::string_view word, int param)
    {
        if (word == "f") {
            FinishFont();
            FFontOpen = true;
            FFont = TRtfFont{};
            FFont.Number = param;
            FFontNameBytes.clear();
        } else if (word == "fcharset" && FFontOpen) {
            FFont.Charset = param;
        }
    }

    void ColorTableWord(std::string_view word, int param)
    {
        const int shift = word == "red" ? 16 : word == "green" ? 8 : word == "blue" ? 0 : -1;
        if (shift < 0)
            return;
        const uint32_t component = uint32_t(ClampInt(param, 0, 255));
        FColorValue = (FColorValue & ~(0xFFu << shift)) | (component << shift);
        FColorGiven = true;
    }

    void FinishFont()
    {
        if (!FFontOpen)
            return;
        FFontOpen = false;
        DecodeFontNameBytes();
        FDocument.Fonts.push_back(std::move(FFont));
    }

    void DecodeFontNameBytes()
    {
        FFont.Name += UsesGbk(FFont.Charset) ? GbkToUtf8(FFontNameBytes) : Latin1ToUtf8(FFontNameBytes);
        FFontNameBytes.clear();
    }

    bool UsesGbk(int charset) const { return charset == GbkCharset || FDocument.CodePage == GbkCodePage; }

    const TRtfFont* FindFont(int number) const
    {
        for (const TRtfFont& font : FDocument.Fonts)
            if (font.Number == number)
                return &font;
        return nullptr;
    }

    const TRtfFont* FontOf(const TLook& look) const { return FindFont(look.Font >= 0 ? look.Font : FDefaultFont); }

    // Only a literal ';' ends a table entry; an escaped one is part of a name.
    void TextByte(uint8_t byte, bool escaped)
    {
        if (FPendingSkip > 0) {
            --FPendingSkip;
            return;
        }
        switch (FState.Destination) {
        case TDestination::Skip:
            return;
        case TDestination::FontTable:
            if (byte == ';' && !escaped)
                FinishFont();
            else if (FFontOpen)
                FFontNameBytes += char(byte);
            return;
        case TDestination::ColorTable:
            if (byte == ';' && !escaped) {
                FColors.push_back(FColorGiven ? std::optional(FColorValue) : std::nullopt);
                FColorValue = 0;
                FColorGiven = false;
            }
            return;
        case TDestination::Text:
            FHighSurrogate = 0;
            StartText();
            FRunBytes += char(byte);
            return;
        }
    }

    void TextUtf8(std::string_view text)
    {
        if (FState.Destination != TDestination::Text)
            return;
        StartText();
        DecodeRunBytes();
        FRunText += text;
    }

    void UnicodeChar(int param)
    {
        FPendingSkip = FState.UnicodeSkip;
        const uint32_t unit = param >= -32768 && param <= 65535 ? uint32_t(param < 0 ? param + 65536 : param)
                                                                : 0xFFFD;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            FHighSurrogate = unit;
            return;
        }
        std::string text;
        if (unit >= 0xDC00 && unit <= 0xDFFF)
            AppendUtf8(text, FHighSurrogate ? 0x10000 + ((FHighSurrogate - 0xD800) << 10) + (unit - 0xDC00)
                                            : 0xFFFD);
        else
            AppendUtf8(text, unit);
        FHighSurrogate = 0;
        if (FState.Destination == TDestination::FontTable && FFontOpen) {
            DecodeFontNameBytes();
            FFont.Name += text;
        } else {
            TextUtf8(text);
        }
    }

    // Text of a new look closes the run collected so far.
    void StartText()
    {
        if (FState.Look == FRunLook)
            return;
        FlushRun();
        FRunLook = FState.Look;
    }

    void DecodeRunBytes()
    {
        if (FRunBytes.empty())
            return;
        const TRtfFont* font = FontOf(FRunLook);
        FRunText += UsesGbk(font ? font->Charset : 0) ? GbkToUtf8(FRunBytes) : Latin1ToUtf8(FRunBytes);
        FRunBytes.clear();
    }

    TRtfRun ResolveLook(const TLook& look) const
    {
        TRtfRun run;
        if (const TRtfFont* font = FontOf(look))
            run.FontName = font->Name;
        run.HalfPoints = look.HalfPoints;
        run.Bold = look.Bold;
        run.Italic = look.Italic;
        run.Underline = look.Underline;
        if (look.ColorIndex < int(FColors.size()))
            run.Color = FColors[look.ColorIndex];
        return run;
    }

    void FlushRun()
    {
        DecodeRunBytes();
        if (FRunText.empty())
            return;
        TRtfRun run = ResolveLook(FRunLook);
        run.Text = std::move(FRunText);
        FRunText.clear();
        if (!FParagraph.Runs.empty() && FParagraph.Runs.back().SameLook(run))
            FParagraph.Runs.back().Text += run.Text;
        else
            FParagraph.Runs.push_back(std::move(run));
    }

    void ParagraphMark()
    {
        if (FState.Destination != TDestination::Text)
            return;
        FlushRun();
        FParagraph.Mark = ResolveLook(FState.Look);
        EndParagraph();
    }

    void EndParagraph()
    {
        FDocument.Paragraphs.push_back(std::move(FParagraph));
        FParagraph = TRtfParagraph{};
    }
};

// ---------------------------------------------------------------- writer

class TWriter {
public:
    std::string Write(const std::vector<TRtfParagraph>& paragraphs)
    {
        for (const TRtfParagraph& paragraph : paragraphs) {
            for (const TRtfRun& run : paragraph.Runs) {
                Look(run);
                Text(run.Text);
            }
            Look(paragraph.Mark);
            FBody += "\\par\n";
        }
        std::string rtf = "{\\rtf1\\ansi\\ansicpg936";
        if (!FFonts.empty()) {
            rtf += "{\\fonttbl";
            for (size_t i = 0; i < FFonts.size(); ++i)
                rtf += "{\\f" + std::to_string(i) + "\\fnil\\fcharset134 " + FontName(FFonts[i]) + ";}";
            rtf += "}";
        }
        if (!FColors.empty()) {
            rtf += "{\\colortbl ;";
            for (uint32_t color : FColors)
                rtf += "\\red" + std::to_string(color >> 16) + "\\green" + std::to_string((color >> 8) & 0xFF) +
                       "\\blue" + std::to_string(color & 0xFF) + ";";
            rtf += "}";
        }
        return rtf + "\n\\uc1\\pard\n" + FBody + "}\n";
    }

private:
    std::string FBody;
    std::vector<std::string> FFonts;
    std::vector<uint32_t> FColors;

    template <class T>
    static size_t IndexOf(std::vector<T>& list, const T& value)
    {
        const auto found = std::find(list.begin(), list.end(), value);
        if (found != list.end())
            return size_t(found - list.begin());
        list.push_back(value);
        return list.size() - 1;
    }

    void Look(const TRtfRun& run)
    {
        FBody += "\\plain";
        if (!run.FontName.empty())
            FBody += "\\f" + std::to_string(IndexOf(FFonts, run.FontName));
        FBody += "\\fs" + std::to_string(run.HalfPoints);
        if (run.Bold)
            FBody += "\\b";
        if (run.Italic)
            FBody += "\\i";
        if (run.Underline)
            FBody += "\\ul";
        if (run.Color)
            FBody += "\\cf" + std::to_string(IndexOf(FColors, *run.Color) + 1);
        FBody += ' ';
    }

    static void HexByte(std::string& target, uint8_t byte)
    {
        static constexpr char digits[] = "0123456789abcdef";
        target += "\\'";
        target += digits[byte >> 4];
        target += digits[byte & 0xF];
    }

    // Bytes of one character in code page 936, or nothing if it has none.
    static std::string GbkOf(uint32_t cp)
    {
        if (cp < 0x80)
            return std::string(1, char(cp));
        if (cp == 0xFFFD)
            return {};
        std::string utf8;
        AppendUtf8(utf8, cp);
        return Utf8ToGbk(utf8).value_or(std::string());
    }

    static void UnicodeEscape(std::string& target, uint32_t cp)
    {
        auto unit = [&](uint32_t value) { target += "\\u" + std::to_string(int(int16_t(uint16_t(value)))) + "?"; };
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }

    // One character; gbk holds its bytes in code page 936, empty if it has none.
    static void EscapedChar(std::string& target, uint32_t cp, std::string_view gbk, bool inText)
    {
        if (inText && cp == '\t') {
            target += "\\tab ";
        } else if (inText && cp == '\n') {
            target += "\\line ";
        } else if (cp == '\\' || cp == '{' || cp == '}') {
            target += '\\';
            target += char(cp);
        } else if (cp >= 0x20 && cp < 0x7F && (inText || cp != ';')) {
            target += char(cp);
        } else if (!gbk.empty()) {
            for (char byte : gbk)
                HexByte(target, uint8_t(byte));
        } else {
            UnicodeEscape(target, cp);
        }
    }

    static void Escaped(std::string& target, std::string_view text, bool inText)
    {
        // Usually the whole text has a GBK form; walk that, one character at a time.
        if (const std::optional<std::string> gbk = Utf8ToGbk(text)) {
            const std::string_view bytes = *gbk;
            for (size_t i = 0; i < bytes.size();) {
                const uint8_t lead = uint8_t(bytes[i]);
                const size_t length = lead >= 0x81 && lead <= 0xFE && i + 1 < bytes.size() ? 2 : 1;
                EscapedChar(target, lead < 0x80 ? lead : 0xFFFF, bytes.substr(i, length), inText);
                i += length;
            }
            return;
        }
        while (!text.empty()) {
            const TUtf8Char next = DecodeUtf8(text);
            text.remove_prefix(next.Length);
            EscapedChar(target, next.CodePoint, GbkOf(next.CodePoint), inText);
        }
    }

    void Text(std::string_view text) { Escaped(FBody, text, true); }

    std::string FontName(std::string_view name)
    {
        std::string result;
        Escaped(result, name, false);
        return result;
    }
};

}  // namespace

bool TRtfRun::SameLook(const TRtfRun& other) const
{
    return FontName == other.FontName && HalfPoints == other.HalfPoints && Bold == other.Bold &&
           Italic == other.Italic && Underline == other.Underline && Color == other.Color;
}

std::string TRtfParagraph::Text() const
{
    std::string text;
    for (const TRtfRun& run : Runs)
        text += run.Text;
    return text;
}

TRtfDocument ReadRtf(std::string_view source)
{
    return TReader(source).Read();
}

std::string WriteRtf(const std::vector<TRtfParagraph>& paragraphs)
{
    return TWriter().Write(paragraphs);
}
