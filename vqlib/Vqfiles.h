#pragma once
// Whole-file line lists and the profile (INI) file, with the file errors the
// window shows in its error box.

#include <stdexcept>
#include <string>
#include <vector>

// A file-layer error; what() names the file ("Cannot open file %s", ...).
class EFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the whole file; a line ends at CR LF, CR or LF, a zero byte ends the
// text. Throws EFileError("Cannot open file <path>").
std::vector<std::string> LoadLinesFromFile(const std::string& path);

// Writes every line followed by CR LF, through a temporary file renamed over
// the target so that a failed write leaves the old file whole.
// Throws EFileError("Cannot create file <path>").
void SaveLinesToFile(const std::string& path, const std::vector<std::string>& lines);

// A profile file: case-insensitive sections and keys, values cut to 2047
// bytes, entries replaced where they stand, the rest of the file untouched.
class TProfileFile {
public:
    explicit TProfileFile(std::string path);
    const std::string& FileName() const { return FFileName; }
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // Throws EFileError("Unable to write to <path>").
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

private:
    std::string FFileName;
};
