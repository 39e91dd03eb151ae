// Main of the colour-classification GUI tests: a plain wxApp standing in for the host
// program, then the tests.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <wx/log.h>

namespace {
class HostTestApp : public wxApp {
public:
  bool OnInit() override { return true; }
};

void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
  ADD_FAILURE_AT(static_cast<const char*>(file.utf8_str()), line)
      << "toolkit assertion " << cond << " in " << func << ": " << msg;
}
}  // namespace

wxIMPLEMENT_APP_NO_MAIN(HostTestApp);

#ifdef __SANITIZE_ADDRESS__
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wxSetAssertHandler(&FailOnAssert);
  if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
    fprintf(stderr, "cannot start the toolkit (no display?)\n");
    return 1;
  }
  // A logged error must not wait on a message box that nobody answers.
  delete wxLog::SetActiveTarget(new wxLogStderr);
  wxInitAllImageHandlers();
  const int rc = RUN_ALL_TESTS();
  wxTheApp->OnExit();
  wxEntryCleanup();
  return rc;
}
