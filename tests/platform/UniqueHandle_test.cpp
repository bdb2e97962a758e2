// The one owner type for handles: each handle closed exactly once, by its last owner;
// the empty value never closed.
#include "platform/UniqueHandle.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

std::vector<int> gClosed;

struct RecordClose {
  void operator()(int handle) const noexcept { gClosed.push_back(handle); }
};
using Owned = UniqueHandle<int, RecordClose>;

TEST(UniqueHandle, EveryHandleIsClosedOnceByItsLastOwner) {
  struct Case {
    const char* name;
    std::function<void()> body;
    std::vector<int> closed;  // in the order they were closed
  };
  const Case cases[] = {
      {"end of scope", [] { Owned h(7); }, {7}},
      {"empty value is never closed",
       [] {
         Owned h;
         Owned zero(0);
       },
       {}},
      {"reset closes the old handle first",
       [] {
         Owned h(1);
         h.Reset(2);
         EXPECT_EQ(gClosed, std::vector<int>{1});
       },
       {1, 2}},
      {"release gives the handle up",
       [] {
         Owned h(3);
         EXPECT_EQ(h.Release(), 3);
         EXPECT_FALSE(h);
       },
       {}},
      {"move leaves the source empty",
       [] {
         Owned a(4);
         Owned b(std::move(a));
         EXPECT_FALSE(a);  // NOLINT(bugprone-use-after-move): stated empty value
         EXPECT_EQ(b.Get(), 4);
       },
       {4}},
      {"move assignment closes the target's own handle",
       [] {
         Owned a(5);
         Owned b(6);
         b = std::move(a);
         EXPECT_EQ(gClosed, std::vector<int>{6});
       },
       {6, 5}},
      {"self move assignment keeps the handle",
       [] {
         Owned a(8);
         Owned& same = a;
         a = std::move(same);
         EXPECT_EQ(a.Get(), 8);
       },
       {8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gClosed.clear();
    c.body();
    EXPECT_EQ(gClosed, c.closed);
  }
}

}  // namespace
