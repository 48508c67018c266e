// The scenarios the driver runs, each between real processes, each printing one line of
// figures and one line per failed expectation.
#pragma once

#include <string>
#include <vector>

namespace stress {

// Runs the named scenarios ("all" for every one); 0 when all passed, 1 when one failed, 2 for
// an unknown name.
int RunScenarios(const std::vector<std::string>& names);

}  // namespace stress
