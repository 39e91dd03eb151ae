// The program's entry point.
#include "app/gui/OrbalonApp.h"

wxIMPLEMENT_APP(COrbalonApp);
