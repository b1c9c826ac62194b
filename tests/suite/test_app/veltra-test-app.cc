// Stand-in executable of a suite app in test bundles: it runs until it is killed, or at most two
// minutes, so that a test that forgets it leaves nothing behind for long.
#include <unistd.h>

int main() {
  for (int i = 0; i < 120; ++i) ::sleep(1);
  return 0;
}
