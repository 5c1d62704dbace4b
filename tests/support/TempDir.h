#pragma once

#include <string>
#include <vector>

namespace ulen3::test {

// A fresh folder under /tmp, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::vector<unsigned char> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<unsigned char>& bytes);
// Runs a shell command; returns its standard output and sets `status` to its exit code.
std::string run_command(const std::string& command, int* status = nullptr);

} // namespace ulen3::test
