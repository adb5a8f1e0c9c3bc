// lumo_faults PLAN [lumo's arguments]: lumo with the faults of PLAN (see fault_plan.h) put into
// the calls it makes, and its read-ahead set by PLAN's first words: "plain" (none), "slow" (every
// thread let run at once, as on a cold disk) and "unbatched" (no io_uring), each followed by a
// comma, or none of them (as lumo sets it).
#include <cstdio>
#include <string>

#include "cli/driver.h"
#include "faults/fault_plan.h"
#include "platform/console.h"
#include "platform/posix/fetch_queue.h"
#include "platform/posix/head_reader.h"
#include "platform/process.h"
#include "platform/read_ahead.h"

namespace {

// Takes the leading word of `plan` when it is `word`.
bool TakeWord(std::string* plan, const std::string& word) {
  if (plan->compare(0, word.size(), word) != 0) return false;
  if (plan->size() > word.size() && (*plan)[word.size()] != ',') return false;
  plan->erase(0, std::min(plan->size(), word.size() + 1));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: lumo_faults PLAN [arguments]\n");
    return 2;
  }
  std::string plan = argv[1];
  PrepareProcess(&argc, &argv);
  for (bool more = true; more;) {
    more = false;
    if (TakeWord(&plan, "plain")) more = true, SetReadAheadThreads(0);
    if (TakeWord(&plan, "slow")) more = true, SetReadAheadThreadsAsOnASlowDisk(8);
    if (TakeWord(&plan, "unbatched")) more = true, SetHeadReadsBatched(false);
  }
  if (!SetFaultPlan(plan)) {
    fprintf(stderr, "lumo_faults: cannot read the plan \"%s\"\n", plan.c_str());
    return 2;
  }
  argv[1] = argv[0];
  int status = RunLumo(argc - 1, argv + 1);
  if (!FinishOutput()) status = 1;
  return status;
}
