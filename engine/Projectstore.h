#pragma once
// The plan store (Projects.dat): one line per plan, "name=plan text".
// Other programs (another window, orvel-cli, an editor) may write the file at
// any time: every change re-reads it and touches only its own plan's line.

#include "engine/Dnsdispinfo.h"
#include "vqlib/Vqfiles.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A save refused because another program changed the plan in the file since
// this store read it; what() is the user's message (UTF-8).
class EStoreConflict : public EFileError {
public:
    using EFileError::EFileError;
};

class TProjectStore {
public:
    explicit TProjectStore(std::string projectsFile);

    void ReloadProjects();
    std::string GetProjectText(const std::string& name);
    // Whether a line holds the plan, found as GetProjectText finds it.
    bool HasProject(const std::string& name);
    // GetProjectText, and the text is remembered as the one the next save of
    // this plan starts from.
    std::string OpenProjectText(const std::string& name);
    // Adds or replaces the plan's line, keeping every other line as the file
    // has it now. Throws EStoreConflict when the plan last opened or saved
    // through this store is no longer in the file as it was then.
    void SetProjectText(const std::string& name, const std::string& text);
    // Removes only the plan's line.
    void RemoveProject(const std::string& name);
    void ListProjects(std::vector<std::string>& target);

    const std::string& FileName() const { return FProjectsFile; }
    const std::vector<std::string>& Lines() const { return FProjects; }

private:
    // A plan as this store last saw it in the file; Text is empty when the
    // file had no line for it.
    struct TSeenPlan {
        std::string Name;
        std::optional<std::string> Text;
    };

    std::string FProjectsFile;
    std::vector<std::string> FProjects;
    std::optional<TSeenPlan> FSeen;

    std::optional<std::string> StoredText(const std::string& name) const;
    void RefuseChangedElsewhere(const std::string& name) const;
};

// "%s^%s^%d" entries joined by "#".
std::string ItemsToText(const std::vector<TDNSDispInfo>& items);
// The items of a plan text, each waiting, with empty Note and IP.
std::vector<TDNSDispInfo> TextToItems(const std::string& text);
int32_t ParseIntDef(const std::string& text, int32_t defaultValue);
