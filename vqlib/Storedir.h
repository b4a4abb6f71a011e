#pragma once
// Where the window and orvel-cli keep DestLists.ini and Projects.dat. A copy
// that runs from its own folder keeps them beside the executable; an
// installed copy, whose folder is the bin/ of a tree with the delivered plan
// in share/orvel/, keeps them per user in the XDG data folder.

#include <string>

// $XDG_DATA_HOME/orvel, or $HOME/.local/share/orvel when XDG_DATA_HOME is
// empty: the folder the window gets from QStandardPaths::AppDataLocation,
// worked out the same way without Qt. No trailing "/".
std::string UserDataDir();

// The delivered plan's folder of an installed copy (ProgramDir()'s
// ../share/orvel/, holding Projects.dat), with its trailing "/"; empty for a
// copy that runs from its own folder.
std::string InstalledPlanDir();

// The store's folder, with its trailing "/". A copy that runs from its own
// folder: ProgramDir(). An installed copy: userDataDir, made when missing
// and, while it holds no Projects.dat, given the delivered Projects.dat and
// DestLists.ini. A file the user has is never replaced. A folder that cannot
// be made or filled is no error here: the store reads as empty, and its
// first write names the file it could not create.
std::string StoreDir(const std::string& userDataDir);
