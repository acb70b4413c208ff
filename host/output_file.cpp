#include "host/output_file.h"

bool PlanOutput(const std::string& name, bool force, const std::vector<Guarded>& guarded,
                OutputPlan* plan, std::string* why) {
  *plan = OutputPlan{};
  plan->name = name;
  plan->target = name;
  if (name == "-") {
    plan->way = OutputWay::kStandardOutput;
    *why = GuardOn(StandardOutputId(), guarded);
    return why->empty();
  }
  ExistingOutput existing;
  if (!InspectOutput(name, &existing, why)) return false;
  if (!existing.exists) {
    plan->way = OutputWay::kCreate;  // through a dangling link: the file it names
    return OutputTarget(name, &plan->target, why);
  }
  *why = GuardOn(existing.id, guarded);
  if (!why->empty()) return false;
  if (!existing.folder.empty()) {
    *why = existing.folder + " (-d DIR names the outputs' folder)";
    return false;
  }
  if (SameFile(existing.id, StandardOutputId())) {
    plan->way = OutputWay::kStandardOutput;
  } else if (!existing.regular) {
    // Opened by its own name, which the system resolves (/dev/stdout to a pipe, say).
    plan->way = OutputWay::kThrough;
  } else if (!force) {
    *why = "exists; not replaced (-f replaces it, -o or -d writes elsewhere)";
    return false;
  } else {
    plan->way = OutputWay::kReplace;
    return OutputTarget(name, &plan->target, why);
  }
  return true;
}

bool WriteOutput(const OutputPlan& plan, const std::vector<unsigned char>& bytes,
                 std::string* why) {
  if (plan.way == OutputWay::kStandardOutput || plan.way == OutputWay::kThrough) {
    return WriteThrough(plan, bytes, why);
  }
  return WriteAtomically(plan, bytes, why);
}
