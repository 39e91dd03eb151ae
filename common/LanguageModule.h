// The language module: a zip archive "Lang<id>.xrs" in the program folder holding the XRC
// resources (dialogs, pages, menus, toolbar, each named by its numeric id), a UTF-8 string
// table and images. The string table and the list of ids are read here, without a display;
// the GUI layer hands the same file to the XRC loader.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/ZipReader.h"

namespace orb {

inline constexpr int kEnglishLanguageId = 9;
inline constexpr const char* kXrcMember = "orbalon.xrc";
inline constexpr const char* kStringsMember = "strings.txt";

// The fixed texts shown before (or instead of) any language module.
inline constexpr const char* kLanguageFallbackMessage =
    "Unable to load language resource %s, defaulting to English";
inline constexpr const char* kNoEnglishModuleMessage =
    "Unable to load the English language resource %s. The program cannot start; "
    "please reinstall it.";

class LanguageModule {
 public:
  // Opens the module and reads its string table; nullptr with *error when the file is
  // missing, is not a module or its table is damaged.
  static std::unique_ptr<LanguageModule> Load(const std::filesystem::path& file, std::string* error);

  const std::filesystem::path& File() const { return file_; }
  // The string with this id; empty when the module has none.
  std::string String(int id) const;
  bool HasString(int id) const { return strings_.count(id) != 0; }
  const std::map<int, std::string>& Strings() const { return strings_; }
  // The XRC document and the numeric object names it defines.
  const std::string& Xrc() const { return xrc_; }
  const std::set<int>& XrcIds() const { return xrcIds_; }
  const ZipReader& Archive() const { return zip_; }

 private:
  LanguageModule(std::filesystem::path file, ZipReader zip) : file_(std::move(file)), zip_(std::move(zip)) {}
  std::filesystem::path file_;
  ZipReader zip_;
  std::map<int, std::string> strings_;
  std::string xrc_;
  std::set<int> xrcIds_;
};

// Parses "id<TAB>text" lines; "\n", "\t" and "\\" in the text are escapes, lines starting
// with '#' and empty lines are skipped. The first definition of an id wins. False with
// *error on a malformed line (the line number is named).
bool ParseStringTable(const std::string& text, std::map<int, std::string>* out, std::string* error);

// The numeric values of the name="..." attributes of an XRC document.
std::set<int> NumericObjectNames(const std::string& xrc);

// "Lang<id>.xrs"; and the path of that module in the program folder. Modules are only ever
// taken from the program folder, never from the working folder or a search path.
std::string LanguageModuleFileName(int primaryLanguageId);
std::filesystem::path LanguageModulePath(const std::filesystem::path& programFolder, int primaryLanguageId);

// The language modules present in the program folder ("Lang<digits>.xrs"), sorted by id.
std::vector<int> ListLanguageModules(const std::filesystem::path& programFolder);

// The module for the stored language id, falling back to English. *usedFallback tells the
// caller to show kLanguageFallbackMessage naming *requestedName. nullptr when even the
// English module cannot be loaded (*error says why).
struct LanguageChoice {
  std::unique_ptr<LanguageModule> module;
  bool usedFallback = false;
  std::string requestedName;
  std::string error;
};
LanguageChoice ChooseLanguageModule(const std::filesystem::path& programFolder, int primaryLanguageId);

// The module every part of the program takes its texts from (set once at start-up).
void SetCurrentLanguage(std::unique_ptr<LanguageModule> module);
const LanguageModule* CurrentLanguage();
// The current module's string, empty without a module or string.
std::string LoadString(int id);

}  // namespace orb
