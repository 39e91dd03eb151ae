// Main of the colour-classification GUI tests: a plain wxApp standing in for the host
// program, then the tests.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

#include "tests/common/gui/ToolkitTestMain.h"

namespace {
class HostTestApp : public wxApp {
public:
  bool OnInit() override { return true; }
};
}  // namespace

wxIMPLEMENT_APP_NO_MAIN(HostTestApp);

#ifdef __SANITIZE_ADDRESS__
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

int main(int argc, char** argv) {
  if (!orbtest::StartToolkitTests(argc, argv)) return 1;
  // A logged error must not wait on a message box that nobody answers.
  delete wxLog::SetActiveTarget(new wxLogStderr);
  wxInitAllImageHandlers();
  return orbtest::RunToolkitTests();
}
