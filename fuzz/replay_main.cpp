// Replays stored inputs through LLVMFuzzerTestOneInput without libFuzzer:
// every regular file of the folders (or the files) named on the command line,
// in name order. A failed check aborts inside the target; this program only
// fails itself when there is nothing to replay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);

namespace {

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& arg) {
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  if (std::filesystem::is_directory(arg, error)) {
    for (const auto& entry : std::filesystem::directory_iterator(arg)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
  } else {
    inputs.push_back(arg);
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    for (const std::filesystem::path& input : InputsOf(argv[i])) {
      std::ifstream stream(input, std::ios::binary);
      if (!stream) {
        std::fprintf(stderr, "cannot read %s\n", input.string().c_str());
        return 1;
      }
      const std::vector<char> bytes((std::istreambuf_iterator<char>(stream)),
                                    std::istreambuf_iterator<char>());
      // A zero-length vector's data() may be null; libFuzzer passes a
      // pointer in every case.
      static const std::uint8_t kEmpty = 0;
      const std::uint8_t* data =
          bytes.empty() ? &kEmpty
                        : reinterpret_cast<const std::uint8_t*>(bytes.data());
      LLVMFuzzerTestOneInput(data, bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed == 0 ? 1 : 0;
}
