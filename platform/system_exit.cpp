#include <cstdlib>

#include "platform/process_exit.h"

namespace kel {
namespace {

// std::exit (not _exit) so that the registered exit-time handler runs and
// buffered output and files are flushed.
class StdExit : public ProcessExit {
 public:
  [[noreturn]] void Exit(int code) override { std::exit(code); }
};

}  // namespace

ProcessExit& SystemExit() {
  static StdExit exit;
  return exit;
}

}  // namespace kel
