#pragma once
// A small Rich Text Format reader and writer for the subset our texts use:
// groups, the font and colour tables, code page 936 (\ansicpg936, \fcharset134)
// with \'hh escapes, \uN, \fs, \b, \i, \ul, \cf, \f, \plain, \par, \line, \tab.
// Everything else is read past. No Qt here, so it can be fuzzed on its own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TRtfRun {
    std::string Text;            // UTF-8
    std::string FontName;        // UTF-8; empty when no font applies
    int HalfPoints = 24;         // \fs: font size in half points
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    std::optional<uint32_t> Color;  // 0xRRGGBB; none = automatic colour

    bool SameLook(const TRtfRun& other) const;
    bool operator==(const TRtfRun&) const = default;
};

struct TRtfParagraph {
    std::vector<TRtfRun> Runs;  // adjacent runs always differ in look; none is empty
    TRtfRun Mark;               // the look of the paragraph mark (sizes an empty line)

    std::string Text() const;
    bool operator==(const TRtfParagraph&) const = default;
};

struct TRtfFont {
    int Number = 0;
    int Charset = 0;   // \fcharset; 134 is GB2312
    std::string Name;  // UTF-8
};

struct TRtfDocument {
    int CodePage = 1252;  // \ansicpg
    std::vector<TRtfFont> Fonts;
    std::vector<TRtfParagraph> Paragraphs;
};

// Reads whatever it can: malformed input (unbalanced braces, truncated
// escapes, absurd numbers) never fails, it just yields less. Time and memory
// are linear in the size of the source.
TRtfDocument ReadRtf(std::string_view source);

// Writes code page 936 RTF with one font table entry per font name used.
// Characters GBK cannot hold are written as \uN, so ReadRtf gives back the
// same paragraphs.
std::string WriteRtf(const std::vector<TRtfParagraph>& paragraphs);

// Limits on what a source may ask for; larger values are clamped.
inline constexpr int RtfMinHalfPoints = 2;
inline constexpr int RtfMaxHalfPoints = 3276;
inline constexpr int RtfMaxGroupDepth = 256;
