// The output files, each written under a temporary name beside its own and
// put in place only when the whole import succeeded: a failure leaves every
// file as it was.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace brix::importer {

// Throws Failure when `path` is a directory, or a file that exists and
// `force` is false.
void check_output(const std::string& path, bool force);

// A file written under a temporary name beside its own, put in place by
// publish(); the temporary file is removed unless it was published.
class Staged {
 public:
  explicit Staged(const std::string& path);
  ~Staged();
  Staged(const Staged&) = delete;
  Staged& operator=(const Staged&) = delete;

  void write(const char* data, std::size_t size) { std::fwrite(data, 1, size, file_); }
  void write(const std::string& s) { write(s.data(), s.size()); }
  // Completes the file; throws Failure when it could not be written.
  void close();
  // Renames the file to its own name; without `replace`, never over a file.
  void publish(bool replace);
  // Removes the published file.
  void withdraw();

 private:
  std::string path_, temp_;
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  bool published_ = false;
};

}  // namespace brix::importer
