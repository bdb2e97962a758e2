#pragma once
// Hosting ReaderSettings.dll in a test program as the host does, and counting what the
// process holds.
//
//   TModuleWorld world;                        // host profile + sub-application folder
//   HostSim_Open(world.ProfileDir().c_str());
//   const TProcessCounts before = CountProcessResources();
//
// The world is a temporary folder: a host profile in record mode (messages go to a
// transcript, never to a box) and a sub-application folder holding the simulated reader
// library as "lurmScard_old.dll" with two readers. The counts: ProcessCounts.h.
#include <windows.h>

#include <string>

#include "ProcessCounts.h"

class TModuleWorld {
 public:
  TModuleWorld();
  ~TModuleWorld();
  TModuleWorld(const TModuleWorld&) = delete;
  TModuleWorld& operator=(const TModuleWorld&) = delete;

  const std::string& ProfileDir() const { return FProfile; }

 private:
  std::string FRoot, FProfile;
};

// The folder of the running program, where the built libraries are, with a trailing '\'.
std::string ProgramDir();

// The host's hidden application window, as the host's own is.
HWND MakeHostWindow();
// The visible reader settings dialog of this thread, or null.
HWND FindReaderDialog();
