// Without HostSim_Open, the stand-in host opens the profile folder named by RS_HOST_PROFILE
// at its first use. This program makes no other host call before the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "HostWorld.h"
#include "host/HostApi.h"
#include "host/HostString.h"

namespace {

void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

TEST(HostEnv, FirstUseOpensTheProfileNamedByTheEnvironment) {
  HostWorld world({{"Host.ini", "[Host]\nLog=env.log\n[SubApp]\nCode=ENV01\n"}},
                  /*open=*/false);
  SetEnv("RS_HOST_PROFILE", world.Dir());
  Error("1", "before any ModuleLib call");
  HostString code;
  GetCurSubAppCode(code.Out());
  EXPECT_EQ(code.View(), "ENV01");
  std::string log = world.Read("env.log");
  EXPECT_NE(log.find("[1] before any ModuleLib call\n"), std::string::npos) << log;
  SetEnv("RS_HOST_PROFILE", "");
}

}  // namespace
