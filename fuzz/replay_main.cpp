// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a fuzz target's entry point once on every file of the given folders
// (or on the given files), the way CI replays the kept corpus without a
// coverage-guided fuzzer.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool readFile(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The files to run for one argument, in name order so runs are repeatable.
bool collect(const fs::path& argument, std::vector<fs::path>& files) {
    std::error_code error;
    if (fs::is_regular_file(argument, error)) {
        files.push_back(argument);
        return true;
    }
    if (!fs::is_directory(argument, error))
        return false;
    std::vector<fs::path> found;
    for (fs::directory_iterator it(argument, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error))
            found.push_back(it->path());
    }
    if (error)
        return false;
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!collect(argv[i], files)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    std::vector<std::uint8_t> bytes;
    for (const fs::path& file : files) {
        if (!readFile(file, bytes)) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", files.size());
    return 0;
}
