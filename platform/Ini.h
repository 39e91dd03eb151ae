// INI files with the semantics batch files, presets and the scheduler were written for
// (the Windows private-profile behaviour):
//   - section and key names compare without regard to case; the first matching section
//     is the one used, and in it the first matching key;
//   - names and values are read with surrounding blanks removed, and a value enclosed in
//     one matching pair of quotes (" or ') loses them;
//   - lines starting with ';' are comments; a line without '=' is a key with no value;
//   - an integer read takes the leading number of the value (blanks, sign, digits); a
//     missing or empty value, or one that does not start with a number, gives the default;
//   - writing a key with no value deletes the key, writing a section with no key deletes
//     the whole section;
//   - a write changes only the lines it must: comments, blank lines, order and the line
//     endings of the rest of the file stay as they were, and the file is replaced
//     atomically (temporary file, then rename), so a reader never sees half a file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

// One INI file's lines in memory. Reading and editing never lose a line the edit does
// not concern.
class IniFile {
 public:
  IniFile() = default;
  static IniFile Parse(std::string_view text);
  // Reads a file. A missing file gives an empty IniFile; nullopt when an existing file
  // cannot be read or is far too big to be an INI file (over 64 MB).
  static std::optional<IniFile> Load(const std::string& path);
  // Writes the file atomically; false (with `error`) when it cannot be written.
  bool Save(const std::string& path, std::string* error = nullptr) const;
  std::string Text() const;

  // The value of a key, nullopt when the section or the key is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  bool HasSection(std::string_view section) const;
  // Section names in file order (duplicates included, as written).
  std::vector<std::string> SectionNames() const;
  // Key names of the section in file order (comments left out).
  std::vector<std::string> KeyNames(std::string_view section) const;
  // The section's entries as "key=value" lines (a key without '=' alone), comments and
  // blank lines left out.
  std::vector<std::string> SectionLines(std::string_view section) const;

  // Sets a key, adding the section (at the end) or the key (after the section's last
  // line) when missing. An existing key keeps its spelling and its place. Refuses (false,
  // nothing changed) what could not be read back as written: a line break anywhere, an
  // empty key, a key with '=' or starting with '[' or ';', a section name with ']'.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // True when something was removed.
  bool DeleteKey(std::string_view section, std::string_view key);
  bool DeleteSection(std::string_view section);

 private:
  struct Line {
    std::string raw;  // the line as in the file, without its end
    enum Kind { Blank, Comment, Section, Entry } kind = Blank;
    std::string name;   // section name or key, trimmed
    std::string value;  // entry value, trimmed (quotes kept)
    bool hasEquals = false;
  };
  static Line Classify(std::string raw);
  // [first, last) line range of the first matching section's body; nullopt when absent.
  std::optional<std::pair<size_t, size_t>> FindSection(std::string_view section) const;
  std::optional<size_t> FindKey(std::string_view section, std::string_view key) const;

  std::vector<Line> lines_;
  std::string eol_ = "\n";
  bool bom_ = false;
};

// The private-profile calls over a file path, in the argument order the callers know.
// `bufferSize` (when non-zero) cuts the result as a buffer of that many bytes would: at
// most bufferSize - 1 bytes, on a character boundary.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& path,
                                    size_t bufferSize = 0);
int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path);
// The section's entries ("key=value"); empty when the section is missing or has none.
std::vector<std::string> GetPrivateProfileSection(std::string_view section,
                                                  const std::string& path);
std::vector<std::string> GetPrivateProfileSectionNames(const std::string& path);
std::vector<std::string> GetPrivateProfileKeyNames(std::string_view section,
                                                   const std::string& path);
// Null `key` deletes the section, null `value` deletes the key, otherwise the key is set.
// False when the file cannot be read or written, or the text cannot be stored (see
// IniFile::Set); the file then stays as it was.
bool WritePrivateProfileString(std::string_view section, const char* key, const char* value,
                               const std::string& path);

// The leading integer of a text as an integer read takes it: blanks, an optional sign,
// digits (clamped to the int range); nullopt when there are no digits.
std::optional<int> LeadingInteger(std::string_view text);

}  // namespace orb
