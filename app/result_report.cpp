#include "app/result_report.h"

#include "app/site_files.h"
#include "result/nvo_result_ini.h"
#include "runtime/files.h"
#include "runtime/ini_file.h"
#include "runtime/utf8.h"

using runtime::Text;

namespace {

constexpr std::size_t kOutTradeNo = 4;

// `text` as a JSON string: the quote, the backslash and the controls
// escaped, everything else as its UTF-8 bytes.
std::string json_string(const Text& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : runtime::encode_utf8(text.units())) {
    if (c == '"' || c == '\\') {
      out += {'\\', c};
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += {'\\', 'u', '0', '0', kDigits[c >> 4], kDigits[c & 0xf]};
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

ResultReport read_result_file(const runtime::Site& site,
                              const Text& result_file) {
  std::vector<Text> keys;
  for (const char16_t* key : kResultKeys) keys.emplace_back(key);
  ResultReport report;
  report.failure = runtime::read_profile_section(
      site, result_file, kResultSection, keys, report.values, report.warning);
  return report;
}

ResultReport read_result(const Text& public_path) {
  // Found through the site, judged, as a request finds it.
  const runtime::Site site(public_path);
  return read_result_file(site, site_files::kResultFile);
}

std::string result_json(const std::vector<Text>& values) {
  std::string json = "{";
  for (std::size_t i = 0; i < values.size() && i < std::size(kResultKeys);
       ++i) {
    if (i > 0) json += ',';
    json += json_string(Text(kResultKeys[i])) + ':';
    json += values[i].is_null() ? "null" : json_string(values[i]);
  }
  return json + "}";
}

bool is_order(const ResultReport& report, const Text& out_trade_no) {
  return report.failure.ok() && report.values.size() > kOutTradeNo &&
         !report.values[kOutTradeNo].units().empty() &&
         report.values[kOutTradeNo].units() == out_trade_no.units();
}
