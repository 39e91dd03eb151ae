// Main of the application's GUI tests: a plain wxApp (not the program's), the English
// language module of the build loaded as the program would, then the tests.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include "common/LanguageModule.h"
#include "common/gui/AppMessage.h"
#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/ToolkitTestMain.h"

namespace {
class GuiTestApp : public wxApp {
 public:
  bool OnInit() override { return true; }
};
}  // namespace

wxIMPLEMENT_APP_NO_MAIN(GuiTestApp);

#ifdef __SANITIZE_ADDRESS__
// GTK, GLib and D-Bus keep caches for the life of the process, which leak checking reports
// at exit; that holds for listing the tests too, where no test environment applies.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

int main(int argc, char** argv) {
  if (!orbtest::StartToolkitTests(argc, argv)) return 1;
  orb::gui::InstallMessageTransport();
  std::string err;
  auto module = orb::LanguageModule::Load(orbtest::ProgramFolder() / "Lang9.xrs", &err);
  wxString xrcErr;
  if (!module || !orb::gui::LoadXrcModule(*module, &xrcErr)) {
    fprintf(stderr, "cannot load the English module: %s %s\n", err.c_str(),
            static_cast<const char*>(xrcErr.utf8_str()));
    return 1;
  }
  orb::SetCurrentLanguage(std::move(module));
  orb::gui::ConfigureToolTips();
  return orbtest::RunToolkitTests();
}
