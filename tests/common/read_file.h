#pragma once
// All bytes of a file as a string; empty when it cannot be read. Shared by the host test
// support libraries, the test server and the benchmarks.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}
