#include "dbsrv/Options.h"

#include "dbsrv/Errors.h"
#include "dbsrv/Text.h"

#include <charconv>

namespace vdbsrv {

namespace {

enum OptionRule : uint8_t { orOnOff, orInteger, orChoice, orText };

struct KnownOption {
  const char* name;         // lower case
  const char* defaultValue;
  OptionRule rule;
  int low = 0, high = 0;    // orInteger range
  const char* choices = ""; // orChoice: "|"-separated, upper case
};

// The options the server knows. Only the first four change what the engine
// does; the others are kept so that clients can read back what they set.
const KnownOption kOptions[] = {
    {"isolation_level", "0", orInteger, 0, 3},
    {"row_counts", "OFF", orOnOff},
    {"blocking", "ON", orOnOff},
    {"blocking_timeout", "5000", orInteger, 0, 2147483647},
    {"ansi_update_constraints", "CURSORS", orChoice, 0, 0, "OFF|CURSORS|STRICT"},
    {"chained", "ON", orOnOff},
    {"quoted_identifier", "ON", orOnOff},
    {"ansinull", "ON", orOnOff},
    {"auto_commit", "OFF", orOnOff},
    {"close_on_endtrans", "ON", orOnOff},
    {"wait_for_commit", "OFF", orOnOff},
    {"allow_nulls_by_default", "ON", orOnOff},
    {"escape_character", "ON", orOnOff},
    {"on_error", "PROMPT", orChoice, 0, 0, "STOP|PROMPT|CONTINUE|EXIT|NOTIFY_CONTINUE|NOTIFY_STOP|NOTIFY_EXIT"},
    {"date_format", "YYYY-MM-DD", orText},
    {"time_format", "HH:NN:SS.SSS", orText},
    {"timestamp_format", "YYYY-MM-DD HH:NN:SS.SSS", orText},
    {"date_order", "YMD", orChoice, 0, 0, "YMD|DMY|MDY"},
    {"precision", "30", orInteger, 1, 127},
    {"scale", "6", orInteger, 0, 127},
    {"max_cursor_count", "50", orInteger, 0, 2147483647},
    {"max_statement_count", "50", orInteger, 0, 2147483647},
    {"login_mode", "Standard", orText},
    {"default_timestamp_increment", "1", orInteger, 1, 1000000},
    {"truncate_timestamp_values", "OFF", orOnOff},
    {"string_rtruncation", "OFF", orOnOff},
    {"conversion_error", "ON", orOnOff},
    {"divide_by_zero_error", "ON", orOnOff},
};

const KnownOption* FindKnown(std::string_view lowerName) {
  for (const auto& o : kOptions)
    if (lowerName == o.name) return &o;
  return nullptr;
}

std::string Normalise(const KnownOption& o, std::string_view value) {
  std::string_view v = Trim(value);
  switch (o.rule) {
    case orOnOff: {
      std::string l = LowerCase(v);
      if (l == "on" || l == "yes" || l == "true" || l == "1") return "ON";
      if (l == "off" || l == "no" || l == "false" || l == "0") return "OFF";
      break;
    }
    case orInteger: {
      long long n = 0;
      auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec == std::errc() && p == v.data() + v.size() && !v.empty() && n >= o.low && n <= o.high)
        return std::to_string(n);
      break;
    }
    case orChoice: {
      std::string u(v);
      for (char& c : u)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      std::string_view choices = o.choices;
      size_t pos = 0;
      while (pos <= choices.size()) {
        size_t bar = choices.find('|', pos);
        if (bar == std::string_view::npos) bar = choices.size();
        if (choices.substr(pos, bar - pos) == u) return u;
        pos = bar + 1;
      }
      break;
    }
    case orText:
      return std::string(value);
  }
  throw ServerError(errInvalidOptionSetting, o.name);
}

}  // namespace

bool PublicOptions::Get(std::string_view name, std::string& value) const {
  std::string key = LowerCase(name);
  {
    std::lock_guard lock(mu_);
    auto it = values_.find(key);
    if (it != values_.end()) {
      value = it->second;
      return true;
    }
  }
  if (const KnownOption* o = FindKnown(key)) {
    value = o->defaultValue;
    return true;
  }
  return false;
}

void PublicOptions::Set(std::string_view name, std::string value) {
  std::lock_guard lock(mu_);
  values_[LowerCase(name)] = std::move(value);
}

OptionStore::OptionStore(std::shared_ptr<PublicOptions> publicOptions)
    : public_(std::move(publicOptions)) {
  for (const char* name : {"isolation_level", "row_counts", "blocking", "blocking_timeout"})
    Refresh(name, Get(name));
}

std::string OptionStore::Get(std::string_view name) const {
  std::string key = LowerCase(Trim(name));
  auto it = own_.find(key);
  if (it != own_.end()) return it->second;
  std::string value;
  if (!public_->Get(key, value)) throw ServerError(errInvalidOption, Trim(name).substr(0, 128));
  return value;
}

void OptionStore::Set(std::string_view name, std::string_view value, bool isPublic) {
  std::string key = LowerCase(Trim(name));
  if (key.empty()) throw ServerError(errInvalidOption, name.substr(0, 128));
  const KnownOption* known = FindKnown(key);
  std::string stored;
  if (known) {
    stored = Normalise(*known, value);
  } else {
    std::string existing;
    if (!isPublic && !public_->Get(key, existing))
      throw ServerError(errInvalidOption, Trim(name).substr(0, 128));
    stored = std::string(value);
  }
  if (isPublic) {
    public_->Set(key, stored);
    if (own_.count(key) == 0) Refresh(key, stored);
  } else {
    own_[key] = stored;
    Refresh(key, stored);
  }
}

void OptionStore::Refresh(const std::string& key, const std::string& value) {
  if (key == "isolation_level") isolationLevel_ = std::stoi(value);
  else if (key == "row_counts") rowCounts_ = value == "ON";
  else if (key == "blocking") blocking_ = value == "ON";
  else if (key == "blocking_timeout") blockingTimeout_ = std::stoi(value);
}

}  // namespace vdbsrv
