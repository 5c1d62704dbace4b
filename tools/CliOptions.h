#pragma once

// What the command-line programs share: the options of their commands, the usage text, and a
// table opened for reading in the order of a sort.

#include <initializer_list>
#include <string>
#include <vector>

namespace ulen3 {

class ObservationTable;

// The options a command takes, after its fixed arguments.
struct Options {
    std::string filter, sortField, page, tag = "tab1", rows, separator, decimal;
    bool descending = false;
};

// A page option's value: none (the observations), "observation" or "operative".
bool known_page(const std::string& page);

// False for an option the command does not take, one without its value, or an unknown page.
bool read_options(const std::vector<std::string>& args, size_t from, std::initializer_list<const char*> takes,
                  Options& o);

// Every command's usage on stderr; returns the exit code 2.
int usage();

// A command-line program's main: `command` gets the arguments (the command and the table first)
// and returns the exit code, or kNoSuchCommand for the usage. An error it throws is said as
// "ulen3-cli: …" with the exit code 1.
constexpr int kNoSuchCommand = -1;
int run_command_line(int argc, char** argv, int (*command)(char** argv, const std::vector<std::string>& args));

// A reader opens the table read-only and writes nothing: the tag of its sort lives in memory
// and goes with the close.
void open_for_reading(ObservationTable& table, const std::string& path, const std::string& sortField, bool descending);

} // namespace ulen3
