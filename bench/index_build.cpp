// Index build, seek and walk on a generated table.
//   bench_index_build [records=1000000] [budget_mb=64] [dir=/tmp]
// For each key expression: a full scan that evaluates the key (the yardstick), the
// tag build (sort in the memory budget + tree), 100,000 random seeks, a full walk.
// ZUV_BENCH_DELETED=n marks every n-th record deleted; ZUV_BENCH_KEEP=path keeps the
// index file there (to compare the builds of two versions byte for byte).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "platform/table/cdx.h"
#include "platform/table/index_build.h"
#include "platform/table/index_check.h"
#include "platform/table/index_dbf.h"

using namespace zuv::table;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

long peak_rss_mb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

// A table like the suite's own: LPP C8, LPP_P C8, DATA D, RMC C6, NAZWA C30.
void write_table(const std::string& path, uint32_t n, uint32_t deleted_every) {
  struct F {
    const char* name;
    char type;
    int len;
  } fields[] = {{"LPP", 'C', 8}, {"LPP_P", 'C', 8}, {"DATA", 'D', 8}, {"RMC", 'C', 6}, {"NAZWA", 'C', 30}};
  const int nf = 5;
  int reclen = 1;
  for (auto& f : fields) reclen += f.len;
  int hdr = 32 + 32 * nf + 1;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  unsigned char h[32] = {0x03, 126, 12, 7};
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
  std::mt19937 rng(1);
  const char* syl[] = {"ka", "\xA5", "zo", "Pi", "\x98la", "rem", "To", "\x88u", "wa ", "Ma"};
  std::string rec;
  for (uint32_t i = 1; i <= n; ++i) {
    char buf[64];
    rec = deleted_every && i % deleted_every == 0 ? "*" : " ";
    std::snprintf(buf, sizeof buf, "%08u", unsigned(rng() % (n * 2)));
    rec += buf;
    std::snprintf(buf, sizeof buf, "%08u", unsigned(rng() % 5000));
    rec += buf;
    unsigned y = 2020 + rng() % 7, m = 1 + rng() % 12, d = 1 + rng() % 28;
    std::snprintf(buf, sizeof buf, "%04u%02u%02u", y, m, d);
    rec += buf;
    std::snprintf(buf, sizeof buf, "%04u%02u", y, m);
    rec += buf;
    std::string name;
    while (name.size() < 24) name += syl[rng() % 10];
    name.resize(30, ' ');
    rec += name;
    std::fwrite(rec.data(), 1, rec.size(), out);
  }
  std::fputc(0x1A, out);
  std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t n = argc > 1 ? uint32_t(std::stoul(argv[1])) : 1000000;
  size_t budget_mb = argc > 2 ? std::stoul(argv[2]) : 64;
  std::string dir = argc > 3 ? argv[3] : "/tmp";
  std::string dbf_path = dir + "/zuv_bench_index.dbf", cdx_path = dir + "/zuv_bench_index.cdx";
  auto t0 = Clock::now();
  const char* deleted_env = std::getenv("ZUV_BENCH_DELETED");
  const char* keep = std::getenv("ZUV_BENCH_KEEP");
  write_table(dbf_path, n, deleted_env ? uint32_t(std::stoul(deleted_env)) : 0);
  std::printf("table: %u records written in %.2f s\n", n, seconds_since(t0));
  DbfRecords dbf;
  dbf.open(dbf_path);
  remove_file_quietly(cdx_path);
  auto cdx = cdx::CdxFile::create(cdx_path);
  BuildOptions opt;
  opt.memory_budget = budget_mb << 20;
  opt.temp_dir = dir;
  std::printf("memory budget for the key sort: %zu MB\n", budget_mb);
  std::printf("%-20s %9s %9s %6s %12s %9s %9s\n", "key", "scan s", "build s", "ratio", "seeks/s", "walk s", "rss MB");
  for (auto [tag, expr] : {std::pair{"lpp", "lpp"}, {"lpd", "lpp_p+dtos(data)"}, {"rmn", "rmc+nazwa"}}) {
    KeyExpression e = KeyExpression::compile(expr, dbf);
    auto ts = Clock::now();
    size_t sink = 0;
    for (uint32_t r = 1; r <= n; ++r) {
      dbf.read(r);
      sink += uint8_t(e.key(dbf.view())[0]);
    }
    double scan = seconds_since(ts);
    BuildTimes times;
    opt.times = &times;
    auto tb = Clock::now();
    cdx::Tag& t = build_cdx_tag(*cdx, dbf, tag, expr, opt);
    double build = seconds_since(tb);
    std::printf("  %s: keys %.3f s, sort %.3f s (%zu runs), tree %.3f s\n", tag, times.keys, times.sort, times.runs,
                times.tree);
    std::mt19937 rng(2);
    auto tk = Clock::now();
    const int seeks = 100000;
    cdx::Cursor c;
    size_t found = 0;
    for (int i = 0; i < seeks; ++i) {
      dbf.read(1 + rng() % n);
      found += t.seek(e.key(dbf.view()), 0, c);
    }
    double seek_s = seconds_since(tk);
    auto tw = Clock::now();
    size_t walked = 0;
    for (bool ok = t.first(c); ok; ok = t.next(c)) ++walked;
    double walk = seconds_since(tw);
    std::printf("%-20s %9.2f %9.3f %6.2f %12.0f %9.2f %9ld%s\n", expr, scan, build, build / scan, seeks / seek_s, walk,
                peak_rss_mb(), (found == size_t(seeks) && walked == n) ? "" : "  (MISMATCH)");
    (void)sink;
  }
  cdx.reset();
  auto tc = Clock::now();
  CheckReport report;
  check_cdx(cdx_path, dbf_path, report);
  std::printf("checker: %s in %.2f s\n", report.clean() ? "clean" : report.text().c_str(), seconds_since(tc));
  if (keep && *keep) std::rename(cdx_path.c_str(), keep);
  remove_file_quietly(cdx_path);
  remove_file_quietly(dbf_path);
  return report.clean() ? 0 : 1;
}
