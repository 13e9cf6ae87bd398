// Runs a fuzz target over the files and directories given on the command line (directories:
// their regular files, not recursively), as the fuzzer would feed them: the seed corpus replayed
// under any compiler. Exits 1 when an argument cannot be read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// A larger file is no seed worth replaying; the fuzzer's own inputs stay far below.
constexpr std::uintmax_t kMaxInputBytes = 4 * 1024 * 1024;

bool replay(const std::filesystem::path& file) {
    std::error_code error;
    if (std::filesystem::file_size(file, error) > kMaxInputBytes || error) {
        std::cerr << (error ? "cannot read " : "skipped ") << file << "\n";
        return !error;
    }
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return in.good() || in.eof();
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t inputs = 0;
    bool readable = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path argument(argv[i]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(argument)) {
            for (const auto& entry : std::filesystem::directory_iterator(argument)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(argument);
        }
        for (const auto& file : files) {
            readable = replay(file) && readable;
            ++inputs;
        }
    }
    std::cout << inputs << " inputs replayed\n";
    return readable && inputs > 0 ? 0 : 1;
}
