// The soak's kill-and-restart mode: thousands of jobs over many printers, the relay
// killed with SIGKILL at random moments and started again, and per job the documents
// lost and the documents sent twice counted.
#pragma once

namespace soak {

struct KillSoakOptions {
  int jobs = 1000;
  int printers = 16;
  int seconds = 300;
  unsigned seed = 1;
  int kills = 10;
};

/// Runs the mode and prints its figures; the exit code: 0 when no document of a recorded
/// job was lost and every document belongs to a job.
int runKillSoak(const KillSoakOptions& options);

}  // namespace soak
