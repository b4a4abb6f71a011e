#include "app/Main_quellan.h"

#include "app/Apperror.h"

std::string TfrmTarnix::ReadSetting(const std::string& section, const std::string& key)
{
    if (!FIniFile || section.empty())
        return {};
    return FIniFile->ReadString(section, key, "");
}

void TfrmTarnix::WriteSetting(const std::string& section, const std::string& key, const std::string& value)
{
    if (!FIniFile || section.empty() || key.empty())
        return;
    FIniFile->WriteString(section, key, value);
}

std::string TfrmTarnix::GetProjectText(const std::string& name) { return FProjects->GetProjectText(name); }

void TfrmTarnix::SetProjectText(const std::string& name, const std::string& text)
{
    FProjects->SetProjectText(name, text);
}

void TfrmTarnix::RemoveProject(const std::string& name) { FProjects->RemoveProject(name); }

void TfrmTarnix::ListProjects(std::vector<std::string>& target) { FProjects->ListProjects(target); }

std::string TfrmTarnix::ItemsToText() const { return ::ItemsToText(Infos); }

void TfrmTarnix::LoadProject(const std::string& name)
{
    ShowProject(name);
    RememberProject();
}

void TfrmTarnix::ShowProject(const std::string& name)
{
    // Read first: a store that cannot be read leaves the open plan, its name
    // included, as it was.
    // The text the next save of this plan is checked against.
    const std::string text = FProjects->OpenProjectText(name);
    FProjectName = name;
    Infos = TextToItems(text);
    ForgetTries();
    // The rows point into Infos, so they are rebuilt before anything else can
    // fail (the settings file may not be writable).
    RefreshList();
}

void TfrmTarnix::RememberProject()
{
    if (!FProjectName.empty())
        WriteSetting("config", "project", FProjectName);
}

void TfrmTarnix::OpenLastProject()
{
    // A store that cannot be read ends start-up. Remembering the plan's name
    // is a convenience: when the settings file refuses it, the user is told
    // once and gets the window with the plan all the same.
    ShowProject(ReadSetting("config", "project"));
    RunGuarded([this] { RememberProject(); });
}
