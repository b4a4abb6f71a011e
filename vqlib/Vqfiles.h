#pragma once
// Whole-file line lists and the profile (INI) file, with the file errors the
// window shows in its error box.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A file-layer error; what() names the file ("Cannot open file %s", ...).
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the whole file; a line ends at CR LF, CR or LF, and every other byte,
// a zero byte too, belongs to its line. Throws EFileError("Cannot open file <path>").
std::vector<std::string> LoadLinesFromFile(const std::string& path);

// Writes every line followed by CR LF (see ReplaceFileContent).
// Throws EFileError("Cannot create file <path>").
void SaveLinesToFile(const std::string& path, const std::vector<std::string>& lines);

// The lines of a file's bytes as LoadLinesFromFile reads them, and the bytes
// SaveLinesToFile writes for lines.
std::vector<std::string> SplitFileLines(std::string_view data);
std::string JoinFileLines(const std::vector<std::string>& lines);

// Replaces a file's content and returns whether it did; when it did not,
// errno says why. A file the writer may not write is left alone. The usual
// way is a temporary file beside the target that gets the target's owner,
// mode and extended attributes, is synced and renamed over it, so that a
// crash leaves the old or the new content whole. Where that way would change
// the file (hard links, an owner or attribute the writer cannot give, a
// folder that takes no new file) the content is written in place, under an
// exclusive lock, and synced.
// Temporaries left by writers that are gone are removed first.
bool ReplaceFileContent(const std::string& path, const std::string& data);

// A profile file: case-insensitive sections and keys, values cut to 2047
// bytes, entries replaced where they stand, the rest of the file untouched.
class TProfileFile {
public:
    explicit TProfileFile(std::string path);
    const std::string& FileName() const { return FFileName; }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Writes nothing when the value already stands as given.
    // Throws EFileError("Unable to write to <path>").
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

private:
    std::string FFileName;
};

// The profile logic on a file's bytes: the value TProfileFile::ReadString
// finds, and the bytes after TProfileFile::WriteString.
std::string ReadProfileValue(std::string_view data, const std::string& section, const std::string& key,
                             const std::string& defaultValue);
std::string WithProfileValue(std::string data, const std::string& section, const std::string& key,
                             const std::string& value);
