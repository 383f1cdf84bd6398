// klremote-cli as a function: arguments in, exit status out (0 success, 1 link failure,
// 2 usage error).
#pragma once

#include <ostream>
#include <string>
#include <vector>

int RunCli(const std::vector<std::string> &args, std::ostream &out, std::ostream &err);
