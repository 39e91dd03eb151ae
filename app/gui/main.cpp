// The program's entry point. The simulated scanners that ORB_SIM_SCANNER asks for are
// attached here, by the program, before anything opens a scanner: the scanner library knows
// no simulator.
#include "app/gui/OrbalonApp.h"
#include "platform/sim/SimAttach.h"
#include "platform/sim/SimKelvane.h"

wxIMPLEMENT_APP_NO_MAIN(COrbalonApp);

int main(int argc, char** argv) {
  orb::sim::AttachEnvironmentScanners();
  orb::sim::AttachEnvironmentKelvaneScanners();
  return wxEntry(argc, argv);
}
