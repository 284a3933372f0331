// Replay driver for the fuzz targets when they are built without libFuzzer (CI, any compiler):
//   TARGET [--mutations N] CORPUS_FOLDER_OR_FILE...
// runs every corpus file, then N deterministic mutations of each (default 64 here, 200 in the CTest
// replay; or the value of FUZZ_REPLAY_MUTATIONS). A crash, sanitizer report, escaped exception or
// an input that runs longer than kInputSeconds fails the run; the input is written to
// fuzz-finding-<target>.bin in the current directory so it can be replayed alone.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

constexpr unsigned kInputSeconds = 20;

std::string g_target = "target";
std::string g_finding_path;  // absolute: a target may change the current directory
std::string g_current_name;
std::vector<uint8_t> g_current;

// Saves the input that failed; async-signal-safe enough for the paths below (plain syscalls).
void SaveFinding() {
  const std::string& name = g_finding_path;
  FILE* out = std::fopen(name.c_str(), "wb");
  if (out != nullptr) {
    std::fwrite(g_current.data(), 1, g_current.size(), out);
    std::fclose(out);
  }
  std::fprintf(stderr, "replay: finding in %s, input saved as %s\n", g_current_name.c_str(),
               name.c_str());
}

void OnAlarm(int) {
  std::fprintf(stderr, "replay: input ran longer than %u s\n", kInputSeconds);
  SaveFinding();
  std::_Exit(1);
}

void OnSignal(int signal_number) {
  SaveFinding();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

void OnTerminate() {
  std::fprintf(stderr, "replay: an exception escaped the reader\n");
  SaveFinding();
  std::abort();
}

// xorshift64*: the same mutations on every machine and run.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  size_t Below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(Next() % n); }

 private:
  uint64_t state_;
};

// Tokens that readers of counts, numbers, texts and lists have to survive.
// clang-format off
const char* const kTokens[] = {"0",          "-1",       "1",     "2147483647", "2147483648",
                               "4294967296", "1e308",    "-1e308", "1.8e308",   "nan",
                               "inf",        "-inf",     "1e-320", "99999999",  "stop-dep",
                               "(",          ")",        ",",      "=",         "\n",
                               " ",          "\t",       "\r\n",   ":",         "\"",
                               "\xFF\xFF\xFF\xFF", "\xFF\xFE\xFF", "\xC3\xA9", "\x80", "#"};
// clang-format on

void Mutate(std::vector<uint8_t>& bytes, Random& random) {
  const int steps = 1 + static_cast<int>(random.Below(4));
  for (int step = 0; step < steps; ++step) {
    const size_t at = random.Below(bytes.size() + 1);
    switch (random.Below(7)) {
      case 0:  // flip a bit
        if (!bytes.empty()) bytes[random.Below(bytes.size())] ^= uint8_t(1u << random.Below(8));
        break;
      case 1:  // set a byte to a boundary value
        if (!bytes.empty()) {
          static const uint8_t kValues[] = {0, 0x7F, 0x80, 0xFF, ' ', '\n', '-', '9'};
          bytes[random.Below(bytes.size())] = kValues[random.Below(std::size(kValues))];
        }
        break;
      case 2: {  // insert a token
        const char* token = kTokens[random.Below(std::size(kTokens))];
        bytes.insert(bytes.begin() + at, token, token + std::strlen(token));
        break;
      }
      case 3: {  // replace a run of digits by a token
        size_t begin = at;
        while (begin < bytes.size() && !std::isdigit(bytes[begin])) ++begin;
        size_t end = begin;
        while (end < bytes.size() && (std::isdigit(bytes[end]) || bytes[end] == '.')) ++end;
        const char* token = kTokens[random.Below(16)];
        bytes.erase(bytes.begin() + begin, bytes.begin() + end);
        bytes.insert(bytes.begin() + begin, token, token + std::strlen(token));
        break;
      }
      case 4: {  // delete a range
        const size_t length = std::min(bytes.size() - std::min(at, bytes.size()), random.Below(64));
        bytes.erase(bytes.begin() + at, bytes.begin() + at + length);
        break;
      }
      case 5: {  // duplicate a range
        if (bytes.empty()) break;
        const size_t begin = random.Below(bytes.size());
        const size_t length = std::min(bytes.size() - begin, 1 + random.Below(128));
        const std::vector<uint8_t> copy(bytes.begin() + begin, bytes.begin() + begin + length);
        bytes.insert(bytes.begin() + at, copy.begin(), copy.end());
        break;
      }
      default:  // truncate
        bytes.resize(at);
        break;
    }
  }
}

void Run(const std::vector<uint8_t>& bytes, const std::string& name) {
  g_current = bytes;
  g_current_name = name;
  alarm(kInputSeconds);
  LLVMFuzzerTestOneInput(g_current.data(), g_current.size());
  alarm(0);
}

uint64_t Fingerprint(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (const uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

std::vector<fs::path> CorpusFiles(const std::vector<std::string>& arguments) {
  std::vector<fs::path> files;
  for (const std::string& argument : arguments) {
    if (fs::is_directory(argument)) {
      for (const auto& entry : fs::directory_iterator(argument))
        if (entry.is_regular_file()) files.push_back(fs::absolute(entry.path()));
    } else {
      files.push_back(fs::absolute(argument));
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  g_target = fs::path(argv[0]).filename().string();
  g_finding_path = (fs::current_path() / ("fuzz-finding-" + g_target + ".bin")).string();
  long mutations = 64;
  if (const char* env = std::getenv("FUZZ_REPLAY_MUTATIONS")) mutations = std::atol(env);
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--mutations") == 0 && i + 1 < argc) {
      mutations = std::atol(argv[++i]);
    } else {
      arguments.emplace_back(argv[i]);
    }
  }
  if (arguments.empty()) {
    std::cerr << "Usage: " << g_target << " [--mutations N] CORPUS_FOLDER_OR_FILE...\n";
    return 2;
  }
  std::signal(SIGALRM, OnAlarm);
  std::set_terminate(OnTerminate);
  if (__sanitizer_set_death_callback != nullptr) {
    __sanitizer_set_death_callback(SaveFinding);  // the sanitizers keep their own handlers
  } else {
    std::signal(SIGSEGV, OnSignal);
    std::signal(SIGABRT, OnSignal);
    std::signal(SIGFPE, OnSignal);
  }

  const std::vector<fs::path> files = CorpusFiles(arguments);
  if (files.empty()) {
    std::cerr << "replay: no corpus files\n";
    return 2;
  }
  long runs = 0;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> seed((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    Run(seed, file.string());
    ++runs;
    Random random(Fingerprint(seed));
    for (long k = 0; k < mutations; ++k) {
      std::vector<uint8_t> mutated = seed;
      Mutate(mutated, random);
      Run(mutated, file.string() + " mutation " + std::to_string(k));
      ++runs;
    }
  }
  // printf: a target may have silenced std::cout.
  std::printf("%s: %ld inputs from %zu corpus files, no finding\n", g_target.c_str(), runs,
              files.size());
  return 0;
}
