// The plan text and the plan store on arbitrary bytes: field splitting, number
// reading, the line reader, plan text to items and back, the store's lines and
// the profile reader. Nothing may crash, and what was read must survive being
// written and read again.
//
// The formats have no escaping, so the round trips are restricted to what they
// can hold: item names and hosts without "#" or "^" (the separators; the
// dialogs refuse them), plan names without "=", store lines without CR, LF or
// a zero byte (a line ends there; the dialogs refuse CR and LF, and typed
// text holds no zero byte), and a profile entry whose section name has no
// "]", whose key has no "=" and does not start with "[", and whose value has
// no blanks at its ends (they are trimmed when read) and at most 2047 bytes
// (the value limit). What a reader makes of any bytes lies inside the limits
// of the same reader, so that read, write, read must always give the same.
#include "engine/Projectstore.h"
#include "vqlib/Vqfiles.h"
#include "vqlib/Vqstring.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>

namespace {

void Check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

bool Contains(const std::string& text, std::string_view bytes)
{
    return text.find_first_of(bytes) != std::string::npos;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool BlankAtAnEnd(const std::string& text) { return !text.empty() && (IsBlank(text.front()) || IsBlank(text.back())); }

void CheckFields(const std::string& text, char sep)
{
    const int32_t count = CountFields(text, sep);
    Check(count == static_cast<int32_t>(std::count(text.begin(), text.end(), sep)) + 1, "CountFields counts separators");
    std::string joined;
    for (int32_t i = 0; i < count; ++i) {
        const std::string field = GetField(text, i, sep);
        Check(field.find(sep) == std::string::npos, "a field holds no separator");
        joined += (i ? std::string(1, sep) : std::string()) + field;
        // Separator i + 1 follows field i; after the last field comes length + 1.
        const auto expected = static_cast<int32_t>(joined.size()) + (i + 1 == count ? 1 : 0);
        Check(FindNthChar(text, 0, i + 1, sep) == expected, "FindNthChar finds the separator after the field");
    }
    Check(joined == text, "the fields joined give the text");
    Check(GetField(text, count, sep).empty(), "no field after the last");
    Check(GetField(text, -1, sep) == GetField(text, 0, sep), "a negative index gives field 0");
}

// What formatted stream input makes of the text, the whole text consumed.
int32_t StreamNumber(const std::string& text, int32_t defaultValue)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    int32_t value = 0;
    if (!(in >> value) || in.peek() != std::char_traits<char>::eof())
        return defaultValue;
    return value;
}

bool SameItems(const std::vector<TDNSDispInfo>& a, const std::vector<TDNSDispInfo>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].Name != b[i].Name || a[i].DomainIP != b[i].DomainIP || a[i].DoType != b[i].DoType)
            return false;
    return true;
}

void CheckPlanText(const std::string& text)
{
    const auto items = TextToItems(text);
    for (const auto& item : items) {
        Check(!Contains(item.Name, "#^") && !Contains(item.DomainIP, "#^"), "a read item holds no separator");
        Check(item.State == tsWaiting && item.Note.empty() && item.IP.empty(), "a read item is new");
    }
    const std::string written = ItemsToText(items);
    Check(SameItems(TextToItems(written), items), "plan text: read, write, read gives the same items");
    Check(ItemsToText(TextToItems(written)) == written, "plan text: written text is written again the same");
}

// Items made of any bytes: those the format can hold come back the same.
void CheckItems(const std::string& bytes)
{
    std::vector<TDNSDispInfo> items;
    std::istringstream in(bytes);
    for (std::string line; items.size() < 32 && std::getline(in, line);) {
        TDNSDispInfo item;
        item.Name = line.substr(0, line.size() / 2);
        item.DomainIP = line.substr(line.size() / 2);
        item.DoType = static_cast<int8_t>(line.size() * 37);
        items.push_back(item);
    }
    bool holdable = true;
    for (const auto& item : items)
        holdable = holdable && !Contains(item.Name, "#^") && !Contains(item.DomainIP, "#^");
    if (holdable)
        Check(SameItems(TextToItems(ItemsToText(items)), items), "items: write, read gives the same items");
}

