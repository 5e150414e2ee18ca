#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "catalogue/item_tree.h"
#include "fs/item_reader.h"
#include "util/text.h"

namespace restorix::test {

std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<std::uint8_t> Pattern(std::size_t sectors, std::size_t first, std::size_t sectorSize) {
  std::vector<std::uint8_t> bytes(sectors * sectorSize);
  for (std::size_t i = 0, at = first * sectorSize; i < bytes.size(); ++i, ++at)
    bytes[i] = static_cast<std::uint8_t>(at * 13 + at / 509);
  return bytes;
}

std::string Render(const ItemNode* node) {
  std::string out = Utf8FromUtf16(node->name) + (node->isLive() ? "+" : "");
  if (!node->isFolder()) return out;
  out += '(';
  for (const ItemNode* c = node->firstChild; c != nullptr; c = c->next) {
    if (c != node->firstChild) out += ' ';
    out += Render(c);
  }
  return out + ')';
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "restorix-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string Quote(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

CommandResult Run(const std::string& commandLine) {
  TempDir scratch;
  const auto errPath = scratch / "stderr";
  CommandResult result;
  FILE* pipe = ::popen((commandLine + " 2>" + Quote(errPath.string())).c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> chunk;
  std::size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
    result.out.append(chunk.data(), n);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath);
  std::stringstream text;
  text << err.rdbuf();
  result.err = text.str();
  return result;
}

std::string RunOk(const std::string& commandLine) {
  const CommandResult result = Run(commandLine);
  EXPECT_EQ(result.exitCode, 0) << commandLine << "\n" << result.err;
  return result.out;
}

bool HaveTool(const std::string& name) {
  return Run("command -v " + Quote(name) + " >/dev/null").exitCode == 0;
}

std::filesystem::path Fixture(const std::string& name) {
  return std::filesystem::path(RESTORIX_FIXTURE_DIR) / name;
}

std::filesystem::path SourceFixture(const std::string& name) {
  return std::filesystem::path(RESTORIX_SOURCE_FIXTURE_DIR) / name;
}

std::filesystem::path RestorixBinary() {
  return std::filesystem::path(RESTORIX_BIN_DIR) / "restorix";
}

void MakeSparseFile(const std::filesystem::path& path, std::uint64_t bytes) {
  { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
  std::filesystem::resize_file(path, bytes);
}

void MakeVolume(const std::filesystem::path& path, std::uint64_t bytes,
                const std::string& command) {
  MakeSparseFile(path, bytes);
  RunOk(command + " " + Quote(path.string()) + " >/dev/null 2>&1");
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::map<std::string, std::string> Fsstat(const std::filesystem::path& image,
                                          std::uint64_t sectorOffset) {
  const std::string out =
      RunOk("fsstat -o " + std::to_string(sectorOffset) + " " + Quote(image.string()));
  std::map<std::string, std::string> fields;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto colon = line.find(": ");
    if (colon == std::string::npos) continue;
    fields.emplace(line.substr(0, colon), line.substr(colon + 2));
  }
  return fields;
}

ScanRun ScanVolume(const Volume& volume, ScanMode mode, const std::vector<SignatureRecord>& types,
                   std::uint32_t assumedSize, const StopToken* stop, TaskEvents* events) {
  ScanRun run;
  const StopToken running;
  TaskEvents none;
  const StopToken& token = stop ? *stop : running;
  try {
    RunScan(volume, mode, types, assumedSize, run.tree, {token, events ? *events : none});
  } catch (const DeviceLostError&) {
    run.deviceLost = true;
  }
  run.completed = !run.deviceLost && token.running();
  return run;
}

std::vector<std::uint8_t> ReadItem(const Volume& volume, const ItemNode& item) {
  ItemReader reader(volume, item);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(reader.length()));
  bytes.resize(reader.read(0, bytes));
  return bytes;
}

}  // namespace restorix::test
