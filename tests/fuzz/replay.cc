// Runs a fuzz target once over every file of the folders given, where the
// fuzzer itself is not at hand (a build without libFuzzer): the test suite
// runs each target over its seeds this way. Fails when a folder has no file;
// a target ends the process itself when an input fails it.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  for (int i = 1; i < argc; ++i) {
    int inputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string data{std::istreambuf_iterator<char>(in), {}};
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
      ++inputs;
    }
    std::fprintf(stderr, "%s: %d inputs\n", argv[i], inputs);
    if (inputs == 0) return 1;
  }
  return 0;
}
