// The mutation driver of the fuzz targets where libFuzzer is not available
// (see Fuzz.h), and the scratch files every target shares.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "Fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace pmfuzz {

namespace {
std::string& scratchDir() {
  static std::string* d = [] {
    char tmpl[] = "/tmp/pm-fuzz-XXXXXX";
    auto* s = new std::string(mkdtemp(tmpl) ? tmpl : "/tmp");
    std::atexit([] { std::filesystem::remove_all(scratchDir()); });
    return s;
  }();
  return *d;
}
}  // namespace

const std::string& scratchFile(const char* suffix) {
  static std::map<std::string, std::string> files;
  auto it = files.find(suffix);
  if (it == files.end()) it = files.emplace(suffix, scratchDir() + "/input" + suffix).first;
  return it->second;
}

const std::string& writeScratch(const uint8_t* data, size_t size, const char* suffix) {
  const std::string& p = scratchFile(suffix);
  std::ofstream o(p, std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return p;
}

}  // namespace pmfuzz

#ifdef PM_STANDALONE_FUZZ

// Present only when a sanitizer is linked in.
extern "C" void __sanitizer_set_death_callback(void (*)(void)) __attribute__((weak));

namespace {

// The input under test and where it goes when the run dies; never
// destroyed, since the sanitizer's death callback may run after exit-time
// destructors (a leak found at exit).
std::vector<uint8_t>& current = *new std::vector<uint8_t>;
std::string& target = *new std::string;

void save(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t done = 0;
  while (done < current.size()) {
    ssize_t n = ::write(fd, current.data() + done, current.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
}

void saveCrash() {
  static int n = 0;
  save("crash-" + target + "-" + std::to_string(getpid()) + "-" + std::to_string(n++));
}

// An input that runs too long is a finding too: saved, and the run ends.
void onAlarm(int) {
  save("timeout-" + target + "-" + std::to_string(getpid()));
  static const char msg[] = "an input ran past the time limit; saved as timeout-*\n";
  (void)!::write(2, msg, sizeof msg - 1);
  _exit(70);
}

std::vector<uint8_t> readAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  std::string b = s.str();
  return {b.begin(), b.end()};
}

void mutate(std::vector<uint8_t>& c, std::mt19937_64& rng, const std::vector<std::string>& tokens) {
  int edits = 1 + static_cast<int>(rng() % 8);
  for (int e = 0; e < edits; ++e) {
    if (c.empty()) c.push_back(static_cast<uint8_t>(rng()));
    size_t at = rng() % c.size();
    switch (rng() % (tokens.empty() ? 6 : 8)) {
      case 0:
        c[at] = static_cast<uint8_t>(rng());
        break;
      case 1:
        c[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
        break;
      case 2:
        c.erase(c.begin() + static_cast<long>(at),
                c.begin() + static_cast<long>(std::min(c.size(), at + 1 + rng() % 64)));
        break;
      case 3:
        c.insert(c.begin() + static_cast<long>(at), static_cast<size_t>(1 + rng() % 16),
                 static_cast<uint8_t>("0123456789 <>/[]{}()\"\\\n,;=@"[rng() % 28]));
        break;
      case 4:
        c.resize(at + 1);
        break;
      case 5: {
        // A run copied from elsewhere: structures reappear out of place.
        size_t from = rng() % c.size(), n = std::min<size_t>(1 + rng() % 32, c.size() - from);
        std::vector<uint8_t> piece(c.begin() + static_cast<long>(from), c.begin() + static_cast<long>(from + n));
        c.insert(c.begin() + static_cast<long>(at), piece.begin(), piece.end());
        break;
      }
      default: {
        const std::string& t = tokens[rng() % tokens.size()];
        c.insert(c.begin() + static_cast<long>(at), t.begin(), t.end());
      }
    }
    if (c.size() > (1u << 20)) c.resize(1u << 20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  target = std::filesystem::path(argv[0]).filename().string();
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(saveCrash);
  const char* env = std::getenv("PM_FUZZ_SECONDS");
  int seconds = env ? std::atoi(env) : 60;
  env = std::getenv("PM_FUZZ_INPUT_SECONDS");
  unsigned perInput = env && std::atoi(env) > 0 ? static_cast<unsigned>(std::atoi(env)) : 10;
  uint64_t seed = std::random_device{}();
  std::vector<std::string> dirs;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--make-seeds" && i + 1 < argc) {
      std::string d = argv[++i];
      std::filesystem::create_directories(d);
      if (pmFuzzMakeSeeds) pmFuzzMakeSeeds(d);
      dirs.push_back(d);
    } else if (a == "--seconds" && i + 1 < argc) {
      seconds = std::atoi(argv[++i]);
    } else if (a == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else {
      dirs.push_back(a);
    }
  }
  std::vector<std::vector<uint8_t>> corpus;
  for (const std::string& d : dirs) {
    if (!std::filesystem::is_directory(d)) continue;
    for (auto& e : std::filesystem::directory_iterator(d))
      if (e.is_regular_file()) corpus.push_back(readAll(e.path()));
  }
  if (corpus.empty()) corpus.push_back({});
  std::vector<std::string> tokens = pmFuzzTokens ? pmFuzzTokens() : std::vector<std::string>{};
  struct sigaction sa {};
  sa.sa_handler = onAlarm;
  sigaction(SIGALRM, &sa, nullptr);
  auto run = [&] {
    alarm(perInput);
    LLVMFuzzerTestOneInput(current.data(), current.size());
    alarm(0);
  };
  for (auto& c : corpus) {
    current = c;
    run();
  }
  std::printf("%s: seed %llu\n", target.c_str(), static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  std::mt19937_64 rng(seed);
  auto start = std::chrono::steady_clock::now();
  auto end = start + std::chrono::seconds(seconds);
  long runs = 0;
  while (std::chrono::steady_clock::now() < end) {
    current = corpus[rng() % corpus.size()];
    mutate(current, rng, tokens);
    run();
    ++runs;
    // Inputs the mutator made are kept now and then as bases of later ones.
    if (rng() % 64 == 0 && corpus.size() < 4096) corpus.push_back(current);
  }
  std::printf("%s: %ld mutated inputs in %d s, %zu corpus files, no failure\n", target.c_str(), runs, seconds,
              corpus.size());
  std::fflush(stdout);
  return 0;
}

#endif
