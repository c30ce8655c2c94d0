// The publisher's commands, each run from a parsed command line.
#pragma once

#include <map>
#include <string>
#include <vector>

struct CommandLine {
    std::vector<std::string> m_args;               // the operands, in order
    std::map<std::string, std::string> m_options;  // "--keep" -> "3"; a flag maps to ""

    bool Has(const char* pszOption) const { return m_options.count(pszOption) != 0; }
    std::string Value(const char* pszOption, const char* pszDefault) const {
        auto it = m_options.find(pszOption);
        return it == m_options.end() ? pszDefault : it->second;
    }
};

// Each returns the exit status: 0 done, 1 refused or failed, 2 wrong command line.
int RunPublish(const CommandLine& line);
int RunRollback(const CommandLine& line);
int RunCheck(const CommandLine& line);
int RunKeygen(const CommandLine& line);
