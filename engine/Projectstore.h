#pragma once
// The plan store (Projects.dat): one line per plan, "name=plan text".

#include "engine/Dnsdispinfo.h"

#include <cstdint>
#include <string>
#include <vector>

class TProjectStore {
public:
    explicit TProjectStore(std::string projectsFile);

    void ReloadProjects();
    std::string GetProjectText(const std::string& name);
    // Whether a line holds the plan, found as GetProjectText finds it.
    bool HasProject(const std::string& name);
    void SetProjectText(const std::string& name, const std::string& text);
    void RemoveProject(const std::string& name);
    void ListProjects(std::vector<std::string>& target);

    const std::string& FileName() const { return FProjectsFile; }
    const std::vector<std::string>& Lines() const { return FProjects; }

private:
    std::string FProjectsFile;
    std::vector<std::string> FProjects;
};

// "%s^%s^%d" entries joined by "#".
std::string ItemsToText(const std::vector<TDNSDispInfo>& items);
// The items of a plan text, each waiting, with empty Note and IP.
std::vector<TDNSDispInfo> TextToItems(const std::string& text);
int32_t ParseIntDef(const std::string& text, int32_t defaultValue);
