#pragma once
// JUnit XML for the end-of-line test, as CI servers read it: one <testsuites> with one
// <testsuite>, one <testcase> per check, a <failure> for each that failed.

#include "cli/check.hpp"

#include <chrono>
#include <map>
#include <string>

namespace zanst::cli {

struct JunitSuite {
    std::string name = "zanst-cli check";
    std::string hostname = "localhost";
    std::chrono::system_clock::time_point startedAt;
    std::map<std::string, std::string> properties; // port, limits, ...
};

std::string junitXml(const CheckReport& report, const JunitSuite& suite);

// Writes `xml` to `path`; on failure returns why ("Cannot write FILE: reason").
std::string writeTextFile(const std::string& path, const std::string& text);

} // namespace zanst::cli
