// The checker's memory on a large table: a table with a memo field and a compound
// index of two tags, whose memo file also holds one huge text and is grown (sparse)
// to 128 GiB, checked in a process of its own; its peak resident size and time.
//   bench_check_memory [records=3000000] [dir=/tmp]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "platform/table/cdx.h"
#include "platform/table/index_build.h"
#include "platform/table/index_check.h"
#include "platform/table/index_dbf.h"

using namespace zuv::table;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kBlock = 64;
constexpr uint64_t kMemoFileSize = uint64_t(128) << 30;
constexpr uint32_t kHugeText = 60u << 20;  // within what the engine reads

void put_be32(unsigned char* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// LPP C8, NAZWA C30, DATA D, UWAGI M: every record with a short memo of its own, the
// last one with a 60 MB memo at the end of a 128 GiB memo file.
void write_table(const std::string& dbf_path, const std::string& fpt_path, uint32_t n) {
  struct F {
    const char* name;
    char type;
    int len;
  } fields[] = {{"LPP", 'C', 8}, {"NAZWA", 'C', 30}, {"DATA", 'D', 8}, {"UWAGI", 'M', 10}};
  const int nf = 4;
  int reclen = 1;
  for (auto& f : fields) reclen += f.len;
  int hdr = 32 + 32 * nf + 1;
  std::FILE* out = std::fopen(dbf_path.c_str(), "wb");
  std::FILE* memo = std::fopen(fpt_path.c_str(), "wb");
  unsigned char h[32] = {0xF5, 126, 12, 7};
  std::memcpy(h + 4, &n, 4);
  h[8] = uint8_t(hdr), h[9] = uint8_t(hdr >> 8), h[10] = uint8_t(reclen), h[11] = uint8_t(reclen >> 8);
  std::fwrite(h, 1, 32, out);
  for (auto& f : fields) {
    unsigned char d[32] = {};
    std::strncpy(reinterpret_cast<char*>(d), f.name, 10);
    d[11] = uint8_t(f.type);
    d[16] = uint8_t(f.len);
    std::fwrite(d, 1, 32, out);
  }
  std::fputc(0x0D, out);
  unsigned char mh[512] = {};
  std::fwrite(mh, 1, 512, memo);  // the header goes in at the end, with the next free block
  uint32_t block = 512 / kBlock;
  std::mt19937 rng(1);
  const char* syl[] = {"ka", "\xA5", "zo", "Pi", "\x98la", "rem", "To", "\x88u", "wa ", "Ma"};
  std::string rec;
  unsigned char mb[kBlock];
  for (uint32_t i = 1; i <= n; ++i) {
    char buf[64];
    rec = " ";
    std::snprintf(buf, sizeof buf, "%08u", unsigned(rng() % (n * 2)));
    rec += buf;
    std::string name;
    while (name.size() < 24) name += syl[rng() % 10];
    name.resize(30, ' ');
    rec += name;
    unsigned y = 2020 + rng() % 7, m = 1 + rng() % 12, d = 1 + rng() % 28;
    std::snprintf(buf, sizeof buf, "%04u%02u%02u", y, m, d);
    rec += buf;
    uint32_t at = block;
    if (i < n) {
      std::memset(mb, 0, sizeof mb);
      uint32_t len = 20 + rng() % 36;
      put_be32(mb, 1);
      put_be32(mb + 4, len);
      std::memset(mb + 8, 'a' + int(i % 26), len);
      std::fwrite(mb, 1, kBlock, memo);
      ++block;
    } else {
      // The last memo starts 64 MB before the end of the 128 GiB file.
      at = uint32_t((kMemoFileSize - (64u << 20)) / kBlock);
      put_be32(mb, 1);
      put_be32(mb + 4, kHugeText);
      std::fseek(memo, long(uint64_t(at) * kBlock), SEEK_SET);
      std::fwrite(mb, 1, 8, memo);
      block = uint32_t(kMemoFileSize / kBlock);
    }
    std::snprintf(buf, sizeof buf, "%10u", unsigned(at));
    rec += buf;
    std::fwrite(rec.data(), 1, rec.size(), out);
  }
  std::fputc(0x1A, out);
  std::fclose(out);
  put_be32(mh, block);
  mh[6] = uint8_t(kBlock >> 8), mh[7] = uint8_t(kBlock);
  std::fseek(memo, 0, SEEK_SET);
  std::fwrite(mh, 1, 8, memo);
  std::fclose(memo);
  std::filesystem::resize_file(fpt_path, kMemoFileSize);
}

// Runs work in a child process; answers its peak resident size in MB and its time.
long in_child(const std::function<int()>& work, double& seconds, int& rc) {
  std::fflush(nullptr);
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) std::_Exit(work());
  int status = 0;
  rusage u{};
  wait4(pid, &status, 0, &u);
  seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return u.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t n = argc > 1 ? uint32_t(std::stoul(argv[1])) : 3000000;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  std::string base = dir + "/zuv_bench_check";
  std::string dbf_path = base + ".dbf", fpt_path = base + ".fpt", cdx_path = base + ".cdx";
  double s = 0;
  int rc = 0;
  long rss = in_child(
      [&] {
        write_table(dbf_path, fpt_path, n);
        DbfRecords dbf;
        dbf.open(dbf_path);
        remove_file_quietly(cdx_path);
        auto cdx = cdx::CdxFile::create(cdx_path);
        BuildOptions opt;
        opt.temp_dir = dir;
        build_cdx_tag(*cdx, dbf, "LPP", "LPP", opt);
        build_cdx_tag(*cdx, dbf, "NAZDAT", "NAZWA+DTOS(DATA)", opt);
        return 0;
      },
      s, rc);
  std::printf("table of %u records, memo file of %llu GiB (sparse), two tags: written in %.1f s (peak %ld MB)\n", n,
              static_cast<unsigned long long>(kMemoFileSize >> 30), s, rss);
  if (rc != 0) return 1;
  std::string faults;
  rss = in_child(
      [&] {
        CheckReport report;
        check_table(dbf_path, report);
        std::fputs(report.text().c_str(), stdout);
        return report.clean() ? 0 : 3;
      },
      s, rc);
  std::printf("checker: %s in %.1f s, peak resident size %ld MB\n", rc == 0 ? "clean" : "FAULTS (above)", s, rss);
  remove_file_quietly(cdx_path);
  remove_file_quietly(fpt_path);
  remove_file_quietly(dbf_path);
  return rc == 0 ? 0 : 1;
}