void CheckLines(const std::string& data)
{
    const auto lines = SplitFileLines(data);
    for (const auto& line : lines)
        Check(!Contains(line, "\r\n"), "a line holds no line end");
    const std::string written = JoinFileLines(lines);
    Check(SplitFileLines(written) == lines, "lines: read, write, read gives the same lines");
    Check(JoinFileLines(SplitFileLines(written)) == written, "lines: written bytes are written again the same");
}

// Folders of runs that crashed (an abort skips the exit handler).
void RemoveFoldersOfEndedRuns(const char* base)
{
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("orvel-fuzz-", 0) != 0)
            continue;
        const int pid = std::atoi(name.c_str() + 11);
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            std::filesystem::remove_all(entry.path(), error);
    }
}

// A folder of our own, removed at exit; kept apart from the static strings,
// which are gone by then.
const std::string& StoreFile()
{
    static char folder[256];
    static const std::string& path = *new std::string([] {
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        RemoveFoldersOfEndedRuns(base);
        std::snprintf(folder, sizeof folder, "%s/orvel-fuzz-%d", base, static_cast<int>(::getpid()));
        std::filesystem::create_directories(folder);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return std::string(folder) + "/Projects.dat";
    }());
    return path;
}

// Storing a plan changes one line or adds one, and the file then reads as the
// store's lines.
void CheckStore(const std::string& data, const std::string& name, const std::string& planBytes)
{
    const std::string& path = StoreFile();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
    TProjectStore store(path);
    const auto before = SplitFileLines(data);
    Check(LoadLinesFromFile(path) == before, "the file reader splits as the line reader");
    std::vector<std::string> names;
    store.ListProjects(names);
    for (const auto& listed : names)
        Check(store.HasProject(listed), "a listed plan is found");

    const std::string text = ItemsToText(TextToItems(planBytes));
    if (text.empty() || Contains(name, "=\r\n") || Contains(text, "\r\n"))
        return;
    store.SetProjectText(name, text);
    Check(store.GetProjectText(name) == text, "store: a stored plan reads back");
    const auto after = LoadLinesFromFile(path);
    Check(after == store.Lines(), "store: the file holds what was written");
    Check(after.size() == before.size() || after.size() == before.size() + 1, "store: one line added at most");
    size_t changed = after.size() - before.size();
    for (size_t i = 0; i < before.size(); ++i)
        changed += after[i] != before[i];
    Check(changed <= 1, "store: one line changed at most");
}

void CheckProfile(const std::string& data, const std::string& section, const std::string& key,
                  const std::string& value, const std::string& otherSection, const std::string& otherKey)
{
    Check(ReadProfileValue(data, section, key, "").size() <= 2047, "a profile value is cut to 2047 bytes");
    if (Contains(section, "]\r\n") || BlankAtAnEnd(section) || Contains(key, "=\r\n") || BlankAtAnEnd(key) ||
        (!key.empty() && key.front() == '[') || Contains(value, "\r\n") || BlankAtAnEnd(value) || value.size() > 2047)
        return;
    const std::string written = WithProfileValue(data, section, key, value);
    Check(ReadProfileValue(written, section, key, "default") == value, "profile: a written value reads back");
    Check(WithProfileValue(written, section, key, value) == written, "profile: writing the same value changes nothing");
    if (!SameTextGbk(otherSection, section) || !SameTextGbk(otherKey, key))
        Check(ReadProfileValue(written, otherSection, otherKey, "d") == ReadProfileValue(data, otherSection, otherKey, "d"),
              "profile: other entries keep their values");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const char sep = in.ConsumeIntegral<char>();
    const std::string name = in.ConsumeRandomLengthString(64);
    const std::string section = in.ConsumeRandomLengthString(32);
    const std::string key = in.ConsumeRandomLengthString(32);
    const std::string value = in.ConsumeRandomLengthString(256);
    const std::string otherSection = in.ConsumeRandomLengthString(32);
    const std::string otherKey = in.ConsumeRandomLengthString(32);
    const std::string text = in.ConsumeRemainingBytesAsString();

    CheckFields(text, sep);
    for (const std::string* part : {&name, &value, &text})
        Check(ParseIntDef(*part, -7) == StreamNumber(*part, -7), "ParseIntDef reads as stream input does");
    CheckPlanText(text);
    CheckItems(text);
    CheckLines(text);
    CheckStore(text, name, value);
    CheckProfile(text, section, key, value, otherSection, otherKey);
    return 0;
}
