// The hostile suite: what a careless user or an attacker does to the program, end to end through
// pelloran-cli. Cases of one kind live in the files of tests/hostile/.

#include "tests/hostile/HostileSupport.h"

namespace pelloran::test {
namespace {

namespace fs = std::filesystem;

}  // namespace
}  // namespace pelloran::test
