// The one-shot service options of the command line: "--service",
// "--install-service" and "--uninstall-service", scanned in that order.
#pragma once

#include <string>
#include <vector>

// True when one of them was given; *code is then the process exit code.
bool service_entry(const std::vector<std::string>& args, int* code);
