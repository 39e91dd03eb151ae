#include "common/LanguageModule.h"

#include <algorithm>
#include <charconv>

namespace orb {

namespace {
std::unique_ptr<LanguageModule> g_current;

bool ParseId(std::string_view s, int* id) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *id);
  return ec == std::errc() && p == s.data() + s.size();
}
}  // namespace

std::set<int> NumericObjectNames(const std::string& xrc) {
  std::set<int> ids;
  auto space = [&](size_t i) { return i < xrc.size() && (xrc[i] == ' ' || xrc[i] == '\t' || xrc[i] == '\n' || xrc[i] == '\r'); };
  for (size_t pos = xrc.find("name"); pos != std::string::npos; pos = xrc.find("name", pos + 4)) {
    // An attribute: preceded by white space, then optional blanks, '=', blanks, a quote.
    if (pos == 0 || !space(pos - 1)) continue;
    size_t i = pos + 4;
    while (space(i)) ++i;
    if (i >= xrc.size() || xrc[i] != '=') continue;
    ++i;
    while (space(i)) ++i;
    if (i >= xrc.size() || (xrc[i] != '"' && xrc[i] != '\'')) continue;
    char quote = xrc[i++];
    size_t end = xrc.find(quote, i);
    if (end == std::string::npos) break;
    int id = 0;
    if (ParseId(std::string_view(xrc).substr(i, end - i), &id)) ids.insert(id);
  }
  return ids;
}

bool ParseStringTable(const std::string& text, std::map<int, std::string>* out, std::string* error) {
  size_t pos = 0;
  int lineNo = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string_view line(text.data() + pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    if (line.empty() || line.front() == '#') continue;
    size_t tab = line.find('\t');
    int id = 0;
    if (tab == std::string_view::npos || !ParseId(line.substr(0, tab), &id)) {
      if (error) *error = "string table line " + std::to_string(lineNo) + " is not id<TAB>text";
      return false;
    }
    std::string value;
    std::string_view raw = line.substr(tab + 1);
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size()) {
        char n = raw[++i];
        value += n == 'n' ? '\n' : n == 't' ? '\t' : n;
      } else {
        value += raw[i];
      }
    }
    out->emplace(id, std::move(value));
  }
  return true;
}

std::unique_ptr<LanguageModule> LanguageModule::Load(const std::filesystem::path& file,
                                                     std::string* error) {
  std::string err;
  auto zip = ZipReader::Open(file, &err);
  if (!zip) {
    if (error) *error = err;
    return nullptr;
  }
  std::unique_ptr<LanguageModule> m(new LanguageModule(file, std::move(*zip)));
  auto strings = m->zip_.Read(kStringsMember, &err);
  auto xrc = strings ? m->zip_.Read(kXrcMember, &err) : std::nullopt;
  if (!strings || !xrc) {
    if (error) *error = file.filename().string() + ": " + err;
    return nullptr;
  }
  if (!ParseStringTable(*strings, &m->strings_, &err)) {
    if (error) *error = file.filename().string() + ": " + err;
    return nullptr;
  }
  m->xrc_ = std::move(*xrc);
  m->xrcIds_ = NumericObjectNames(m->xrc_);
  return m;
}

std::string LanguageModule::String(int id) const {
  auto it = strings_.find(id);
  return it == strings_.end() ? std::string() : it->second;
}

std::string LanguageModuleFileName(int primaryLanguageId) {
  return "Lang" + std::to_string(primaryLanguageId) + ".xrs";
}

std::filesystem::path LanguageModulePath(const std::filesystem::path& programFolder,
                                         int primaryLanguageId) {
  return programFolder / LanguageModuleFileName(primaryLanguageId);
}

std::vector<int> ListLanguageModules(const std::filesystem::path& programFolder) {
  std::vector<int> ids;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator(programFolder, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() <= 8 || name.compare(0, 4, "Lang") != 0 ||
        name.compare(name.size() - 4, 4, ".xrs") != 0)
      continue;
    int id = 0;
    if (ParseId(std::string_view(name).substr(4, name.size() - 8), &id) &&
        it->is_regular_file(ec))
      ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

LanguageChoice ChooseLanguageModule(const std::filesystem::path& programFolder, int primaryLanguageId) {
  LanguageChoice choice;
  choice.requestedName = LanguageModuleFileName(primaryLanguageId);
  choice.module = LanguageModule::Load(LanguageModulePath(programFolder, primaryLanguageId), &choice.error);
  if (choice.module) return choice;
  if (primaryLanguageId != kEnglishLanguageId) choice.usedFallback = true;
  std::string err;
  choice.module = LanguageModule::Load(LanguageModulePath(programFolder, kEnglishLanguageId), &err);
  if (!choice.module) choice.error = err;
  return choice;
}

void SetCurrentLanguage(std::unique_ptr<LanguageModule> module) { g_current = std::move(module); }
const LanguageModule* CurrentLanguage() { return g_current.get(); }
std::string LoadString(int id) { return g_current ? g_current->String(id) : std::string(); }

}  // namespace orb
