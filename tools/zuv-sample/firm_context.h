// What the writers of one firm's tables share: the plan, the directory, the record
// count and a generator per table (forked by the table's name, so each table's data
// depend only on the seed, the firm and the table).
#pragma once

#include <cstdio>
#include <string>

#include "dates.h"
#include "layouts.h"
#include "sample.h"
#include "writer.h"

namespace zuv::sample {

struct FirmContext {
  const Options& options;
  const FirmPlan& plan;
  std::string dir;
  Prng firm_prng;
  long records;

  Prng prng_for(const char* table) const { return firm_prng.fork(Prng::salt_of(table)); }
  Structure layout(const char* table) const {
    const FirmTable* t = find_firm_table(table);
    return t->layout(era_for(*t, plan.version));
  }
  std::string path(const char* table) const { return join(dir, std::string(table) + ".dbf"); }
};

// Zero-padded decimal digits of n, width wide (n is never negative here).
inline void put_digits(char* out, long n, int width) {
  for (int i = width - 1; i >= 0; --i, n /= 10) out[i] = static_cast<char>('0' + n % 10);
}
// "Z000000012": a record key of prefix and number.
inline std::string key(char prefix, long n) {
  std::string out(10, prefix);
  put_digits(out.data() + 1, n, 9);
  return out;
}
// Document numbers of "ks_dok" are plain ten-digit texts.
inline std::string document_key(long n) {
  std::string out(10, '0');
  put_digits(out.data(), n, 10);
  return out;
}
inline std::string month_text(int year, int month) {
  char out[32];
  std::snprintf(out, sizeof out, "%04d%02d", year, month);
  return out;
}
inline std::string ksef_number(Prng& prng, const std::string& nip, const std::string& date) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string n = nip.substr(0, 10) + "-" + date + "-";
  for (int i = 0; i < 12; ++i) n += kHex[prng.range(0, 15)];
  n += "-";
  for (int i = 0; i < 2; ++i) n += kHex[prng.range(0, 15)];
  return n;
}
// The firm's own tax number: ten digits derived from its number.
inline std::string firm_nip(int number) {
  char out[32];
  std::snprintf(out, sizeof out, "526%07d", number);
  return out;
}
// Amounts are computed in whole hundredths (integers), so that the same seed gives the
// same figures whatever floating-point unit the program runs on.
inline long long cents_of(double amount) { return static_cast<long long>(amount * 100 + (amount < 0 ? -0.5 : 0.5)); }
inline double money(long long cents) { return static_cast<double>(cents) / 100.0; }
// rate percent of an amount in hundredths, rounded half up (amounts are never negative).
inline long long percent_of(long long cents, long long rate) { return (cents * rate + 50) / 100; }

// The last closed booking date of every sample firm, and the dates around it.
inline long last_closed_day() { return days_from_civil(2025, 11, 30); }

void write_purchase_buffers(FirmContext& firm);
void write_sales_buffers(FirmContext& firm);
void write_books(FirmContext& firm);

}  // namespace zuv::sample
