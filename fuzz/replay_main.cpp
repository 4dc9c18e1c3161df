// Runs the fuzz target once over every file of the corpus directories (or
// single files) given as arguments; used where libFuzzer is not linked in.
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

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An empty input is passed with a pointer that is valid anyway, as libFuzzer does.
  static const std::uint8_t kNothing = 0;
  const auto* data =
      bytes.empty() ? &kNothing : reinterpret_cast<const std::uint8_t*>(bytes.data());
  LLVMFuzzerTestOneInput(data, bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t runs = 0;
  bool failed = false;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, error)) {
        if (entry.is_regular_file())
          files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        failed |= !RunFile(file);
        ++runs;
      }
    } else {
      failed |= !RunFile(arg);
      ++runs;
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  // A corpus that went missing must not pass as an empty success.
  return failed || runs == 0 ? 1 : 0;
}
