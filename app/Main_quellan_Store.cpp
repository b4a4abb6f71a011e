#include "app/Main_quellan.h"

// TODO: not written yet.
std::string TfrmTarnix::ReadSetting(const std::string&, const std::string&) { return {}; }
void TfrmTarnix::WriteSetting(const std::string&, const std::string&, const std::string&) {}
void TfrmTarnix::ReloadProjects() {}
std::string TfrmTarnix::GetProjectText(const std::string&) { return {}; }
void TfrmTarnix::SetProjectText(const std::string&, const std::string&) {}
void TfrmTarnix::RemoveProject(const std::string&) {}
void TfrmTarnix::ListProjects(std::vector<std::string>&) {}
std::string TfrmTarnix::ItemsToText() const { return {}; }
void TfrmTarnix::LoadProject(const std::string&) {}
