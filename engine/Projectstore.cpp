#include "engine/Projectstore.h"

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

std::string TProjectStore::GetProjectText(const std::string& name)
{
    ReloadProjects();
    for (const auto& line : FProjects) {
        if (SameNameIgnoringCase(line, name))
            return line.substr(line.find('=') + 1);
    }
    return {};
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
