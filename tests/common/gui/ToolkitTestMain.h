// The toolkit's start and end around a GUI test program's tests, for the mains of the
// application's and the colour-classification component's GUI tests.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include <cstdio>

namespace orbtest {

// A toolkit assertion fails the running test instead of waiting on a dialog nobody answers.
inline void FailOnToolkitAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                                const wxString& msg) {
  ADD_FAILURE_AT(static_cast<const char*>(file.utf8_str()), line)
      << "toolkit assertion " << cond << " in " << func << ": " << msg;
}

// Takes the test options, then starts the toolkit with the program's test app; false, said
// on standard error, when it cannot start (no display).
inline bool StartToolkitTests(int& argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  wxSetAssertHandler(&FailOnToolkitAssert);
  if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
    std::fprintf(stderr, "cannot start the toolkit (no display?)\n");
    return false;
  }
  return true;
}

// Runs the tests, then ends the toolkit; the test program's exit code.
inline int RunToolkitTests() {
  const int rc = RUN_ALL_TESTS();
  wxTheApp->OnExit();
  wxEntryCleanup();
  return rc;
}

}  // namespace orbtest
