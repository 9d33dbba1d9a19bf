// Runs a fuzz target once over each given input, without the fuzzing engine: how the ordinary
// build checks the seed corpus and every input that once found a fault.
//
// Arguments are files or directories (every regular file in them, in name order). Exits with
// 1 when an argument cannot be read or no input was found; a failed check in the target
// aborts. The name of each input is written to standard error before it runs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool add_inputs(const std::filesystem::path& where, std::vector<std::filesystem::path>& inputs) {
  std::error_code ec;
  if (std::filesystem::is_directory(where, ec)) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(where, ec)) {
      if (entry.is_regular_file()) found.push_back(entry.path());
    }
    if (ec) return false;
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
  }
  if (!std::filesystem::is_regular_file(where, ec)) return false;
  inputs.push_back(where);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!add_inputs(argv[i], inputs)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no input found\n");
    return 1;
  }
  for (const auto& path : inputs) {
    std::fprintf(stderr, "%s\n", path.c_str());
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs ran\n", inputs.size());
  return 0;
}
