// Shows a bare frm_CustomDlgEx over the sample host profile and writes its window image.
//
//   shot_custom_dlg_ex OUT.bmp [PROFILE_DIR]     (PROFILE_DIR defaults to host-profile)
#include <cstdio>
#include <string>

#include "HostSim.h"
#include "dialogs/f_CustomDlgEx.h"
#include "toolkit/UserInput.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: shot_custom_dlg_ex OUT.bmp [PROFILE_DIR]\n");
    return 2;
  }
  std::string out = argv[1];
  if (HostSim_Open(argc > 2 ? argv[2] : "host-profile") != 1) {
    std::fprintf(stderr, "host profile: %s\n", HostSim_LastError());
    return 1;
  }
  bool saved = false;
  Tfrm_CustomDlgEx* dlg = NewForm<Tfrm_CustomDlgEx>(Application);
  Application->ModalDriver = [&](TCustomForm& form) {
    Application->ProcessMessages();
    saved = CaptureFormImage(form, out);
    UserCloseBox(form);
  };
  dlg->ShowModal();
  dlg->Free();
  HostSim_Close();
  return saved ? 0 : 1;
}
