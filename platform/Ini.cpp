#include "platform/Ini.h"

#include <climits>

#include "platform/Bytes.h"
#include "platform/Files.h"

namespace orb {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string Unquote(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

std::optional<int> LeadingInteger(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (IsBlank(text[i]) || text[i] == '\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  return static_cast<int>(v);
}

IniFile::Line IniFile::Classify(std::string raw) {
  Line line;
  line.raw = std::move(raw);
  std::string t = Trim(line.raw);
  if (t.empty()) {
    line.kind = Line::Blank;
  } else if (t[0] == ';') {
    line.kind = Line::Comment;
  } else if (t[0] == '[') {
    line.kind = Line::Section;
    size_t close = t.find(']');
    line.name = Trim(std::string_view(t).substr(1, close == std::string::npos ? std::string::npos
                                                                              : close - 1));
  } else {
    line.kind = Line::Entry;
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      line.name = t;
    } else {
      line.hasEquals = true;
      line.name = Trim(std::string_view(t).substr(0, eq));
      line.value = Trim(std::string_view(t).substr(eq + 1));
    }
  }
  return line;
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
    ini.bom_ = true;
    text.remove_prefix(3);
  }
  bool sawCrLf = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view raw = text.substr(pos, end - pos);
    if (!raw.empty() && raw.back() == '\r') {
      raw.remove_suffix(1);
      sawCrLf = true;
    }
    ini.lines_.push_back(Classify(std::string(raw)));
    pos = end + 1;
  }
  if (sawCrLf) ini.eol_ = "\r\n";
  return ini;
}

std::optional<IniFile> IniFile::Load(const std::string& path) {
  // Far beyond any batch file or preset; a bigger file is not one of ours.
  constexpr uint64_t kMaxIniBytes = 64u << 20;
  if (!FileExists(path)) return IniFile();
  if (FileSize(path).value_or(0) > kMaxIniBytes) return std::nullopt;
  auto text = ReadTextFile(path);
  if (!text) return std::nullopt;
  return Parse(*text);
}

std::string IniFile::Text() const {
  std::string out = bom_ ? "\xEF\xBB\xBF" : "";
  for (const Line& l : lines_) out += l.raw + eol_;
  return out;
}

bool IniFile::Save(const std::string& path, std::string* error) const {
  return WriteFileAtomically(path, Text(), error);
}

std::optional<std::pair<size_t, size_t>> IniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Line::Section || !SameName(lines_[i].name, section)) continue;
    size_t end = i + 1;
    while (end < lines_.size() && lines_[end].kind != Line::Section) ++end;
    return std::make_pair(i + 1, end);
  }
  return std::nullopt;
}

std::optional<size_t> IniFile::FindKey(std::string_view section, std::string_view key) const {
  auto range = FindSection(section);
  if (!range) return std::nullopt;
  for (size_t i = range->first; i < range->second; ++i)
    if (lines_[i].kind == Line::Entry && SameName(lines_[i].name, key)) return i;
  return std::nullopt;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  auto at = FindKey(section, key);
  if (!at) return std::nullopt;
  return Unquote(lines_[*at].value);
}

bool IniFile::HasSection(std::string_view section) const {
  return FindSection(section).has_value();
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& l : lines_)
    if (l.kind == Line::Section) names.push_back(l.name);
  return names;
}

std::vector<std::string> IniFile::KeyNames(std::string_view section) const {
  std::vector<std::string> keys;
  if (auto range = FindSection(section))
    for (size_t i = range->first; i < range->second; ++i)
      if (lines_[i].kind == Line::Entry) keys.push_back(lines_[i].name);
  return keys;
}

std::vector<std::string> IniFile::SectionLines(std::string_view section) const {
  std::vector<std::string> out;
  if (auto range = FindSection(section))
    for (size_t i = range->first; i < range->second; ++i) {
      const Line& l = lines_[i];
      if (l.kind == Line::Entry) out.push_back(l.hasEquals ? l.name + "=" + l.value : l.name);
    }
  return out;
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  auto hasBreak = [](std::string_view s) { return s.find_first_of("\r\n") != s.npos; };
  std::string k = Trim(key);
  if (hasBreak(section) || hasBreak(key) || hasBreak(value) || k.empty() ||
      k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';' ||
      section.find(']') != std::string_view::npos) {
    return false;
  }
  if (auto at = FindKey(section, k)) {
    lines_[*at] = Classify(lines_[*at].name + "=" + std::string(value));
    return true;
  }
  if (auto range = FindSection(section)) {
    // After the section's last non-blank line, so a blank line before the next section
    // stays where it is.
    size_t insert = range->first;
    for (size_t i = range->first; i < range->second; ++i)
      if (lines_[i].kind != Line::Blank) insert = i + 1;
    lines_.insert(lines_.begin() + static_cast<long>(insert), Classify(k + "=" + std::string(value)));
    return true;
  }
  if (!lines_.empty() && lines_.back().kind != Line::Blank) lines_.push_back(Classify(""));
  lines_.push_back(Classify("[" + Trim(section) + "]"));
  lines_.push_back(Classify(k + "=" + std::string(value)));
  return true;
}

bool IniFile::DeleteKey(std::string_view section, std::string_view key) {
  auto at = FindKey(section, Trim(key));
  if (!at) return false;
  lines_.erase(lines_.begin() + static_cast<long>(*at));
  return true;
}

bool IniFile::DeleteSection(std::string_view section) {
  auto range = FindSection(section);
  if (!range) return false;
  lines_.erase(lines_.begin() + static_cast<long>(range->first - 1),
               lines_.begin() + static_cast<long>(range->second));
  return true;
}

namespace {

IniFile LoadOrEmpty(const std::string& path) {
  auto ini = IniFile::Load(path);
  return ini ? std::move(*ini) : IniFile();
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string& path,
                                    size_t bufferSize) {
  auto value = LoadOrEmpty(path).Get(section, key);
  std::string out = value ? *value : Trim(defaultValue);
  if (bufferSize > 0) out.resize(Utf8PrefixLength(out, bufferSize - 1));
  return out;
}

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path) {
  auto value = LoadOrEmpty(path).Get(section, key);
  if (!value) return defaultValue;
  return LeadingInteger(*value).value_or(defaultValue);
}

std::vector<std::string> GetPrivateProfileSection(std::string_view section,
                                                  const std::string& path) {
  return LoadOrEmpty(path).SectionLines(section);
}

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& path) {
  return LoadOrEmpty(path).SectionNames();
}

std::vector<std::string> GetPrivateProfileKeyNames(std::string_view section,
                                                   const std::string& path) {
  return LoadOrEmpty(path).KeyNames(section);
}

bool WritePrivateProfileString(std::string_view section, const char* key, const char* value,
                               const std::string& path) {
  auto ini = IniFile::Load(path);
  if (!ini) return false;
  bool changed;
  if (!key) {
    changed = ini->DeleteSection(section);
  } else if (!value) {
    changed = ini->DeleteKey(section, key);
  } else {
    if (!ini->Set(section, key, value)) return false;
    changed = true;
  }
  if (!changed) return true;  // nothing to delete: the file stays untouched
  return ini->Save(path);
}

}  // namespace orb
