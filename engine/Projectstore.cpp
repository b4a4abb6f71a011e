#include "engine/Projectstore.h"

#include "vqlib/Gbk.h"
#include "vqlib/Vqfiles.h"
#include "vqlib/Vqstring.h"

#include <climits>
#include <filesystem>

namespace {

// Everything before the first "=", or the empty name for a line without one.
std::string NameOf(const std::string& line)
{
    const auto equals = line.find('=');
    return equals == std::string::npos ? std::string() : line.substr(0, equals);
}

bool HasEquals(const std::string& line) { return line.find('=') != std::string::npos; }

// A line without "=" holds no plan, so no name matches it, not even the empty
// one: it survives every operation.
bool SameNameIgnoringCase(const std::string& line, const std::string& name)
{
    return HasEquals(line) && SameTextGbk(NameOf(line), name);
}

bool SameNameExactly(const std::string& line, const std::string& name)
{
    return HasEquals(line) && NameOf(line) == name;
}

bool IsStreamSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TProjectStore::TProjectStore(std::string projectsFile) : FProjectsFile(std::move(projectsFile)) {}

void TProjectStore::ReloadProjects()
{
    FProjects.clear();
    std::error_code ignored;
    if (std::filesystem::exists(FProjectsFile, ignored))
        FProjects = LoadLinesFromFile(FProjectsFile);
}

std::optional<std::string> TProjectStore::StoredText(const std::string& name) const
{
    for (const auto& line : FProjects) {
        if (SameNameIgnoringCase(line, name))
            return line.substr(line.find('=') + 1);
    }
    return std::nullopt;
}

std::string TProjectStore::GetProjectText(const std::string& name)
{
    ReloadProjects();
    return StoredText(name).value_or(std::string());
}

std::string TProjectStore::OpenProjectText(const std::string& name)
{
    ReloadProjects();
    FSeen = TSeenPlan{name, StoredText(name)};
    return FSeen->Text.value_or(std::string());
}

// Writing over a plan another program changed would drop that change without
// anyone seeing it; the caller keeps its own items and the user decides.
void TProjectStore::RefuseChangedElsewhere(const std::string& name) const
{
    if (!FSeen || !SameTextGbk(FSeen->Name, name) || StoredText(name) == FSeen->Text)
        return;
    throw EStoreConflict("测速方案[" + GbkToUtf8(name) +
                         "]在打开后被别的程序改动过，这次没有保存。\n"
                         "这里的改动还在：可以另存为别的名字，或重新打开这个方案看别处的改动。");
}

bool TProjectStore::HasProject(const std::string& name)
{
    ReloadProjects();
    for (const auto& line : FProjects) {
        if (SameNameIgnoringCase(line, name))
            return true;
    }
    return false;
}

void TProjectStore::SetProjectText(const std::string& name, const std::string& text)
{
    ReloadProjects();
    RefuseChangedElsewhere(name);
    if (!text.empty()) {
        auto found = FProjects.end();
        for (auto it = FProjects.begin(); it != FProjects.end(); ++it) {
            if (SameNameIgnoringCase(*it, name)) {
                found = it;
                break;
            }
        }
        if (found == FProjects.end())
            found = FProjects.insert(FProjects.end(), std::string());
        *found = name + "=" + text;
    } else {
        bool replaced = false;
        for (auto& line : FProjects) {
            if (SameNameExactly(line, name)) {
                line = name + "=";
                replaced = true;
            }
        }
        if (!replaced)
            FProjects.push_back(name + "=");
    }
    SaveLinesToFile(FProjectsFile, FProjects);
    FSeen = TSeenPlan{name, StoredText(name)};
}

void TProjectStore::RemoveProject(const std::string& name)
{
    ReloadProjects();
    for (auto it = FProjects.begin(); it != FProjects.end(); ++it) {
        if (SameNameExactly(*it, name)) {
            FProjects.erase(it);
            break;
        }
    }
    SaveLinesToFile(FProjectsFile, FProjects);
    // Saving under the name again makes a new plan.
    if (FSeen && FSeen->Name == name)
        FSeen.reset();
}

void TProjectStore::ListProjects(std::vector<std::string>& target)
{
    target.clear();
    ReloadProjects();
    for (const auto& line : FProjects) {
        std::string name = NameOf(line);
        if (!name.empty())
            target.push_back(std::move(name));
    }
}

std::string ItemsToText(const std::vector<TDNSDispInfo>& items)
{
    std::string text;
    size_t length = 0;
    for (const auto& item : items)
        length += item.Name.size() + item.DomainIP.size() + 7;
    text.reserve(length);
    for (const auto& item : items) {
        if (!text.empty())
            text += '#';
        text += item.Name;
        text += '^';
        text += item.DomainIP;
        text += '^';
        text += std::to_string(static_cast<int>(item.DoType));
    }
    return text;
}

std::vector<TDNSDispInfo> TextToItems(const std::string& text)
{
    std::vector<TDNSDispInfo> items;
    const std::vector<std::string_view> entries = SplitFields(text, '#');
    items.reserve(entries.size());
    for (const std::string_view entry : entries) {
        const std::vector<std::string_view> parts = SplitFields(entry, '^');
        if (parts.size() < 3)
            continue;
        TDNSDispInfo item;
        item.Name = parts[0];
        item.DomainIP = parts[1];
        // The low 8 bits of the stored code, as the record holds it.
        item.DoType = static_cast<int8_t>(static_cast<uint8_t>(ParseIntDef(std::string(parts[2]), 0) & 0xFF));
        item.State = tsWaiting;
        items.push_back(std::move(item));
    }
    return items;
}

int32_t ParseIntDef(const std::string& text, int32_t defaultValue)
{
    size_t pos = 0;
    while (pos < text.size() && IsStreamSpace(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    const size_t digitsStart = pos;
    int64_t value = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        value = value * 10 + (text[pos] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1)
            return defaultValue;
        ++pos;
    }
    if (pos == digitsStart || pos != text.size())
        return defaultValue;
    if (negative)
        value = -value;
    if (value < INT32_MIN || value > INT32_MAX)
        return defaultValue;
    return static_cast<int32_t>(value);
}
